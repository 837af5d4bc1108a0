#include "plugstore/initial_profile.h"

#include <cmath>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>

#include "plugstore/atomic_file.h"
#include "plugstore/names.h"

namespace plugstore::runner {

namespace {

double parameter(const std::array<double, kNumParameters>& par, const char* name) {
  return par[static_cast<std::size_t>(parameterNumber(name) - 1)];
}

// The integral of the profile over [a, b] (relative heights), piece by piece:
// the held end values below and above the points, straight lines between.
double profileArea(const std::vector<ProfilePoint>& p, double a, double b) {
  double sum = 0.0;
  auto piece = [&](double lo, double hi, auto&& value) {
    const double x = std::max(a, lo);
    const double y = std::min(b, hi);
    if (y > x) sum += value(0.5 * (x + y)) * (y - x);
  };
  piece(-HUGE_VAL, p.front().height, [&](double) { return p.front().temperature; });
  for (std::size_t i = 0; i + 1 < p.size(); ++i) {
    const ProfilePoint& l = p[i];
    const ProfilePoint& r = p[i + 1];
    if (r.height <= l.height) continue;  // a step has no width
    piece(l.height, r.height, [&](double z) {
      return l.temperature +
             (r.temperature - l.temperature) * (z - l.height) / (r.height - l.height);
    });
  }
  piece(p.back().height, HUGE_VAL, [&](double) { return p.back().temperature; });
  return sum;
}

// Height units of a relative height, to the nearest unit: a step at 0.3
// lies at 300000, not at the 299999 of a truncated 0.3 x 1000000.
int32_t units(double relative) { return static_cast<int32_t>(std::lround(relative * kZTop)); }

}  // namespace

std::string profileProblem(const std::vector<ProfilePoint>& points, std::size_t* point) {
  if (point != nullptr) *point = static_cast<std::size_t>(-1);
  if (points.empty()) return "a profile needs at least one point [height, temperature]";
  for (std::size_t i = 0; i < points.size(); ++i) {
    if (point != nullptr) *point = i;
    const ProfilePoint& p = points[i];
    const std::string name = "point " + std::to_string(i + 1);
    if (!(p.height >= 0.0 && p.height <= 1.0)) {
      return name + ": the height must lie in 0 ... 1 (relative), not " + formatNumber(p.height);
    }
    if (!(p.temperature >= 0.0 && p.temperature <= 100.0)) {
      return name + ": the temperature must lie in 0 ... 100 degC (liquid water), not " +
             formatNumber(p.temperature);
    }
    if (i > 0 && p.height < points[i - 1].height) return name + ": heights must not decrease";
    if (i > 1 && p.height == points[i - 2].height) {
      return name + ": at most two points at one height (a step)";
    }
  }
  return "";
}

double profileTemperature(const std::vector<ProfilePoint>& points, double z) {
  if (z <= points.front().height) return points.front().temperature;
  for (std::size_t i = 0; i + 1 < points.size(); ++i) {
    const ProfilePoint& l = points[i];
    const ProfilePoint& r = points[i + 1];
    if (z <= r.height && r.height > l.height) {
      return l.temperature +
             (r.temperature - l.temperature) * (z - l.height) / (r.height - l.height);
    }
  }
  return points.back().temperature;
}

std::vector<ProfilePlug> profilePlugs(const std::vector<ProfilePoint>& points,
                                      const std::array<double, kNumParameters>& par) {
  const double capTot = parameter(par, "store.volume") * parameter(par, "store.density") *
                        parameter(par, "store.specificHeat") * 1000.0;  // J/K
  const int64_t minPlugs =
      std::max<int64_t>(static_cast<int64_t>(parameter(par, "store.minPlugs")), 1);

  // Layers: from the bottom to each step, and on to the top.
  std::vector<int32_t> edges{0};
  for (std::size_t i = 1; i < points.size(); ++i) {
    const int32_t z = units(points[i].height);
    if (points[i].height == points[i - 1].height && z > edges.back() && z < kZTop) {
      edges.push_back(z);
    }
  }
  edges.push_back(kZTop);

  std::vector<ProfilePlug> plugs;
  for (std::size_t k = 0; k + 1 < edges.size(); ++k) {
    const int32_t a = edges[k];
    // As many plugs as the uniform store would have over the layer's height,
    // rounded up: over the whole height exactly the uniform store's plugs.
    const int32_t span = edges[k + 1] - a;
    const auto count = static_cast<int32_t>((span * minPlugs + kZTop - 1) / kZTop);
    for (int32_t j = 0; j < count; ++j) {
      ProfilePlug p;
      p.index = static_cast<int>(plugs.size()) + 1;
      p.zDown = a + static_cast<int32_t>(static_cast<int64_t>(j) * span / count);
      p.zUp = a + static_cast<int32_t>(static_cast<int64_t>(j + 1) * span / count);
      const double lo = static_cast<double>(p.zDown) / kZTop;
      const double hi = static_cast<double>(p.zUp) / kZTop;
      p.temperature = profileArea(points, lo, hi) / (hi - lo);
      // The layer's capacitance in equal shares, as the uniform store has it:
      // the component sets the heights anew from the capacitances.
      p.cap = capTot * span / kZTop / count / 1000.0;
      plugs.push_back(p);
    }
  }
  return plugs;
}

std::string startProfileText(const std::vector<ProfilePlug>& plugs) {
  std::string text;
  char line[200];
  for (std::size_t i = 0; i < plugs.size(); ++i) {
    const ProfilePlug& p = plugs[i];
    const int up = i + 1 < plugs.size() ? plugs[i + 1].index : kTopSentinel;
    const int down = i > 0 ? plugs[i - 1].index : 0;
    // Heights half a unit above the boundary: the reader truncates value x
    // 1000000, and 0.3 x 1000000 is 299999.99999999994 in binary.
    std::snprintf(line, sizeof line, "%d %.17g %.17g %.17g %.7f %.7f %d %d\n", p.index, p.cap,
                  p.temperature, p.temperature, (p.zDown + 0.5) / kZTop, (p.zUp + 0.5) / kZTop,
                  down, up);
    text += line;
  }
  return text;
}

std::filesystem::path writeStartProfile(const std::filesystem::path& folder,
                                        const std::string& text) {
  const std::filesystem::path file = folder / "startProfile.ini";
  {
    std::ifstream in(file, std::ios::binary);
    if (in) {
      const std::string old((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
      if (old == text) return file;
    }
  }
  writeFileAtomically(file, text);
  return file;
}

}  // namespace plugstore::runner
