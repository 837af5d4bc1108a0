// [[controller]]: thermostats and differential controllers that set an input.
#include <algorithm>
#include <cctype>

#include "plugstore/names.h"
#include "plugstore/scenario_reader.h"

namespace plugstore::runner::reading {

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
  onlyKeys(t, "[[controller]]", kControllerKeys);
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
    c.sensor = sensed(need("sensor"), "sensor", s);
    c.on = number(need("on"), "on");
    c.off = number(need("off"), "off");
  } else {
    c.kind = ControllerKind::kDifferential;
    c.sensor = sensed(need("hot"), "hot", s);
    c.reference = sensed(need("cold"), "cold", s);
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

}  // namespace plugstore::runner::reading
