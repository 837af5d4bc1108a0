#include "plugstore/epw.h"

#include <array>
#include <charconv>
#include <cmath>
#include <fstream>
#include <numbers>
#include <string>
#include <string_view>

#include "plugstore/names.h"

namespace plugstore::runner {

namespace {

constexpr double kDegree = std::numbers::pi / 180.0;
constexpr int kHeaderLines = 8;
constexpr std::array<int, 12> kMonthDays = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
// 1-based fields of a data row.
constexpr int kYear = 1, kMonth = 2, kDay = 3, kHour = 4, kDryBulb = 7, kGlobal = 14, kDirect = 15,
              kDiffuse = 16;

std::vector<std::string_view> fields(std::string_view line) {
  std::vector<std::string_view> f;
  std::size_t start = 0;
  while (true) {
    const std::size_t comma = line.find(',', start);
    std::string_view v = line.substr(start, comma - start);
    while (!v.empty() && (v.front() == ' ' || v.front() == '\t')) v.remove_prefix(1);
    while (!v.empty() && (v.back() == ' ' || v.back() == '\t' || v.back() == '\r')) {
      v.remove_suffix(1);
    }
    f.push_back(v);
    if (comma == std::string_view::npos) return f;
    start = comma + 1;
  }
}

bool parse(std::string_view text, double& v) {
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  const auto r = std::from_chars(text.data(), text.data() + text.size(), v);
  return !text.empty() && r.ec == std::errc() && r.ptr == text.data() + text.size() &&
         std::isfinite(v);
}

}  // namespace

EpwData readEpw(const std::filesystem::path& path, const Place& from) {
  const std::string name = path.string();
  if (reading::otherThanAFile(path)) {
    throw ScenarioError(from, "the weather file " + name + " is not a regular file");
  }
  std::ifstream in(path);
  if (!in) throw ScenarioError(from, "cannot open the weather file " + name);
  EpwData data;
  std::string line;
  int number = 0;
  double offset = 0.0;  // h: a file that runs on into the next year
  while (std::getline(in, line)) {
    ++number;
    const std::vector<std::string_view> f = fields(line);
    auto fault = [&](const std::string& why) { throw ScenarioError({name, number, 1}, why); };
    auto value = [&](int field, const char* what) {
      double v = 0.0;
      if (!parse(f[static_cast<std::size_t>(field - 1)], v)) {
        fault(std::string(what) + " (field " + std::to_string(field) + ") is not a number: '" +
              std::string(f[static_cast<std::size_t>(field - 1)]) + "'");
      }
      return v;
    };
    if (number == 1) {
      if (f.size() < 10 || f[0] != "LOCATION") {
        fault(
            "an EPW file begins with its LOCATION line (city, ..., latitude, longitude, time "
            "zone, elevation)");
      }
      data.location = {value(7, "the latitude"), value(8, "the longitude"),
                       value(9, "the time zone")};
      if (std::abs(data.location.latitude) > 90.0 || std::abs(data.location.longitude) > 180.0 ||
          std::abs(data.location.timeZone) > 14.0) {
        fault("latitude, longitude or time zone out of range");
      }
      continue;
    }
    if (number <= kHeaderLines) continue;
    if (line.find_first_not_of(" \t\r") == std::string::npos) continue;
    if (f.size() < static_cast<std::size_t>(kDiffuse)) {
      fault("a row has at least " + std::to_string(kDiffuse) + " fields, this one " +
            std::to_string(f.size()));
    }
    value(kYear, "the year");
    const double month = value(kMonth, "the month");
    const double day = value(kDay, "the day");
    const double hour = value(kHour, "the hour");
    if (month < 1 || month > 12 || month != std::floor(month)) fault("the month must be 1 ... 12");
    const int m = static_cast<int>(month);
    if (day < 1 || day != std::floor(day) || day > kMonthDays[static_cast<std::size_t>(m - 1)]) {
      fault("day " + formatNumber(day) + " of month " + std::to_string(m) +
            " is not a day of the run's year of 365 days");
    }
    if (hour < 1 || hour > 24 || hour != std::floor(hour)) fault("the hour must be 1 ... 24");
    int before = 0;
    for (int i = 0; i + 1 < m; ++i) before += kMonthDays[static_cast<std::size_t>(i)];
    double start = (before + day - 1.0) * 24.0 + hour - 1.0 + offset;
    if (!data.hours.empty()) {
      const double expected = data.hours.back().start + 1.0;
      if (start == expected - 8760.0) {
        offset += 8760.0;
        start += 8760.0;
      }
      if (start != expected) {
        fault("the hour does not follow the row before (line " +
              std::to_string(data.hours.back().line) + "): EPW rows are hourly and in order");
      }
    }
    EpwHour h{start,
              value(kDryBulb, "the dry-bulb temperature"),
              value(kGlobal, "the global horizontal irradiance"),
              value(kDirect, "the direct normal irradiance"),
              value(kDiffuse, "the diffuse horizontal irradiance"),
              number};
    if (h.ambient >= 99.9) fault("the dry-bulb temperature is missing (99.9)");
    for (const auto& [v, field] :
         {std::pair{h.global, kGlobal}, std::pair{h.direct, kDirect}, {h.diffuse, kDiffuse}}) {
      if (v >= 9999.0) {
        fault("field " + std::to_string(field) +
              " is missing (9999); missing values are not "
              "filled in");
      }
      if (v < 0.0) fault("field " + std::to_string(field) + " is negative");
    }
    data.hours.push_back(h);
  }
  if (number < kHeaderLines) {
    throw ScenarioError({name, number, 0}, "an EPW file has 8 header lines before its rows");
  }
  if (data.hours.empty()) throw ScenarioError({name, number, 0}, "the weather file has no rows");
  return data;
}

PlaneIrradiance transpose(const EpwLocation& at, const Plane& plane, double hourOfYear,
                          double global, double direct, double diffuse) {
  const double dayOfYear = std::floor(std::fmod(hourOfYear, 8760.0) / 24.0) + 1.0;
  const double clock = std::fmod(hourOfYear, 24.0);
  const double b = 2.0 * std::numbers::pi * (dayOfYear - 1.0) / 365.0;
  // The equation of time (minutes) and the declination.
  const double equation = 229.2 * (0.000075 + 0.001868 * std::cos(b) - 0.032077 * std::sin(b) -
                                   0.014615 * std::cos(2 * b) - 0.04089 * std::sin(2 * b));
  const double declination =
      23.45 * kDegree * std::sin(2.0 * std::numbers::pi * (284.0 + dayOfYear) / 365.0);
  // Solar time: the clock moved by the longitude's distance from the time
  // zone's meridian (4 minutes a degree) and by the equation of time.
  const double solar = clock + (at.longitude - 15.0 * at.timeZone) / 15.0 + equation / 60.0;
  const double omega = 15.0 * (solar - 12.0) * kDegree;
  const double phi = at.latitude * kDegree;
  const double beta = plane.tilt * kDegree;
  const double gamma = plane.azimuth * kDegree;
  const double sd = std::sin(declination), cd = std::cos(declination);
  const double sp = std::sin(phi), cp = std::cos(phi);
  const double sb = std::sin(beta), cb = std::cos(beta);
  const double zenith = cp * cd * std::cos(omega) + sp * sd;
  const double cosIncidence = sd * sp * cb - sd * cp * sb * std::cos(gamma) +
                              cd * cp * cb * std::cos(omega) +
                              cd * sp * sb * std::cos(gamma) * std::cos(omega) +
                              cd * sb * std::sin(gamma) * std::sin(omega);
  PlaneIrradiance p;
  const bool seen = zenith > 0.0 && cosIncidence > 0.0;
  p.beam = seen ? direct * cosIncidence : 0.0;
  p.incidence = seen ? std::acos(std::min(cosIncidence, 1.0)) / kDegree : 90.0;
  p.total = p.beam + diffuse * (1.0 + cb) / 2.0 + plane.albedo * global * (1.0 - cb) / 2.0;
  return p;
}

reading::CsvTable weatherSeries(const EpwData& data, const Plane& plane) {
  reading::CsvTable t;
  t.header = {"time", "ambient", "irradiance", "beam", "incidence"};
  t.headerColumns = {1, 2, 3, 4, 5};
  t.columns.resize(t.header.size());
  for (const EpwHour& h : data.hours) {
    const PlaneIrradiance p =
        transpose(data.location, plane, h.start + 0.5, h.global, h.direct, h.diffuse);
    t.columns[0].push_back(h.start);
    t.columns[1].push_back(h.ambient);
    t.columns[2].push_back(p.total);
    t.columns[3].push_back(p.beam);
    t.columns[4].push_back(p.incidence);
    t.lines.push_back(h.line);
  }
  return t;
}

}  // namespace plugstore::runner
