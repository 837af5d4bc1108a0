#include "plugstore/scenario.h"

#include <toml++/toml.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <climits>
#include <cmath>
#include <fstream>
#include <initializer_list>
#include <limits>
#include <map>
#include <sstream>

#include "host/unit_stores.h"
#include "plugstore/checks.h"
#include "plugstore/deck.h"
#include "plugstore/defaults.h"
#include "plugstore/names.h"

namespace plugstore::runner {

namespace fs = std::filesystem;

// ---------------------------------------------------------------- errors

std::string formatDiagnostic(const Diagnostic& d) {
  std::string text = d.place.file;
  if (d.place.line > 0) {
    text += ":" + std::to_string(d.place.line);
    if (d.place.column > 0) text += ":" + std::to_string(d.place.column);
  }
  return text + ": " + d.message;
}

namespace {
std::string joined(const std::vector<Diagnostic>& diagnostics) {
  std::string text;
  for (const Diagnostic& d : diagnostics) {
    if (!text.empty()) text += "\n";
    text += formatDiagnostic(d);
  }
  return text;
}
}  // namespace

ScenarioError::ScenarioError(std::vector<Diagnostic> diagnostics)
    : std::runtime_error(joined(diagnostics)), diagnostics_(std::move(diagnostics)) {}

ScenarioError::ScenarioError(Place place, const std::string& message)
    : ScenarioError(std::vector<Diagnostic>{{std::move(place), message}}) {}

int Scenario::steps() const { return static_cast<int>(std::lround((stop - start) / step)); }

std::vector<std::string> runnerColumns(const Scenario& s) {
  std::vector<std::string> names;
  for (const ControllerSetup& c : s.controllers) names.push_back("control." + c.name);
  if (s.tapping.port > 0) {
    for (const char* n : {"tapping.asked", "tapping.useful", "tapping.temperature"}) {
      names.emplace_back(n);
    }
  }
  return names;
}

std::array<InputSource, kNumInputs> inputsWithControl(const Scenario& s) {
  std::array<InputSource, kNumInputs> inputs = s.inputs;
  for (const ControllerSetup& c : s.controllers) {
    InputSource& in = inputs[static_cast<std::size_t>(c.input - 1)];
    in = InputSource{};
    in.constant = c.value;
    in.origin = "controller " + c.name;
    in.place = c.place;
  }
  if (s.tapping.port > 0) {
    InputSource& in = inputs[static_cast<std::size_t>(
        inputNumber(indexed("port", s.tapping.port, ".massFlow")) - 1)];
    in = InputSource{};
    // The largest tap flow, all of it from the store (kg/h).
    const double density =
        s.parameters[static_cast<std::size_t>(parameterNumber("store.density") - 1)];
    for (const Tap& t : s.tapping.taps)
      in.constant = std::max(in.constant, t.flow * 60.0 * density / 1000.0);
    in.origin = "tapping list";
    in.place = s.tapping.place;
  }
  return inputs;
}

std::vector<const Scenario*> storesOf(const Scenario& s) {
  std::vector<const Scenario*> stores;
  for (const Scenario& u : s.units) stores.push_back(&u);
  if (stores.empty()) stores.push_back(&s);
  return stores;
}

std::size_t columnCount(const Scenario& s) {
  std::size_t n = 0;
  for (const Scenario* u : storesOf(s)) n += u->outputs.size();
  return n;
}

std::string columnName(const Scenario& s, int column) {
  if (column <= kNumOutputs) return std::string(outputEntry(column).name);
  return runnerColumns(s).at(static_cast<std::size_t>(column - kNumOutputs - 1));
}

std::string columnUnit(const Scenario& s, int column) {
  if (column <= kNumOutputs) {
    const std::string_view unit = outputEntry(column).unit;
    return unit.empty() ? "-" : std::string(unit);
  }
  const std::string name = columnName(s, column);
  if (name == "tapping.temperature") return "degC";
  if (name.starts_with("tapping.")) return "kW";
  return "-";
}

namespace {

// ---------------------------------------------------------------- TOML helpers

std::string typeName(const toml::node& n) {
  switch (n.type()) {
    case toml::node_type::string:
      return "a string";
    case toml::node_type::integer:
      return "an integer";
    case toml::node_type::floating_point:
      return "a number";
    case toml::node_type::boolean:
      return "a boolean";
    case toml::node_type::table:
      return "a table";
    case toml::node_type::array:
      return "an array";
    default:
      return "a date or time";
  }
}

std::string keyList(std::initializer_list<std::string_view> keys) {
  std::string text;
  for (std::string_view k : keys) text += (text.empty() ? "" : ", ") + std::string(k);
  return text;
}

std::string_view nearestKey(std::string_view key, std::initializer_list<std::string_view> keys) {
  std::string_view best;
  std::size_t bestDistance = 0;
  for (std::string_view k : keys) {
    const std::size_t d = editDistance(key, k);
    if (best.empty() || d < bestDistance) {
      best = k;
      bestDistance = d;
    }
  }
  return best;
}

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

  Scenario blank() const;
  void unitBody(const toml::table& root, Scenario& s, bool checks,
                const std::vector<Override>& overrides);
  static std::vector<std::string> readUnitNames(const toml::table& root);
  void units(const toml::node& n, Scenario& s, bool checks, const std::vector<Override>& overrides);
  void links(Scenario& s);
  InputSource linkedInput(const toml::table& t, const std::string& name);

  void simulation(const toml::table& t, Scenario& s);
  void unitNumber(const toml::node& n, Scenario& s) const;
  void labelFolder(const toml::node& n, Scenario& s) const;
  void parameters(const toml::table& t, Scenario& s);
  void setParameter(Scenario& s, const std::string& name, const toml::node& node,
                    const Place& where);
  void initialProfile(Scenario& s, const toml::node& node, const Place& where);
  void inputs(const toml::table& t, Scenario& s);
  void inputValue(Scenario& s, const std::string& name, const toml::node& node,
                  const toml::source_region& where);
  void series(const toml::node& n, Scenario& s);
  void controllers(const toml::node& n, Scenario& s);
  void controller(const toml::table& t, Scenario& s);
  Signal signal(const toml::node& n, const std::string& what) const;
  void tapping(const toml::table& t, Scenario& s);
  void names(const toml::table& t, Scenario& s);
  void outputs(const toml::table& t, Scenario& s);
  void setInput(Scenario& s, const std::string& name, const toml::source_region& where,
                InputSource source);
  std::shared_ptr<const Schedule> inlineSchedule(const toml::table& t, const std::string& name,
                                                 std::string& origin);
  std::vector<Override> readOverrides(const std::vector<std::string>& overrides, toml::table& root,
                                      const std::vector<std::string>& unitNames);
  void check(Scenario& s);
  void checkControl(const Scenario& s, std::vector<Diagnostic>& found) const;

  std::string file_;
  fs::path folder_;
  std::vector<Found> found_;
  bool allColumns_ = true;
  bool several_ = false;  // the scenario has [[unit]] tables
};

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

struct CsvTable {
  std::vector<std::string> header;
  std::vector<int> headerColumns;  // 1-based column of each header field
  std::vector<std::vector<double>> rows;
  std::vector<int> lines;  // line of each row
};

std::string trimmed(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) {
    s.remove_suffix(1);
  }
  if (s.size() >= 2 && s.front() == '"' && s.back() == '"') s = s.substr(1, s.size() - 2);
  return std::string(s);
}

// Only a regular file has an end: a folder, a device such as /dev/zero or a
// pipe would be read as empty, for ever, or would wait for a writer.
bool otherThanAFile(const fs::path& path) {
  std::error_code ec;
  return fs::exists(path, ec) && !fs::is_regular_file(path, ec);
}

CsvTable readCsv(const fs::path& path, const Place& from) {
  if (otherThanAFile(path)) {
    throw ScenarioError(from, "the series file " + path.string() + " is not a regular file");
  }
  std::ifstream in(path);
  if (!in) throw ScenarioError(from, "cannot open the series file " + path.string());
  CsvTable t;
  std::string line;
  int number = 0;
  const std::string name = path.string();
  while (std::getline(in, line)) {
    ++number;
    const std::string stripped = trimmed(line);
    if (stripped.empty() || stripped.front() == '#') continue;
    std::vector<std::string> fields;
    std::vector<int> columns;
    std::size_t start = 0;
    while (true) {
      const std::size_t comma = line.find(',', start);
      const std::string_view field = std::string_view(line).substr(start, comma - start);
      const std::size_t lead = std::min(field.find_first_not_of(" \t"), field.size());
      fields.push_back(trimmed(field));
      columns.push_back(static_cast<int>(start + lead) + 1);
      if (comma == std::string::npos) break;
      start = comma + 1;
    }
    if (t.header.empty()) {
      t.header = fields;
      t.headerColumns = columns;
      if (t.header.size() < 2) {
        throw ScenarioError({name, number, 1},
                            "a series needs a header: the time in hours, then named columns");
      }
      continue;
    }
    if (fields.size() != t.header.size()) {
      throw ScenarioError({name, number, 1}, "expected " + std::to_string(t.header.size()) +
                                                 " values, found " + std::to_string(fields.size()));
    }
    std::vector<double> row;
    for (std::size_t i = 0; i < fields.size(); ++i) {
      double v = 0.0;
      const std::string& f = fields[i];
      const char* first = f.data();
      if (!f.empty() && f.front() == '+') ++first;
      const auto r = std::from_chars(first, f.data() + f.size(), v);
      if (f.empty() || r.ec != std::errc() || r.ptr != f.data() + f.size() || !std::isfinite(v)) {
        throw ScenarioError({name, number, columns[i]},
                            "'" + f + "' in column " + t.header[i] + " is not a number");
      }
      row.push_back(v);
    }
    t.rows.push_back(std::move(row));
    t.lines.push_back(number);
  }
  if (t.header.empty()) throw ScenarioError({name, 0, 0}, "the series file is empty");
  if (t.rows.empty()) throw ScenarioError({name, 0, 0}, "the series file has no rows");
  return t;
}

// ---------------------------------------------------------------- sections

Scenario Parser::run(toml::table root, bool checks, const std::vector<std::string>& overrideTexts) {
  const bool several = root.contains("unit");
  several_ = several;
  std::vector<std::string> unitNames;
  if (several) unitNames = readUnitNames(root);
  const std::vector<Override> overrides = readOverrides(overrideTexts, root, unitNames);
  if (several) {
    onlyKeys(root, "a scenario with [[unit]] tables",
             {"title", "description", "simulation", "unit"});
  } else {
    onlyKeys(root, "the scenario",
             {"title", "description", "simulation", "parameters", "inputs", "series", "controller",
              "tapping", "outputs", "names"});
  }
  Scenario s = blank();
  if (const toml::node* n = root.get("title")) {
    attempt(n->source(), [&] { s.title = string(*n, "title"); });
  }
  if (const toml::node* n = root.get("description")) {
    attempt(n->source(), [&] { s.description = string(*n, "description"); });
  }
  if (const toml::node* n = root.get("simulation")) {
    attempt(n->source(), [&] { simulation(table(*n, "[simulation]"), s); });
  }
  if (several) {
    units(*root.get("unit"), s, checks, overrides);
  } else {
    unitBody(root, s, checks, overrides);
  }
  throwFound();
  return s;
}

Scenario Parser::blank() const {
  Scenario s;
  s.file = file_;
  s.label1 = folder_.string();
  s.parameters = defaultParameters();
  const auto x = defaultInputs();
  for (std::size_t i = 0; i < s.inputs.size(); ++i) {
    s.inputs[i].constant = x[i];
    s.inputs[i].origin = "default";
    s.inputs[i].place = {file_, 0, 0};
  }
  for (Place& p : s.parameterPlace) p = {file_, 0, 0};
  for (int n = 1; n <= kNumOutputs; ++n) s.outputs.push_back(n);
  return s;
}

// The store of one unit: from the scenario's root, or from a [[unit]] table.
void Parser::unitBody(const toml::table& root, Scenario& s, bool checks,
                      const std::vector<Override>& allOverrides) {
  // Settings of the command line for this unit; their values keep where
  // they were typed, which a copy of a TOML node would lose.
  std::vector<const Override*> overrides;
  for (const Override& o : allOverrides) {
    if (o.unit == s.name) overrides.push_back(&o);
  }
  if (s.label1.size() > 300) {
    record(
        {{file_, 0, 0}, "label1 is longer than the 300 characters a host label holds: " + s.label1},
        {file_, 0, 0});
  }
  if (const toml::node* n = root.get("parameters")) {
    attempt(n->source(), [&] { parameters(table(*n, "[parameters]"), s); });
  }
  for (const Override* o : overrides) {
    if (findInput(o->name) != nullptr) continue;
    attempt({}, [&] { setParameter(s, o->name, *o->value.get("v"), o->place); });
  }
  if (!s.initialProfile.empty()) {
    // The profile reaches the component through its start-profile file.
    const auto i = static_cast<std::size_t>(parameterNumber("store.startProfile") - 1);
    const Place& set = s.parameterPlace[i];
    if ((set.line > 0 || set.file != file_) && s.parameters[i] != 1.0) {
      record({set, "store.startProfile must be 1 or left out with store.initialProfile"}, set);
    }
    s.parameters[i] = 1.0;
    s.parameterPlace[i] = s.initialProfilePlace;
  }
  if (const toml::node* n = root.get("inputs")) {
    attempt(n->source(), [&] { inputs(table(*n, "[inputs]"), s); });
  }
  if (const toml::node* n = root.get("series")) series(*n, s);
  const auto x = defaultInputs();
  for (const Override* o : overrides) {
    const CatalogEntry* e = findInput(o->name);
    if (e == nullptr) continue;
    // The command line replaces what the file gives.
    InputSource& slot = s.inputs[static_cast<std::size_t>(e->number - 1)];
    slot = InputSource{};
    slot.constant = x[static_cast<std::size_t>(e->number - 1)];
    const toml::node& value = *o->value.get("v");
    attempt({}, [&] { inputValue(s, o->name, value, value.source()); });
  }
  if (const toml::node* n = root.get("controller")) controllers(*n, s);
  if (const toml::node* n = root.get("tapping")) {
    attempt(n->source(), [&] { tapping(table(*n, "[tapping]"), s); });
  }
  allColumns_ = true;
  if (const toml::node* n = root.get("outputs")) {
    attempt(n->source(), [&] { outputs(table(*n, "[outputs]"), s); });
  }
  if (const toml::node* n = root.get("names")) {
    attempt(n->source(), [&] { names(table(*n, "[names]"), s); });
  }
  if (allColumns_) {
    const std::size_t extra = runnerColumns(s).size();
    for (std::size_t i = 0; i < extra; ++i) {
      s.outputs.push_back(kNumOutputs + 1 + static_cast<int>(i));
    }
  }
  if (checks) check(s);
}

// The names of the [[unit]] tables, read first so that -D settings and links
// can name them.
std::vector<std::string> Parser::readUnitNames(const toml::table& root) {
  std::vector<std::string> names;
  const toml::array* list = root.get("unit")->as_array();
  if (list == nullptr || !list->is_array_of_tables()) return names;
  for (const toml::node& item : *list) {
    const toml::node* n = item.as_table()->get("name");
    names.push_back(n != nullptr && n->is_string() ? *n->value<std::string>() : std::string());
  }
  return names;
}

void Parser::units(const toml::node& n, Scenario& s, bool checks,
                   const std::vector<Override>& overrides) {
  const toml::array* list = n.as_array();
  if (list == nullptr || !list->is_array_of_tables() || list->empty()) {
    fail(n.source(), "units must be written as [[unit]] tables");
  }
  if (list->size() > static_cast<std::size_t>(kMaxUnits)) {
    fail(n.source(), "a scenario holds at most " + std::to_string(kMaxUnits) +
                         " units, as one component library serves");
  }
  for (const toml::node& item : *list) {
    const toml::table& t = *item.as_table();
    Scenario u = blank();
    u.title = s.title;
    u.start = s.start;
    u.stop = s.stop;
    u.step = s.step;
    u.iterations = s.iterations;
    u.unit = s.unit + static_cast<int>(s.units.size());  // numbered on from the first
    u.label1 = s.label1;
    onlyKeys(t, "[[unit]]",
             {"name", "unit", "label1", "parameters", "inputs", "series", "controller", "tapping",
              "outputs", "names"});
    attempt(t.source(), [&] {
      const toml::node* name = t.get("name");
      if (name == nullptr) fail(t.source(), "[[unit]] needs 'name', which prefixes its columns");
      u.name = string(*name, "name");
      const bool plain = !u.name.empty() && std::all_of(u.name.begin(), u.name.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_' || c == '-';
      });
      if (!plain) fail(name->source(), "a unit name is letters, digits, '_' and '-' only");
      for (const Scenario& other : s.units) {
        if (other.name == u.name) fail(name->source(), "two units are named " + u.name);
      }
    });
    // The number and label 1 of the unit, as [simulation] gives them for one.
    if (const toml::node* v = t.get("unit")) attempt(v->source(), [&] { unitNumber(*v, u); });
    if (const toml::node* v = t.get("label1")) attempt(v->source(), [&] { labelFolder(*v, u); });
    for (const Scenario& other : s.units) {
      if (other.unit == u.unit) {
        record({place(t.source()), "units " + other.name + " and " + u.name + " have one number, " +
                                       std::to_string(u.unit)},
               place(t.source()));
      }
    }
    unitBody(t, u, checks, overrides);
    s.units.push_back(std::move(u));
  }
  links(s);
  // One CSV holds the rows of all units.
  const Scenario& first = s.units.front();
  s.interval = first.interval;
  s.initialRow = first.initialRow;
  for (const Scenario& u : s.units) {
    if (u.interval != first.interval || u.initialRow != first.initialRow) {
      record({place(n.source()), "units " + first.name + " and " + u.name +
                                     " write one CSV: give them the same interval and initialRow"},
             place(n.source()));
    }
    // Each writes its start profile into the folder of its label 1.
    for (const Scenario& v : s.units) {
      if (&v == &u) break;
      if (!u.initialProfile.empty() && !v.initialProfile.empty() && u.label1 == v.label1) {
        record({u.initialProfilePlace, "units " + v.name + " and " + u.name +
                                           " have initial profiles and one label1 folder: give "
                                           "each its own label1"},
               u.initialProfilePlace);
      }
    }
  }
}

std::vector<Parser::Override> Parser::readOverrides(const std::vector<std::string>& texts,
                                                    toml::table& root,
                                                    const std::vector<std::string>& unitNames) {
  const std::initializer_list<std::string_view> kSimulationKeys = {"start",      "stop", "step",
                                                                   "iterations", "unit", "label1"};
  std::vector<Override> found;
  for (const std::string& text : texts) {
    const std::string source = "-D " + text;
    const Place where{source, 0, 0};
    const std::size_t eq = text.find('=');
    std::string name = eq == std::string::npos ? "" : trimmed(text.substr(0, eq));
    // With several units a setting names its unit first: buffer.store.volume.
    std::string unit;
    for (const std::string& u : unitNames) {
      if (!u.empty() && name.starts_with(u + ".")) {
        unit = u;
        name = name.substr(u.size() + 1);
      }
    }
    if (!unitNames.empty() && unit.empty() && !name.starts_with("simulation.") && !name.empty()) {
      record({where, "name the unit first, as in -D " + unitNames.front() + "." + name + "=..."},
             where);
      continue;
    }
    if (name.empty()) {
      record({where, "-D takes name=value, as in -D store.volume=0.4"}, where);
      continue;
    }
    // The value as in the file; a bare word is a string (a folder, a title).
    const std::string value = trimmed(text.substr(eq + 1));
    toml::table doc;
    try {
      doc = toml::parse("v = " + value, source);
    } catch (const toml::parse_error&) {
      std::string quoted;
      for (char c : value) {
        if (c == '"' || c == '\\') quoted += '\\';
        quoted += c;
      }
      try {
        doc = toml::parse("v = \"" + quoted + "\"", source);
      } catch (const toml::parse_error& e) {
        record({where, std::string(e.description())}, where);
        continue;
      }
    }
    if (name.starts_with("simulation.")) {
      const std::string key = name.substr(11);
      if (std::find(kSimulationKeys.begin(), kSimulationKeys.end(), key) == kSimulationKeys.end()) {
        record({where, "unknown key '" + key + "' in [simulation]; did you mean '" +
                           std::string(nearestKey(key, kSimulationKeys)) + "'?"},
               where);
        continue;
      }
      if (!root.contains("simulation")) root.insert("simulation", toml::table{});
      if (toml::table* sim = root["simulation"].as_table()) {
        doc.get("v")->visit([&](auto&& v) { sim->insert_or_assign(key, std::move(v)); });
      }
      continue;
    }
    if (name == "store.initialProfile" || findParameter(name) != nullptr ||
        findInput(name) != nullptr) {
      found.push_back({name, std::move(doc), where, unit});
      continue;
    }
    const std::string_view parameter = nearestName(parameterCatalog(), name);
    const std::string_view input = nearestName(inputCatalog(), name);
    const std::string_view nearest =
        editDistance(name, input) < editDistance(name, parameter) ? input : parameter;
    record({where, "unknown name '" + name +
                       "': -D sets a parameter, an input or simulation.KEY; did you mean '" +
                       std::string(nearest) + "'?"},
           where);
  }
  return found;
}

void Parser::simulation(const toml::table& t, Scenario& s) {
  onlyKeys(t, "[simulation]", {"start", "stop", "step", "iterations", "unit", "label1"});
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
    if (!(s.step > 0.0) || !std::isfinite(s.step)) fail(n.source(), "step must be above 0 h");
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
    if (it < 1 || it > 1000) fail(n.source(), "iterations must be 1 ... 1000");
    s.iterations = static_cast<int>(it);
  });
  key("unit", [&](const toml::node& n) { unitNumber(n, s); });
  key("label1", [&](const toml::node& n) { labelFolder(n, s); });
}

void Parser::unitNumber(const toml::node& n, Scenario& s) const {
  const long unit = integer(n, "unit");
  if (unit < 1 || unit > 999) fail(n.source(), "unit must be 1 ... 999");
  s.unit = static_cast<int>(unit);
}

void Parser::labelFolder(const toml::node& n, Scenario& s) const {
  // From the command line a relative folder is taken from the current one.
  const std::string text = string(n, "label1");
  const bool typed = place(n.source()).file != file_;
  const fs::path folder = typed ? fs::absolute(text).lexically_normal() : resolve(text);
  std::error_code ec;
  if (!fs::is_directory(folder, ec)) {
    fail(n.source(), "label1: the folder " + folder.string() + " does not exist");
  }
  s.label1 = folder.string();
  while (s.label1.size() > 1 && s.label1.back() == '/') s.label1.pop_back();
}

void Parser::parameters(const toml::table& t, Scenario& s) {
  if (const toml::node* n = t.get("positional")) {
    attempt(n->source(), [&] {
      std::vector<double> values;
      if (const toml::array* a = n->as_array()) {
        for (std::size_t i = 0; i < a->size(); ++i) {
          values.push_back(number(*a->get(i), "value " + std::to_string(i + 1) + " of positional"));
        }
      } else if (n->is_string()) {
        const std::string text = *n->value<std::string>();
        try {
          const bool block = text.find("PARAMETERS") != std::string::npos ||
                             text.find("parameters") != std::string::npos;
          values = block ? deckParameters(text) : parseHostNumbers(text);
        } catch (const HostTextError& e) {
          fail(n->source(),
               "positional, line " + std::to_string(e.line) + " of the text: " + e.what());
        }
      } else {
        fail(n->source(), "positional must be an array of " + std::to_string(kNumParameters) +
                              " numbers or the text of a host's parameter list, not " +
                              typeName(*n));
      }
      if (values.size() != static_cast<std::size_t>(kNumParameters)) {
        fail(n->source(), "positional has " + std::to_string(values.size()) +
                              " values instead of " + std::to_string(kNumParameters));
      }
      std::copy(values.begin(), values.end(), s.parameters.begin());
      for (Place& p : s.parameterPlace) p = place(n->source());
    });
  }
  flatten(
      t, "",
      [&](const std::string& name, const toml::key& key, const toml::node& node) {
        if (name == "positional") return;
        attempt(key.source(), [&] { setParameter(s, name, node, place(key.source())); });
      },
      [](const std::string&) { return false; });
}

void Parser::setParameter(Scenario& s, const std::string& name, const toml::node& node,
                          const Place& where) {
  if (name == "store.initialProfile") {
    initialProfile(s, node, where);
    return;
  }
  const CatalogEntry* e = findParameter(name);
  if (e == nullptr) throw ScenarioError(where, unknownNameMessage("parameter", name));
  const auto i = static_cast<std::size_t>(e->number - 1);
  s.parameters[i] = number(node, name);
  s.parameterPlace[i] = where;
}

void Parser::initialProfile(Scenario& s, const toml::node& node, const Place& where) {
  const toml::array* a = node.as_array();
  if (a == nullptr) {
    fail(node.source(),
         "store.initialProfile must be an array of [height, temperature] points, not " +
             typeName(node));
  }
  std::vector<ProfilePoint> points;
  std::vector<const toml::node*> nodes;
  for (const toml::node& p : *a) {
    nodes.push_back(&p);
    const toml::array* pair = p.as_array();
    if (pair == nullptr || pair->size() != 2) {
      fail(p.source(), "each point of store.initialProfile must be a pair [height, temperature]");
    }
    points.push_back({number(*pair->get(0), "the height of a point"),
                      number(*pair->get(1), "the temperature of a point")});
  }
  std::size_t bad = 0;
  const std::string why = profileProblem(points, &bad);
  if (!why.empty()) {
    fail(bad < nodes.size() ? nodes[bad]->source() : node.source(), "store.initialProfile: " + why);
  }
  s.initialProfile = std::move(points);
  s.initialProfilePlace = where;
}

std::shared_ptr<const Schedule> Parser::inlineSchedule(const toml::table& t,
                                                       const std::string& name,
                                                       std::string& origin) {
  onlyKeys(t, name, {"daily", "schedule", "period", "interpolation"});
  const toml::node* daily = t.get("daily");
  const toml::node* points = t.get("schedule");
  if ((daily == nullptr) == (points == nullptr)) {
    fail(t.source(), name + " needs either 'daily' (a profile repeated every 24 h) or 'schedule'");
  }
  const toml::node& list = daily != nullptr ? *daily : *points;
  double period = daily != nullptr ? 24.0 : 0.0;
  if (const toml::node* n = t.get("period")) {
    if (daily != nullptr) fail(n->source(), "a daily profile repeats every 24 h: drop 'period'");
    period = positivePeriod(*n);
  }
  const Interpolation mode = interpolation(t);
  const toml::array* a = list.as_array();
  if (a == nullptr) {
    fail(list.source(),
         "the points must be an array of [hour, value] pairs, not " + typeName(list));
  }
  std::vector<double> times;
  std::vector<double> values;
  std::vector<const toml::node*> nodes;
  for (const toml::node& p : *a) {
    nodes.push_back(&p);
    const toml::array* pair = p.as_array();
    if (pair == nullptr || pair->size() != 2) {
      fail(p.source(), "each point must be a pair [hour, value]");
    }
    times.push_back(number(*pair->get(0), "the hour of a point"));
    values.push_back(number(*pair->get(1), "the value of a point"));
  }
  std::size_t point = 0;
  const std::string why = Schedule::problem(times, values, period, &point);
  if (!why.empty())
    fail(point < nodes.size() ? nodes[point]->source() : list.source(), name + ": " + why);
  origin = daily != nullptr ? "a daily profile" : "a schedule";
  return std::make_shared<const Schedule>(std::move(times), std::move(values), mode, period);
}

void Parser::setInput(Scenario& s, const std::string& name, const toml::source_region& where,
                      InputSource source) {
  const CatalogEntry* e = findInput(name);
  if (e == nullptr) fail(where, unknownNameMessage("input", name));
  InputSource& slot = s.inputs[static_cast<std::size_t>(e->number - 1)];
  if (slot.given()) {
    fail(where, name + " is given twice; first at line " + std::to_string(slot.place.line) +
                    " of " + slot.place.file);
  }
  source.place = place(where);
  slot = std::move(source);
}

void Parser::inputs(const toml::table& t, Scenario& s) {
  flatten(
      t, "",
      [&](const std::string& name, const toml::key& key, const toml::node& node) {
        attempt(key.source(), [&] { inputValue(s, name, node, key.source()); });
      },
      // A table at a full input name is that input's schedule.
      [](const std::string& name) { return findInput(name) != nullptr; });
}

void Parser::inputValue(Scenario& s, const std::string& name, const toml::node& node,
                        const toml::source_region& where) {
  if (findInput(name) == nullptr) fail(where, unknownNameMessage("input", name));
  InputSource src;
  const toml::table* st = node.as_table();
  if (st != nullptr && st->contains("from")) {
    src = linkedInput(*st, name);
  } else if (st != nullptr) {
    src.schedule = inlineSchedule(*st, name, src.origin);
  } else {
    src.constant = number(node, name);
    src.origin = "constant";
  }
  setInput(s, name, where, std::move(src));
}

// { from = "UNIT.OUTPUT", initial = value }: an output of another unit.
InputSource Parser::linkedInput(const toml::table& t, const std::string& name) {
  onlyKeys(t, name, {"from", "initial"});
  if (!several_) {
    fail(t.source(), name +
                         ": 'from' takes an output of another [[unit]], and this scenario has "
                         "one store");
  }
  const toml::node& from = *t.get("from");
  const std::string text = string(from, "from");
  const std::size_t dot = text.find('.');
  if (dot == std::string::npos) {
    fail(from.source(), "from names a unit and its output, as in \"dhw.port2.outletTemperature\"");
  }
  InputSource src;
  src.link = Link{text.substr(0, dot), 0, 0};
  const std::string output = text.substr(dot + 1);
  const CatalogEntry* e = findOutput(output);
  if (e == nullptr) fail(from.source(), unknownNameMessage("output", output));
  src.link->output = e->number;
  src.constant = defaultInputs()[static_cast<std::size_t>(inputNumber(name) - 1)];
  if (const toml::node* n = t.get("initial")) src.constant = number(*n, "initial");
  src.origin = "from " + text;
  src.linkPlace = place(from.source());
  return src;
}

// Links name their units by name: each must be another unit of the scenario.
void Parser::links(Scenario& s) {
  for (std::size_t i = 0; i < s.units.size(); ++i) {
    for (InputSource& in : s.units[i].inputs) {
      if (!in.link) continue;
      const auto it = std::find_if(s.units.begin(), s.units.end(),
                                   [&](const Scenario& u) { return u.name == in.link->unitName; });
      std::string why;
      if (it == s.units.end()) {
        std::string known;
        for (const Scenario& u : s.units) known += (known.empty() ? "" : ", ") + u.name;
        why = "no unit is named " + in.link->unitName + " (units: " + known + ")";
      } else if (static_cast<std::size_t>(it - s.units.begin()) == i) {
        why = "a unit cannot take its own output as an input";
      }
      if (!why.empty()) {
        record({in.linkPlace, why}, in.linkPlace);
        continue;
      }
      in.link->unit = static_cast<std::size_t>(it - s.units.begin());
    }
  }
}

void Parser::series(const toml::node& n, Scenario& s) {
  const toml::array* list = n.as_array();
  if (list == nullptr || !list->is_array_of_tables()) {
    record({place(n.source()), "series must be written as [[series]] tables"}, place(n.source()));
    return;
  }
  for (const toml::node& item : *list) {
    attempt(item.source(), [&] {
      const toml::table& t = *item.as_table();
      onlyKeys(t, "[[series]]", {"file", "interpolation", "period", "columns"});
      const toml::node* fileNode = t.get("file");
      if (fileNode == nullptr) fail(t.source(), "[[series]] needs 'file', the CSV file");
      const fs::path path = resolve(string(*fileNode, "file"));
      s.inputFiles.push_back(path);
      const CsvTable csv = readCsv(path, place(fileNode->source()));
      const std::string csvName = path.string();

      double period = 0.0;
      if (const toml::node* p = t.get("period")) period = positivePeriod(*p);
      const Interpolation mode = interpolation(t);
      std::vector<double> times;
      for (const auto& row : csv.rows) times.push_back(row[0]);

      // (CSV column, input name, where the mapping is written)
      struct Use {
        std::size_t column;
        std::string input;
        Place place;
      };
      std::vector<Use> uses;
      if (const toml::node* c = t.get("columns")) {
        const toml::table& map = table(*c, "columns");
        for (auto&& [key, node] : map) {
          const auto it = std::find(csv.header.begin() + 1, csv.header.end(), key.str());
          if (it == csv.header.end()) {
            std::string nearest;
            std::size_t best = 0;
            for (auto h = csv.header.begin() + 1; h != csv.header.end(); ++h) {
              const std::size_t d = editDistance(key.str(), *h);
              if (nearest.empty() || d < best) {
                nearest = *h;
                best = d;
              }
            }
            fail(key.source(), "the series " + csvName + " has no column '" +
                                   std::string(key.str()) + "'; did you mean '" + nearest + "'?");
          }
          uses.push_back({static_cast<std::size_t>(it - csv.header.begin()),
                          string(node, std::string(key.str())), place(node.source())});
        }
      } else {
        for (std::size_t i = 1; i < csv.header.size(); ++i) {
          uses.push_back({i, csv.header[i], {csvName, 1, csv.headerColumns[i]}});
        }
      }
      for (const Use& u : uses) {
        std::vector<double> values;
        for (const auto& row : csv.rows) values.push_back(row[u.column]);
        std::size_t point = 0;
        const std::string why = Schedule::problem(times, values, period, &point);
        if (!why.empty()) {
          Place where{csvName, 0, 0};
          if (point < csv.lines.size()) where.line = csv.lines[point];
          throw ScenarioError(where, "column " + csv.header[u.column] + ": " + why);
        }
        const CatalogEntry* e = findInput(u.input);
        if (e == nullptr) throw ScenarioError(u.place, unknownNameMessage("input", u.input));
        InputSource& slot = s.inputs[static_cast<std::size_t>(e->number - 1)];
        if (slot.given()) {
          throw ScenarioError(u.place, u.input + " is given twice; first at line " +
                                           std::to_string(slot.place.line) + " of " +
                                           slot.place.file);
        }
        slot.schedule = std::make_shared<const Schedule>(times, std::move(values), mode, period);
        slot.origin = path.filename().string() + ":" + csv.header[u.column];
        slot.place = u.place;
      }
    });
  }
}

// ---------------------------------------------------------------- controllers

void Parser::controllers(const toml::node& n, Scenario& s) {
  const toml::array* list = n.as_array();
  if (list == nullptr || !list->is_array_of_tables()) {
    record({place(n.source()), "controllers must be written as [[controller]] tables"},
           place(n.source()));
    return;
  }
  for (const toml::node& item : *list) {
    attempt(item.source(), [&] { controller(*item.as_table(), s); });
  }
}

Signal Parser::signal(const toml::node& n, const std::string& what) const {
  const std::string name = string(n, what);
  if (const CatalogEntry* e = findInput(name)) return {name, true, e->number};
  if (const CatalogEntry* e = findOutput(name)) return {name, false, e->number};
  const std::string_view output = nearestName(outputCatalog(), name);
  const std::string_view input = nearestName(inputCatalog(), name);
  const std::string_view nearest =
      editDistance(name, input) < editDistance(name, output) ? input : output;
  fail(n.source(), what + ": '" + name + "' is neither an output nor an input; did you mean '" +
                       std::string(nearest) + "'?");
}

void Parser::controller(const toml::table& t, Scenario& s) {
  onlyKeys(t, "[[controller]]",
           {"name", "type", "input", "value", "offValue", "enable", "initial", "sensor", "on",
            "off", "hot", "cold", "deltaOn", "deltaOff"});
  ControllerSetup c;
  c.place = place(t.source());
  auto need = [&](const char* key) -> const toml::node& {
    const toml::node* n = t.get(key);
    if (n == nullptr) fail(t.source(), "[[controller]] needs '" + std::string(key) + "'");
    return *n;
  };
  const toml::node& nameNode = need("name");
  c.name = string(nameNode, "name");
  const bool plain = !c.name.empty() && std::all_of(c.name.begin(), c.name.end(), [](char ch) {
    return std::isalnum(static_cast<unsigned char>(ch)) != 0 || ch == '_' || ch == '-';
  });
  if (!plain) fail(nameNode.source(), "a controller's name is letters, digits, '_' and '-'");
  for (const ControllerSetup& other : s.controllers) {
    if (other.name == c.name) {
      fail(nameNode.source(), "a controller named '" + c.name + "' exists already (line " +
                                  std::to_string(other.place.line) + ")");
    }
  }
  const std::string type = string(need("type"), "type");
  const bool thermostat = type == "thermostat";
  if (!thermostat && type != "differential") {
    fail(t.get("type")->source(),
         "type must be \"thermostat\" or \"differential\", not \"" + type + "\"");
  }
  const toml::node& inputNode = need("input");
  const std::string input = string(inputNode, "input");
  const CatalogEntry* e = findInput(input);
  if (e == nullptr) fail(inputNode.source(), unknownNameMessage("input", input));
  c.input = e->number;
  c.value = number(need("value"), "value");
  if (const toml::node* n = t.get("offValue")) {
    c.offValue = number(*n, "offValue");
    c.hasOffValue = true;
  }
  // The keys of the other kind of controller would be silently ignored.
  const std::vector<std::string_view> foreign =
      thermostat ? std::vector<std::string_view>{"hot", "cold", "deltaOn", "deltaOff"}
                 : std::vector<std::string_view>{"sensor", "on", "off"};
  for (std::string_view key : foreign) {
    if (const toml::node* n = t.get(key)) {
      fail(n->source(), "'" + std::string(key) + "' belongs to " +
                            (thermostat ? "a differential controller; a thermostat takes sensor, "
                                          "on and off"
                                        : "a thermostat; a differential controller takes hot, "
                                          "cold, deltaOn and deltaOff"));
    }
  }
  if (thermostat) {
    c.kind = ControllerKind::kThermostat;
    c.sensor = signal(need("sensor"), "sensor");
    c.on = number(need("on"), "on");
    c.off = number(need("off"), "off");
  } else {
    c.kind = ControllerKind::kDifferential;
    c.sensor = signal(need("hot"), "hot");
    c.reference = signal(need("cold"), "cold");
    c.on = number(need("deltaOn"), "deltaOn");
    c.off = number(need("deltaOff"), "deltaOff");
    if (c.on < c.off) fail(t.get("deltaOn")->source(), "deltaOn must be at least deltaOff");
  }
  if (const toml::node* n = t.get("enable")) {
    std::string origin;
    c.enable = inlineSchedule(table(*n, "enable"), "enable", origin);
  }
  if (const toml::node* n = t.get("initial")) {
    const std::string state = string(*n, "initial");
    if (state != "on" && state != "off") {
      fail(n->source(), "initial must be \"on\" or \"off\", not \"" + state + "\"");
    }
    c.initiallyOn = state == "on";
  }
  s.controllers.push_back(std::move(c));
}

// ---------------------------------------------------------------- tapping list

void Parser::tapping(const toml::table& t, Scenario& s) {
  onlyKeys(t, "[tapping]", {"port", "delivery", "list", "file", "period"});
  TappingSpec tp;
  tp.place = place(t.source());
  const toml::node* portNode = t.get("port");
  if (portNode == nullptr) fail(t.source(), "[tapping] needs 'port', the port that draws");
  const long port = integer(*portNode, "port");
  if (port < 1 || port > kNumPorts) fail(portNode->source(), "port must be 1 ... 10");
  tp.port = static_cast<int>(port);
  if (const toml::node* n = t.get("delivery")) tp.delivery = number(*n, "delivery");
  if (const toml::node* n = t.get("period")) tp.period = positivePeriod(*n);
  const toml::node* list = t.get("list");
  const toml::node* file = t.get("file");
  if ((list == nullptr) == (file == nullptr)) {
    fail(t.source(), "[tapping] needs either 'list' or 'file'");
  }
  std::vector<Place> places;
  if (list != nullptr) {
    const toml::array* a = list->as_array();
    if (a == nullptr)
      fail(list->source(), "list must be an array of tappings, not " + typeName(*list));
    for (const toml::node& item : *a) {
      const toml::array* tap = item.as_array();
      if (tap == nullptr || tap->size() != 4) {
        fail(item.source(), "each tapping is [hour, kWh, needed degC, l/min]");
      }
      tp.taps.push_back({number(*tap->get(0), "the hour of a tapping"),
                         number(*tap->get(1), "the energy of a tapping"),
                         number(*tap->get(2), "the needed temperature of a tapping"),
                         number(*tap->get(3), "the flow of a tapping")});
      places.push_back(place(item.source()));
    }
  } else {
    const fs::path path = resolve(string(*file, "file"));
    s.inputFiles.push_back(path);
    const CsvTable csv = readCsv(path, place(file->source()));
    const std::vector<std::string> columns = {"time", "energy", "temperature", "flow"};
    if (csv.header != columns) {
      throw ScenarioError({path.string(), 1, 1},
                          "a tapping file has the columns time, energy, temperature, flow "
                          "(h, kWh, degC, l/min)");
    }
    for (std::size_t i = 0; i < csv.rows.size(); ++i) {
      const auto& r = csv.rows[i];
      tp.taps.push_back({r[0], r[1], r[2], r[3]});
      places.push_back({path.string(), csv.lines[i], 1});
    }
  }
  if (tp.taps.empty()) fail(t.source(), "the tapping list is empty");
  for (std::size_t i = 0; i < tp.taps.size(); ++i) {
    const Tap& tap = tp.taps[i];
    const std::string name = "tapping " + std::to_string(i + 1);
    auto bad = [&](const std::string& why) { throw ScenarioError(places[i], name + ": " + why); };
    if (!std::isfinite(tap.time) || (i > 0 && tap.time < tp.taps[i - 1].time)) {
      bad("times must not decrease");
    }
    if (tp.period > 0.0 && (tap.time < 0.0 || tap.time >= tp.period)) {
      bad("the times of a repeating list must lie in 0 ... period (excluded)");
    }
    if (!(tap.energy > 0.0) || !std::isfinite(tap.energy)) bad("the energy must be above 0 kWh");
    if (!(tap.flow > 0.0) || !std::isfinite(tap.flow)) bad("the flow must be above 0 l/min");
    if (!(tap.temperature <= tp.delivery)) {
      bad("needs " + formatNumber(tap.temperature) +
          " degC, more than the mixing valve delivers (delivery = " + formatNumber(tp.delivery) +
          " degC)");
    }
  }
  s.tapping = std::move(tp);
}

// ---------------------------------------------------------------- outputs

void Parser::outputs(const toml::table& t, Scenario& s) {
  onlyKeys(t, "[outputs]", {"columns", "interval", "totals", "initialRow"});
  if (const toml::node* n = t.get("interval")) {
    s.interval = number(*n, "interval");
    const double steps = s.interval / s.step;
    if (!(steps >= 0.5) || std::abs(steps - std::round(steps)) > 1e-6 * steps) {
      fail(n->source(), "interval must be a whole number of steps of " + formatNumber(s.step) +
                            " h, not " + formatNumber(s.interval) + " h");
    }
  }
  if (const toml::node* n = t.get("totals")) {
    const std::string p = string(*n, "totals");
    if (p == "daily") {
      s.totals = Period::daily;
    } else if (p == "monthly") {
      s.totals = Period::monthly;
    } else if (p == "yearly") {
      s.totals = Period::yearly;
    } else {
      fail(n->source(), "totals must be \"daily\", \"monthly\" or \"yearly\", not \"" + p + "\"");
    }
  }
  if (const toml::node* n = t.get("initialRow")) {
    if (!n->is_boolean()) fail(n->source(), "initialRow must be true or false");
    s.initialRow = *n->value<bool>();
  }
  const toml::node* c = t.get("columns");
  if (c == nullptr) return;
  if (c->is_string() && *c->value<std::string>() == "all") return;
  const toml::array* a = c->as_array();
  if (a == nullptr) fail(c->source(), "columns must be \"all\" or an array of output names");
  allColumns_ = false;
  s.outputs.clear();
  const std::vector<std::string> extra = runnerColumns(s);
  const std::size_t before = found_.size();
  for (const toml::node& item : *a) {
    attempt(item.source(), [&] {
      const std::string pattern = string(item, "an output column");
      std::vector<int> found;
      const bool glob = pattern.find('*') != std::string::npos;
      for (const CatalogEntry& e : outputCatalog()) {
        if (glob ? globMatch(pattern, e.name) : pattern == e.name) found.push_back(e.number);
      }
      for (std::size_t i = 0; i < extra.size(); ++i) {
        if (glob ? globMatch(pattern, extra[i]) : pattern == extra[i]) {
          found.push_back(kNumOutputs + 1 + static_cast<int>(i));
        }
      }
      if (found.empty() && glob) fail(item.source(), "no output matches '" + pattern + "'");
      if (found.empty() && (pattern.starts_with("control.") || pattern.starts_with("tapping."))) {
        std::string known;
        for (const std::string& x : extra) known += (known.empty() ? "" : ", ") + x;
        fail(item.source(), "no column '" + pattern + "': the controllers and the tapping list " +
                                "give " + (known.empty() ? "none" : known));
      }
      if (found.empty()) fail(item.source(), unknownNameMessage("output", pattern));
      for (int n : found) {
        if (std::find(s.outputs.begin(), s.outputs.end(), n) == s.outputs.end()) {
          s.outputs.push_back(n);
        }
      }
    });
  }
  if (s.outputs.empty() && found_.size() == before) fail(c->source(), "columns names no output");
}

void Parser::names(const toml::table& t, Scenario& s) {
  std::vector<std::string> known;
  for (int d = 1; d <= kNumPorts; ++d) known.push_back(indexed("port", d, ""));
  for (int k = 1; k <= kMaxHx; ++k) known.push_back(indexed("hx", k, ""));
  for (const char* bank : {"heatA", "heatB"}) {
    for (int i = 1; i <= kNumHeatInputs; ++i) known.push_back(indexed(bank, i, ""));
  }
  for (auto&& [key, node] : t) {
    const std::string k(key.str());
    if (std::find(known.begin(), known.end(), k) == known.end()) {
      fail(key.source(), "unknown key '" + k +
                             "' in [names]: ports, heat exchangers and heat inputs are named "
                             "(port1 ... port10, hx1 ... hx6, heatA1 ... heatB10)");
    }
    s.names[k] = string(node, k);
  }
}

// ---------------------------------------------------------------- checks

void Parser::check(Scenario& s) {
  std::vector<Diagnostic> found;
  const std::vector<Problem> parameterFaults = parameterProblems(s.parameters);
  for (const Problem& p : parameterFaults) {
    const Place& where = s.parameterPlace[static_cast<std::size_t>(p.number - 1)];
    const bool byDefault = where.line == 0 && where.file == file_;
    found.push_back({where, p.message + (byDefault ? " (the default value)" : "")});
  }
  const std::array<InputSource, kNumInputs> inputs = inputsWithControl(s);
  for (const Problem& p : inputProblems(s.parameters, inputs)) {
    found.push_back({inputs[static_cast<std::size_t>(p.number - 1)].place, p.message});
  }
  const std::size_t profile = static_cast<std::size_t>(parameterNumber("store.startProfile") - 1);
  if (s.parameters[profile] == 1.0 && s.initialProfile.empty()) {
    std::error_code ec;
    const fs::path ini = fs::path(s.label1) / "startProfile.ini";
    if (!fs::is_regular_file(ini, ec)) {
      found.push_back({s.parameterPlace[profile],
                       "store.startProfile is 1 but " + ini.string() + " does not exist"});
    }
  }
  if (!s.initialProfile.empty() && parameterFaults.empty()) {
    const std::size_t plugs = profilePlugs(s.initialProfile, s.parameters).size();
    const auto most = std::min<std::size_t>(
        static_cast<std::size_t>(
            s.parameters[static_cast<std::size_t>(parameterNumber("store.maxPlugs") - 1)]),
        static_cast<std::size_t>(kTopSentinel - 1));
    if (plugs > most) {
      found.push_back({s.initialProfilePlace,
                       "store.initialProfile needs " + std::to_string(plugs) +
                           " plugs (one layer per step, cut to the height of a plug), more than "
                           "store.maxPlugs allows (" +
                           std::to_string(most) + ")"});
    }
  }
  for (const Problem& p : parameterNotes(s.parameters)) {
    s.notes.push_back(
        {s.parameterPlace[static_cast<std::size_t>(p.number - 1)], "note: " + p.message});
  }
  checkControl(s, found);
  for (const Diagnostic& d : found) record(d, d.place);
}

void Parser::checkControl(const Scenario& s, std::vector<Diagnostic>& found) const {
  const TappingSpec& tp = s.tapping;
  if (tp.port == 0) return;
  const std::string flow = indexed("port", tp.port, ".massFlow");
  const std::string mains = indexed("port", tp.port, ".temperatureA");
  const InputSource& given = s.inputs[static_cast<std::size_t>(inputNumber(flow) - 1)];
  if (given.given()) {
    found.push_back({given.place, flow + " is set by the tapping list: leave it out"});
  }
  for (const ControllerSetup& c : s.controllers) {
    if (inputEntry(c.input).name == flow) {
      found.push_back(
          {c.place, "controller " + c.name + ": " + flow + " is set by the tapping list"});
    }
  }
  const InputSource& cold = s.inputs[static_cast<std::size_t>(inputNumber(mains) - 1)];
  const double warmest = cold.schedule ? cold.schedule->maxValue() : cold.constant;
  if (cold.given() && !(warmest < tp.delivery)) {
    found.push_back({cold.place, mains + ", the mains water of the tapping list, reaches " +
                                     formatNumber(warmest) +
                                     " degC: it must stay below the delivery temperature (" +
                                     formatNumber(tp.delivery) + " degC)"});
  }
}

}  // namespace

Scenario parseScenario(const std::string& text, const fs::path& file, bool checks,
                       const std::vector<std::string>& overrides) {
  Parser parser(file);
  toml::table root;
  try {
    root = toml::parse(text, file.string());
  } catch (const toml::parse_error& e) {
    throw ScenarioError(parser.place(e.source()), std::string(e.description()));
  }
  return parser.run(std::move(root), checks, overrides);
}

Scenario loadScenario(const fs::path& file, bool checks,
                      const std::vector<std::string>& overrides) {
  if (otherThanAFile(file)) {
    throw ScenarioError({file.string(), 0, 0}, "the scenario is not a regular file");
  }
  std::ifstream in(file, std::ios::binary);
  if (!in) throw ScenarioError({file.string(), 0, 0}, "cannot open the scenario file");
  std::ostringstream text;
  text << in.rdbuf();
  return parseScenario(text.str(), file, checks, overrides);
}

}  // namespace plugstore::runner
