// [simulation]: the time grid, the iterative calls and how linked units
// settle within a step, the unit number and label 1.
#include <algorithm>
#include <cmath>

#include "plugstore/checks.h"
#include "plugstore/names.h"
#include "plugstore/scenario_reader.h"

namespace plugstore::runner::reading {

void Parser::simulation(const toml::table& t, Scenario& s) {
  onlyKeys(t, "[simulation]", kSimulationKeys);
  bool grid = true;  // start, stop and step read well: the grid can be checked
  auto key = [&](const char* name, auto&& use) {
    const toml::node* n = t.get(name);
    if (n == nullptr) return;
    const std::size_t before = found_.size();
    attempt(n->source(), [&] { use(*n); });
    if (found_.size() != before) grid = false;
  };
  key("start", [&](const toml::node& n) { s.start = number(n, "start"); });
  key("stop", [&](const toml::node& n) { s.stop = number(n, "stop"); });
  key("step", [&](const toml::node& n) {
    s.step = number(n, "step");
    if (const std::string why = stepProblem(s.step); !why.empty()) fail(n.source(), why);
  });
  if (grid) {
    attempt(t.source(), [&] {
      if (!std::isfinite(s.start) || !std::isfinite(s.stop) || !(s.stop > s.start)) {
        fail(t.source(), "the simulation must stop after it starts (start " +
                             formatNumber(s.start) + " h, stop " + formatNumber(s.stop) + " h)");
      }
      const double steps = (s.stop - s.start) / s.step;
      // Steps are counted in an int: a billion is 1900 years at minute steps.
      if (steps > 1e9) {
        fail(t.source(), "stop - start (" + formatNumber(s.stop - s.start) + " h) is " +
                             formatNumber(steps) + " steps of " + formatNumber(s.step) +
                             " h, more than the 1e9 a run can take");
      }
      if (std::abs(steps - std::round(steps)) > 1e-6 * std::max(1.0, steps)) {
        fail(t.source(), "stop - start (" + formatNumber(s.stop - s.start) +
                             " h) is not a whole number of steps of " + formatNumber(s.step) +
                             " h");
      }
    });
  }
  key("iterations", [&](const toml::node& n) {
    const long it = integer(n, "iterations");
    const std::string why = iterationsProblem(static_cast<double>(it));
    if (!why.empty()) fail(n.source(), why);
    s.iterations = static_cast<int>(it);
  });
  key("tolerance", [&](const toml::node& n) {
    s.tolerance = number(n, "tolerance");
    if (!(s.tolerance >= 1e-12 && s.tolerance <= 0.1)) {
      fail(n.source(), "tolerance must be 1e-12 ... 0.1 (relative)");
    }
  });
  key("maxIterations", [&](const toml::node& n) {
    const long it = integer(n, "maxIterations");
    if (it < 1 || it > 1000) fail(n.source(), "maxIterations must be 1 ... 1000");
    s.maxIterations = static_cast<int>(it);
  });
  key("links", [&](const toml::node& n) {
    const std::string mode = string(n, "links");
    if (mode != "converged" && mode != "lagged") {
      fail(n.source(), "links must be \"converged\" or \"lagged\", not \"" + mode + "\"");
    }
    s.laggedLinks = mode == "lagged";
  });
  key("unit", [&](const toml::node& n) { unitNumber(n, s); });
  key("label1", [&](const toml::node& n) { labelFolder(n, s); });
}

void Parser::unitNumber(const toml::node& n, Scenario& s) const {
  const long unit = integer(n, "unit");
  if (const std::string why = unitProblem(static_cast<double>(unit)); !why.empty()) {
    fail(n.source(), why);
  }
  s.unit = static_cast<int>(unit);
}

void Parser::labelFolder(const toml::node& n, Scenario& s) const {
  // From the command line a relative folder is taken from the current one.
  const std::string text = pathText(n, "label1");
  const bool typed = place(n.source()).file != file_;
  const fs::path folder = typed ? fs::absolute(text).lexically_normal() : resolve(text);
  std::error_code ec;
  if (!fs::is_directory(folder, ec)) {
    fail(n.source(), "label1: the folder " + folder.string() + " does not exist");
  }
  s.label1 = folder.string();
  while (s.label1.size() > 1 && s.label1.back() == '/') s.label1.pop_back();
}

}  // namespace plugstore::runner::reading
