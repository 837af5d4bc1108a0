// -D name=value: settings of the command line that replace the file's.
#include <algorithm>

#include "plugstore/names.h"
#include "plugstore/scenario_reader.h"
#include "plugstore/toml_depth.h"

namespace plugstore::runner::reading {

std::vector<Parser::Override> Parser::readOverrides(const std::vector<std::string>& texts,
                                                    toml::table& root,
                                                    const std::vector<std::string>& unitNames) {
  const std::initializer_list<std::string_view> kSimulationKeys = {
      "start",         "stop",  "step", "iterations", "tolerance",
      "maxIterations", "links", "unit", "label1"};
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
    if (const TomlDepthFault deep = tomlDepthFault("v = " + value); deep.line > 0) {
      record({where, deep.message}, where);
      continue;
    }
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

}  // namespace plugstore::runner::reading
