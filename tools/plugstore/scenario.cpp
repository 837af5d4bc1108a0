// Reading a scenario: the errors, the columns of a scenario, and the order in
// which the section readers (scenario_*.cpp) read the sections of a file.
#include "plugstore/scenario.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <sstream>

#include "plugstore/collector.h"
#include "plugstore/defaults.h"
#include "plugstore/load.h"
#include "plugstore/names.h"
#include "plugstore/scenario_reader.h"
#include "plugstore/toml_depth.h"

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
  for (const CollectorSetup& c : s.collectors) {
    for (const char* n : {".temperature", ".outlet", ".gain", ".flow"}) {
      names.push_back("collector." + c.name + n);
    }
  }
  for (const LoadSpec& l : s.loads) {
    for (const char* n : {".asked", ".delivered", ".supply"}) names.push_back("load." + l.name + n);
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
  collectorInputs(s, inputs);
  for (const LoadSpec& l : s.loads) {
    for (const char* field : {".massFlow", ".temperatureA"}) {
      InputSource& in =
          inputs[static_cast<std::size_t>(inputNumber(indexed("port", l.port, field)) - 1)];
      in = InputSource{};
      const double back = std::isnan(l.returnTemperature) ? l.flow - l.spread : l.returnTemperature;
      in.constant = std::string_view(field) == ".massFlow"
                        ? largestFlow(l, s.parameters[static_cast<std::size_t>(
                                             parameterNumber("store.specificHeat") - 1)])
                        : back;
      in.origin = "load " + l.name;
      in.place = l.place;
    }
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
  if (name.starts_with("collector.")) return collectorColumnUnit(name);
  if (name.starts_with("load.")) return name.ends_with(".supply") ? "degC" : "kW";
  return "-";
}

namespace reading {

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
              "tapping", "collector", "load", "outputs", "names"});
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
  if (const toml::node* n = root.get("collector")) collectors(*n, s);
  if (const toml::node* n = root.get("controller")) controllers(*n, s);
  if (const toml::node* n = root.get("tapping")) {
    attempt(n->source(), [&] { tapping(table(*n, "[tapping]"), s); });
  }
  if (const toml::node* n = root.get("load")) loads(*n, s);
  collectorLoops(s);
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

}  // namespace reading

Scenario parseScenario(const std::string& text, const fs::path& file, bool checks,
                       const std::vector<std::string>& overrides, bool allowUnusual) {
  reading::Parser parser(file);
  // Before parsing: the parser would recurse once per level of nesting.
  if (const TomlDepthFault deep = tomlDepthFault(text); deep.line > 0) {
    throw ScenarioError({file.string(), deep.line, deep.column}, deep.message);
  }
  if (allowUnusual) parser.allowUnusual();
  toml::table root;
  try {
    root = toml::parse(text, file.string());
  } catch (const toml::parse_error& e) {
    throw ScenarioError(parser.place(e.source()), std::string(e.description()));
  }
  return parser.run(std::move(root), checks, overrides);
}

Scenario loadScenario(const fs::path& file, bool checks, const std::vector<std::string>& overrides,
                      bool allowUnusual) {
  if (reading::otherThanAFile(file)) {
    throw ScenarioError({file.string(), 0, 0}, "the scenario is not a regular file");
  }
  std::ifstream in(file, std::ios::binary);
  if (!in) throw ScenarioError({file.string(), 0, 0}, "cannot open the scenario file");
  std::ostringstream text;
  text << in.rdbuf();
  return parseScenario(text.str(), file, checks, overrides, allowUnusual);
}

}  // namespace plugstore::runner
