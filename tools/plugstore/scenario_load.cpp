// [[load]]: space-heating loads, each through a port of its own, and their
// notes at `check` time.
#include <algorithm>
#include <cctype>
#include <cmath>

#include "plugstore/names.h"
#include "plugstore/scenario_reader.h"

namespace plugstore::runner::reading {

void Parser::loads(const toml::node& n, Scenario& s) {
  const toml::array* list = n.as_array();
  if (list == nullptr || !list->is_array_of_tables()) {
    record({place(n.source()), "loads must be written as [[load]] tables"}, place(n.source()));
    return;
  }
  for (const toml::node& item : *list) {
    attempt(item.source(), [&] { load(*item.as_table(), s); });
  }
}

// A value that varies in time: a number, a schedule table, a column of a CSV
// file ({file = "weather.csv", column = "ambient"}), or the name of an input,
// whose source it shares.
InputSource Parser::timeValue(const toml::node& n, const std::string& what, Scenario& s) {
  InputSource src;
  src.place = place(n.source());
  if (n.is_number()) {
    src.constant = number(n, what);
    src.origin = "constant";
    return src;
  }
  if (n.is_string()) {
    const std::string name = string(n, what);
    const CatalogEntry* e = findInput(name);
    if (e == nullptr) fail(n.source(), what + ": " + unknownNameMessage("input", name));
    src = s.inputs[static_cast<std::size_t>(e->number - 1)];
    if (src.link) fail(n.source(), what + ": " + name + " comes from another unit");
    src.origin = name;
    src.place = place(n.source());
    return src;
  }
  const toml::table& t = table(n, what);
  if (!t.contains("file")) {
    src.schedule = inlineSchedule(t, what, src.origin);
    return src;
  }
  onlyKeys(t, what, {"file", "column", "period", "interpolation"});
  const toml::node* columnNode = t.get("column");
  if (columnNode == nullptr) fail(t.source(), what + " needs 'column' with 'file'");
  const std::string column = string(*columnNode, "column");
  const fs::path path = resolve(pathText(*t.get("file"), "file"));
  s.inputFiles.push_back(path);
  CsvTable csv = readCsv(path, place(t.get("file")->source()));
  const auto it = std::find(csv.header.begin() + 1, csv.header.end(), column);
  if (it == csv.header.end()) {
    fail(columnNode->source(), "the file " + path.string() + " has no column '" + column + "'");
  }
  const auto c = static_cast<std::size_t>(it - csv.header.begin());
  double period = 0.0;
  if (const toml::node* p = t.get("period")) period = positivePeriod(*p);
  std::size_t point = 0;
  const std::string why = Schedule::problem(csv.columns[0], csv.columns[c], period, &point);
  if (!why.empty()) {
    throw ScenarioError({path.string(), point < csv.lines.size() ? csv.lines[point] : 0, 0},
                        "column " + column + ": " + why);
  }
  src.schedule = std::make_shared<const Schedule>(csv.columns[0], std::move(csv.columns[c]),
                                                  interpolation(t), period);
  src.origin = path.filename().string() + ":" + column;
  return src;
}

void Parser::load(const toml::table& t, Scenario& s) {
  onlyKeys(t, "[[load]]", kLoadKeys);
  LoadSpec l;
  l.place = place(t.source());
  auto need = [&](const char* key) -> const toml::node& {
    const toml::node* n = t.get(key);
    if (n == nullptr) fail(t.source(), "[[load]] needs '" + std::string(key) + "'");
    return *n;
  };
  const toml::node& nameNode = need("name");
  l.name = string(nameNode, "name");
  const bool plain = !l.name.empty() && std::all_of(l.name.begin(), l.name.end(), [](char ch) {
    return std::isalnum(static_cast<unsigned char>(ch)) != 0 || ch == '_' || ch == '-';
  });
  if (!plain) fail(nameNode.source(), "a load's name is letters, digits, '_' and '-'");
  const std::string who = "load " + l.name;
  for (const LoadSpec& other : s.loads) {
    if (other.name == l.name) {
      fail(nameNode.source(), "a load named '" + l.name + "' exists already (line " +
                                  std::to_string(other.place.line) + ")");
    }
  }
  const toml::node& portNode = need("port");
  const long port = integer(portNode, "port");
  if (port < 1 || port > kNumPorts) fail(portNode.source(), "port must be 1 ... 10");
  l.port = static_cast<int>(port);
  // The port is the load's alone: it sets the port's flow and inlet.
  if (s.tapping.port == l.port) {
    fail(portNode.source(), who + ": port " + std::to_string(l.port) +
                                " is the tapping list's (line " +
                                std::to_string(s.tapping.place.line) + ")");
  }
  for (const LoadSpec& other : s.loads) {
    if (other.port == l.port) {
      fail(portNode.source(), who + ": port " + std::to_string(l.port) + " is load " + other.name +
                                  "'s (line " + std::to_string(other.place.line) + ")");
    }
  }
  for (const char* field : {".massFlow", ".temperatureA"}) {
    const std::string name = indexed("port", l.port, field);
    const int input = inputNumber(name);
    const InputSource& given = s.inputs[static_cast<std::size_t>(input - 1)];
    if (given.link) {
      fail(portNode.source(), who + ": port " + std::to_string(l.port) +
                                  " is linked to another unit (" + name + " at line " +
                                  std::to_string(given.place.line) + ")");
    }
    if (given.given()) {
      fail(given.place.line > 0 ? portNode.source() : t.source(),
           who + ": " + name + " is set by the load: leave it out (given at line " +
               std::to_string(given.place.line) + " of " + given.place.file + ")");
    }
    for (const ControllerSetup& c : s.controllers) {
      if (c.input == input)
        fail(portNode.source(), who + ": " + name + " is set by controller " + c.name);
    }
  }

  auto value = [&](const char* key, double& into) {
    if (const toml::node* n = t.get(key)) into = number(*n, key);
  };
  value("designLoad", l.designLoad);
  value("designAmbient", l.designAmbient);
  value("balancePoint", l.balancePoint);
  value("flow", l.flow);
  value("flowAtBalance", l.flowAtBalance);
  value("return", l.returnTemperature);
  value("spread", l.spread);
  value("maxFlow", l.maxFlow);
  value("maxShort", l.maxShort);
  if (const toml::node* n = t.get("demand")) l.demand = timeValue(*n, "demand", s);
  if (const toml::node* n = t.get("ambient")) l.ambient = timeValue(*n, "ambient", s);

  auto bad = [&](const char* key, const std::string& why) {
    const toml::node* n = t.get(key);
    fail(n != nullptr ? n->source() : t.source(), who + ": " + why);
  };
  const bool curve = l.demand.origin.empty();
  if (curve && !(l.designLoad > 0.0)) {
    bad("designLoad",
        "give 'demand' (kW), or 'designLoad' (kW, above 0) and 'ambient' for the "
        "heating curve");
  }
  if ((curve || !std::isnan(l.flowAtBalance)) && l.ambient.origin.empty()) {
    bad("ambient", curve ? "the heating curve needs 'ambient' (degC)"
                         : "flowAtBalance needs 'ambient' (degC) for its heating curve");
  }
  if (!(l.balancePoint > l.designAmbient)) {
    bad("balancePoint",
        "balancePoint must lie above designAmbient (" + formatNumber(l.designAmbient) + " degC)");
  }
  if (!(l.designLoad >= 0.0) || !std::isfinite(l.designLoad)) {
    bad("designLoad", "designLoad must be 0 kW or more");
  }
  const bool fixedReturn = !std::isnan(l.returnTemperature);
  if (fixedReturn == t.contains("spread")) {
    bad("return",
        "give either 'return' (degC) or 'spread' (K between flow and return at the "
        "design load)");
  }
  const double coolestFlow =
      std::isnan(l.flowAtBalance) ? l.flow : std::min(l.flow, l.flowAtBalance);
  if (fixedReturn && !(l.returnTemperature < coolestFlow)) {
    bad("return", "return (" + formatNumber(l.returnTemperature) +
                      " degC) must lie below the flow temperature (" + formatNumber(coolestFlow) +
                      " degC at the least)");
  }
  if (!fixedReturn && !(l.spread > 0.0 && l.spread < coolestFlow)) {
    bad("spread", "spread must be above 0 K and below the flow temperature");
  }
  if (!(l.maxFlow > 0.0) || !std::isfinite(l.maxFlow))
    bad("maxFlow", "maxFlow must be above 0 kg/h");
  if (!(l.maxShort >= 0.0 && l.maxShort <= 1.0)) bad("maxShort", "maxShort must be 0 ... 1");
  s.loads.push_back(std::move(l));
}

// A load draws the store's water at B; heat reaches B only from a heater or
// coil at or below it.
void Parser::checkLoads(Scenario& s) const {
  auto parameter = [&s](const std::string& name) {
    return s.parameters[static_cast<std::size_t>(parameterNumber(name) - 1)];
  };
  const std::array<InputSource, kNumInputs> inputs = inputsWithControl(s);
  double lowestHeat = 2.0;  // relative height of the lowest heater or coil; 2: none
  for (const char* bank : {"heatA", "heatB"}) {
    for (int i = 1; i <= kNumHeatInputs; ++i) {
      const InputSource& power =
          inputs[static_cast<std::size_t>(inputNumber(indexed(bank, i, ".power")) - 1)];
      const double most = power.schedule ? power.schedule->maxValue() : power.constant;
      const double z = parameter(indexed(bank, i, ".height"));
      if (power.given() && most > 0.0 && z > 0.0) lowestHeat = std::min(lowestHeat, z);
    }
  }
  const auto coils = static_cast<int>(parameter("hx.count"));
  for (int k = 1; k <= std::min(coils, 6); ++k) {
    lowestHeat = std::min({lowestHeat, parameter(indexed("hx", k, ".inletHeight")),
                           parameter(indexed("hx", k, ".outletHeight"))});
  }
  for (const LoadSpec& l : s.loads) {
    const double out = parameter(indexed("port", l.port, ".heightB"));
    const double in = parameter(indexed("port", l.port, ".heightA"));
    const std::string who = "note: load " + l.name + " draws through port " +
                            std::to_string(l.port) + " at height " + formatNumber(out) +
                            " (connection B), ";
    if (out < in) {
      s.notes.push_back({l.place, who + "below its return let in at " + formatNumber(in) + " (A)"});
    }
    if (lowestHeat <= 1.0 && out < lowestHeat) {
      s.notes.push_back({l.place, who + "below every heater and coil (the lowest at " +
                                      formatNumber(lowestHeat) +
                                      "): its water may not reach the flow temperature"});
    }
  }
}

}  // namespace plugstore::runner::reading
