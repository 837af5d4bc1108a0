// The scenario reader's own parts, shared by the readers of its sections
// (scenario_*.cpp): one reader per section of a scenario, each a member of
// Parser that checks its keys and values and records its faults, so that one
// run of `check` reports every fault in file order. Not for other callers:
// they use loadScenario and parseScenario of scenario.h.
//
// A new section: its reader in a file of its own (scenario_NAME.cpp), declared
// below with the others, its key in the lists of known keys of Parser::run
// (the scenario's root) and Parser::units ([[unit]]), and one call where
// Parser::unitBody reads the sections of a store (scenario.cpp); for -D to
// reach its keys, its line in kSections (scenario_overrides.cpp).
#pragma once

#include <toml++/toml.h>

#include <algorithm>
#include <array>
#include <climits>
#include <filesystem>
#include <initializer_list>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "plugstore/scenario.h"
#include "plugstore/schedule.h"

namespace plugstore::runner::reading {

namespace fs = std::filesystem;

// ---------------------------------------------------------------- TOML helpers

// "a string", "an integer", ...: the type of a value, for messages.
std::string typeName(const toml::node& n);
using Keys = std::span<const std::string_view>;
// The keys, comma-separated.
std::string keyList(Keys keys);
inline std::string keyList(std::initializer_list<std::string_view> keys) {
  return keyList(Keys(keys.begin(), keys.size()));
}
// The key of `keys` closest to a misspelt one.
std::string_view nearestKey(std::string_view key, Keys keys);
inline std::string_view nearestKey(std::string_view key,
                                   std::initializer_list<std::string_view> keys) {
  return nearestKey(key, Keys(keys.begin(), keys.size()));
}

// The keys of the sections that -D reaches by dotted name (scenario_overrides.cpp),
// shared with their readers.
inline constexpr std::array<std::string_view, 9> kSimulationKeys = {
    "start", "stop", "step", "iterations", "tolerance", "maxIterations", "links", "unit", "label1"};
inline constexpr std::array<std::string_view, 14> kControllerKeys = {
    "name",   "type", "input", "value", "offValue", "enable",  "initial",
    "sensor", "on",   "off",   "hot",   "cold",     "deltaOn", "deltaOff"};
inline constexpr std::array<std::string_view, 5> kTappingKeys = {"port", "delivery", "list", "file",
                                                                 "period"};
inline constexpr std::array<std::string_view, 18> kCollectorKeys = {
    "name",   "type",         "area",    "eta0",       "a1",      "a2",
    "iam",    "capacity",     "flow",    "controller", "hx",      "port",
    "pipeUA", "specificHeat", "initial", "irradiance", "ambient", "weather"};
inline constexpr std::array<std::string_view, 13> kLoadKeys = {
    "name",          "port", "demand", "ambient", "designLoad", "designAmbient", "balancePoint",
    "flowAtBalance", "flow", "return", "spread",  "maxFlow",    "maxShort"};

// Names under a table, dotted: [parameters.port1] heightA = ... and
// port1.heightA = ... both give "port1.heightA". `stop` says whether a
// table at a name is itself a value.
template <typename Visit, typename Stop>
void flatten(const toml::table& t, const std::string& prefix, Visit&& visit, Stop&& stop) {
  for (auto&& [key, node] : t) {
    const std::string name =
        prefix.empty() ? std::string(key.str()) : prefix + "." + std::string(key.str());
    if (node.is_table() && !stop(name)) {
      flatten(*node.as_table(), name, visit, stop);
    } else {
      visit(name, key, node);
    }
  }
}

// ---------------------------------------------------------------- CSV files

// Held by column, one array of doubles each: a series of ten years at
// minute steps has five million rows.
struct CsvTable {
  std::vector<std::string> header;
  std::vector<int> headerColumns;            // 1-based column of each header field
  std::vector<std::vector<double>> columns;  // the values of each header field
  std::vector<int> lines;                    // line of each row
  [[nodiscard]] std::size_t rows() const { return lines.size(); }
};

// The text without surrounding blanks and one pair of double quotes.
std::string trimmed(std::string_view s);

// Only a regular file has an end: a folder, a device such as /dev/zero or a
// pipe would be read as empty, for ever, or would wait for a writer.
bool otherThanAFile(const fs::path& path);

// A CSV file with a header line; `from` places the faults of opening it.
CsvTable readCsv(const fs::path& path, const Place& from);

// ---------------------------------------------------------------- the reader

class Parser {
 public:
  explicit Parser(const fs::path& file) : file_(file.string()) {
    folder_ = fs::absolute(file).lexically_normal().parent_path();
  }

  // Values from the command line (-D) are named by their setting.
  Place place(const toml::source_region& r) const {
    if (r.path && *r.path != file_) return {std::string(*r.path), 0, 0};
    return {file_, static_cast<int>(r.begin.line), static_cast<int>(r.begin.column)};
  }

  // Runs one piece of the reading; its faults are kept and reading goes on
  // with the next piece, so that one run of `check` shows them all.
  template <typename F>
  void attempt(const toml::source_region& anchor, F&& piece) {
    try {
      piece();
    } catch (const ScenarioError& e) {
      for (const Diagnostic& d : e.diagnostics()) record(d, place(anchor));
    }
  }
  // A fault; `anchor` places it in file order when it lies in another file.
  void record(const Diagnostic& d, const Place& anchor) {
    const Place& key = d.place.file == file_ && d.place.line > 0 ? d.place : anchor;
    const bool here = key.file == file_ && key.line > 0;
    found_.push_back({d, here ? key.line : INT_MAX, here ? key.column : 0});
  }
  // All faults, in the order of the scenario file; those of the command line
  // and of default values last.
  void throwFound() {
    if (found_.empty()) return;
    std::stable_sort(found_.begin(), found_.end(), [](const Found& a, const Found& b) {
      return a.line != b.line ? a.line < b.line : a.column < b.column;
    });
    std::vector<Diagnostic> all;
    for (const Found& f : found_) all.push_back(f.diagnostic);
    throw ScenarioError(std::move(all));
  }
  [[noreturn]] void fail(const toml::source_region& r, const std::string& message) const {
    throw ScenarioError(place(r), message);
  }

  double number(const toml::node& n, const std::string& what) const {
    if (!n.is_number()) fail(n.source(), what + " must be a number, not " + typeName(n));
    return *n.value<double>();
  }
  long integer(const toml::node& n, const std::string& what) const {
    if (!n.is_integer()) fail(n.source(), what + " must be an integer, not " + typeName(n));
    return static_cast<long>(*n.value<int64_t>());
  }
  std::string string(const toml::node& n, const std::string& what) const {
    if (!n.is_string()) fail(n.source(), what + " must be a string, not " + typeName(n));
    return *n.value<std::string>();
  }
  // A file or folder name: a NUL would cut it short, "draws.csv\u0000.evil"
  // reading draws.csv.
  std::string pathText(const toml::node& n, const std::string& what) const {
    std::string text = string(n, what);
    if (text.find('\0') != std::string::npos) {
      fail(n.source(), what + ": a path cannot hold a NUL character (\\u0000)");
    }
    return text;
  }
  const toml::table& table(const toml::node& n, const std::string& what) const {
    if (!n.is_table()) fail(n.source(), what + " must be a table, not " + typeName(n));
    return *n.as_table();
  }

  double positivePeriod(const toml::node& n) const {
    const double period = number(n, "period");
    if (!(period > 0.0)) fail(n.source(), "period must be above 0 h");
    return period;
  }
  // The "interpolation" key of a schedule or series; "hold" when left out.
  Interpolation interpolation(const toml::table& t) const {
    const toml::node* n = t.get("interpolation");
    if (n == nullptr) return Interpolation::kHold;
    const std::string m = string(*n, "interpolation");
    if (m == "linear") return Interpolation::kLinear;
    if (m != "hold") {
      fail(n->source(), "interpolation must be \"hold\" or \"linear\", not \"" + m + "\"");
    }
    return Interpolation::kHold;
  }

  // Every key must be one of `keys`; each other one is a fault of its own.
  void onlyKeys(const toml::table& t, const std::string& where,
                std::initializer_list<std::string_view> keys) {
    onlyKeys(t, where, Keys(keys.begin(), keys.size()));
  }
  void onlyKeys(const toml::table& t, const std::string& where, Keys keys) {
    for (auto&& [key, node] : t) {
      if (std::find(keys.begin(), keys.end(), key.str()) != keys.end()) continue;
      const Place at = place(key.source());
      record(
          {at, "unknown key '" + std::string(key.str()) + "' in " + where + "; did you mean '" +
                   std::string(nearestKey(key.str(), keys)) + "'? (known: " + keyList(keys) + ")"},
          at);
    }
  }

  fs::path resolve(const std::string& path) const {
    fs::path p(path);
    if (p.is_relative()) p = folder_ / p;
    return p.lexically_normal();
  }

  Scenario run(toml::table root, bool checks, const std::vector<std::string>& overrides);
  // Fluids far from water (unusualFluids) become notes instead of faults.
  void allowUnusual() { allowUnusual_ = true; }

 private:
  struct Found {
    Diagnostic diagnostic;
    int line;  // where it lies in the scenario file, for the order
    int column;
  };
  // One -D setting: the name and its value, read as TOML.
  struct Override {
    std::string name;
    toml::table value;  // the value at key "v"
    Place place;
    std::string unit;  // the [[unit]] it is for; empty with one store
  };

  // The order of the sections (scenario.cpp).
  Scenario blank() const;
  void unitBody(const toml::table& root, Scenario& s, bool checks,
                const std::vector<Override>& overrides);
  // -D settings (scenario_overrides.cpp).
  std::vector<Override> readOverrides(const std::vector<std::string>& overrides, toml::table& root,
                                      const std::vector<std::string>& unitNames);
  // [simulation] (scenario_simulation.cpp).
  void simulation(const toml::table& t, Scenario& s);
  void unitNumber(const toml::node& n, Scenario& s) const;
  void labelFolder(const toml::node& n, Scenario& s) const;
  // [[unit]] and links between units (scenario_units.cpp).
  static std::vector<std::string> readUnitNames(const toml::table& root);
  void units(const toml::node& n, Scenario& s, bool checks, const std::vector<Override>& overrides);
  void links(Scenario& s);
  InputSource linkedInput(const toml::table& t, const std::string& name);
  // [parameters] (scenario_parameters.cpp).
  void parameters(const toml::table& t, Scenario& s);
  void setParameter(Scenario& s, const std::string& name, const toml::node& node,
                    const Place& where);
  void initialProfile(Scenario& s, const toml::node& node, const Place& where);
  // [inputs] and schedules (scenario_inputs.cpp).
  void inputs(const toml::table& t, Scenario& s);
  void inputValue(Scenario& s, const std::string& name, const toml::node& node,
                  const toml::source_region& where);
  void setInput(Scenario& s, const std::string& name, const toml::source_region& where,
                InputSource source);
  std::shared_ptr<const Schedule> inlineSchedule(const toml::table& t, const std::string& name,
                                                 std::string& origin);
  // [[series]] (scenario_series.cpp).
  void series(const toml::node& n, Scenario& s);
  // [[controller]] (scenario_controllers.cpp).
  void controllers(const toml::node& n, Scenario& s);
  void controller(const toml::table& t, Scenario& s);
  Signal signal(const toml::node& n, const std::string& what) const;
  // [tapping] (scenario_tapping.cpp).
  void tapping(const toml::table& t, Scenario& s);
  // [[collector]] and weather files (scenario_collector.cpp).
  void collectors(const toml::node& n, Scenario& s);
  void collector(const toml::table& t, Scenario& s);
  void collectorLoops(Scenario& s);
  CsvTable weatherTable(const toml::table& t, Scenario& s);
  Signal sensed(const toml::node& n, const std::string& what, const Scenario& s) const;
  // [[load]] (scenario_load.cpp).
  void loads(const toml::node& n, Scenario& s);
  void load(const toml::table& t, Scenario& s);
  InputSource timeValue(const toml::node& n, const std::string& what, Scenario& s);
  void checkLoads(Scenario& s) const;
  // [outputs] and [names] (scenario_outputs.cpp, scenario_names.cpp).
  void outputs(const toml::table& t, Scenario& s);
  void names(const toml::table& t, Scenario& s);
  // The checks of a whole store (scenario_checks.cpp).
  void check(Scenario& s);
  void checkControl(const Scenario& s, std::vector<Diagnostic>& found) const;

  std::string file_;
  fs::path folder_;
  std::vector<Found> found_;
  bool allColumns_ = true;
  bool several_ = false;  // the scenario has [[unit]] tables
  bool allowUnusual_ = false;
};

}  // namespace plugstore::runner::reading
