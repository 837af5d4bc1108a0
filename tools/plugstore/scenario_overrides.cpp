// -D name=value: settings of the command line that replace the file's.
#include <algorithm>

#include "plugstore/names.h"
#include "plugstore/scenario_reader.h"
#include "plugstore/toml_depth.h"

namespace plugstore::runner::reading {

namespace {

// A section of the scenario that -D reaches by dotted name: the value is put
// into the section's table before it is read, so that its reader checks it as
// if the file gave it, and faults name the -D setting. Another section joins
// with one line in kSections: its key in the scenario (also the prefix of its
// names), whether its tables are told apart by name, whether it is common to
// all units, and the keys its reader takes, as an array beside
// kControllerKeys in scenario_reader.h that its reader passes to onlyKeys.
// For [[load]] tables: {"load", true, false, kLoadKeys} gives
// -D load.NAME.KEY and -D UNIT.load.NAME.KEY, with their messages.
struct Section {
  std::string_view key;  // "controller": -D controller.NAME.KEY
  bool named;   // a list of tables told apart by their `name` ([[controller]]), or one table
  bool common;  // in the scenario's root even with [[unit]] tables; made when absent
  Keys keys;
};

constexpr std::array<Section, 5> kSections = {{
    {"simulation", false, true, kSimulationKeys},
    {"tapping", false, false, kTappingKeys},
    {"controller", true, false, kControllerKeys},
    {"collector", true, false, kCollectorKeys},
    {"load", true, false, kLoadKeys},
}};

std::string title(const Section& c) {
  return c.named ? "[[" + std::string(c.key) + "]]" : "[" + std::string(c.key) + "]";
}

std::string form(const Section& c) { return std::string(c.key) + (c.named ? ".NAME.KEY" : ".KEY"); }

const Section* sectionOf(std::string_view name) {
  for (const Section& c : kSections) {
    if (name.starts_with(c.key) && name.size() > c.key.size() && name[c.key.size()] == '.') {
      return &c;
    }
  }
  return nullptr;
}

std::string_view firstPart(std::string_view name) { return name.substr(0, name.find('.')); }

// Puts the value of `setting` (`rest` after the section's prefix) into its
// table in `store` (the scenario's root, or the [[unit]] table of its
// unit); the fault when it cannot, else empty.
std::string putSetting(const Section& c, const std::string& rest, toml::table& root,
                       toml::table& store, toml::node& value, const std::string& unit) {
  const std::string whose = unit.empty() ? "the scenario" : "unit " + unit;
  std::string name;
  std::string key = rest;
  if (c.named) {
    const std::size_t dot = rest.find('.');
    if (dot == std::string::npos || dot == 0 || dot + 1 == rest.size()) {
      return "-D " + form(c) + " sets KEY of the " + title(c) + " named NAME, as in -D " +
             std::string(c.key) + ".heater.on=55";
    }
    name = rest.substr(0, dot);
    key = rest.substr(dot + 1);
  }
  if (std::find(c.keys.begin(), c.keys.end(), key) == c.keys.end() || (c.named && key == "name")) {
    return "unknown key '" + key + "' in " + title(c) + "; did you mean '" +
           std::string(nearestKey(key, c.keys)) + "'?";
  }
  toml::table& container = c.common ? root : store;
  if (!container.contains(c.key)) {
    if (!c.common) return whose + " has no " + title(c) + " for -D to change";
    container.insert(c.key, toml::table{});
  }
  toml::table* target = container.get(c.key)->as_table();
  if (c.named) {
    toml::array* list = container.get(c.key)->as_array();
    std::vector<std::string_view> names;
    target = nullptr;
    for (std::size_t i = 0; list != nullptr && i < list->size(); ++i) {
      toml::table* t = list->get(i)->as_table();
      const toml::node* n = t != nullptr ? t->get("name") : nullptr;
      if (n == nullptr || !n->is_string()) continue;
      names.push_back(n->as_string()->get());
      if (target == nullptr && names.back() == name) target = t;
    }
    if (target == nullptr && !names.empty()) {
      return "no " + title(c) + " of " + whose + " is named '" + name + "'; did you mean '" +
             std::string(nearestKey(name, names)) + "'? (named: " + keyList(names) + ")";
    }
  }
  // A section the file writes wrongly is its reader's fault to report.
  if (target == nullptr) return {};
  value.visit([&](auto&& v) { target->insert_or_assign(key, std::move(v)); });
  return {};
}

// The nearest name -D takes: among the catalog names that begin as `name`
// does (port1.*, store.*), else among all of them; a section misspelt gets
// its own name back (controler.a.on -> controller.a.on).
std::string nearestSetting(const std::string& name) {
  const std::string_view head = firstPart(name);
  std::string_view best;
  std::size_t bestDistance = 0;
  bool sameHead = false;
  for (const auto& table : {parameterCatalog(), inputCatalog()}) {
    for (const CatalogEntry& e : table) {
      const bool same = firstPart(e.name) == head;
      const std::size_t d = editDistance(name, e.name);
      if (best.empty() || (same && !sameHead) || (same == sameHead && d < bestDistance)) {
        best = e.name;
        bestDistance = d;
        sameHead = same;
      }
    }
  }
  for (const Section& c : kSections) {
    if (!sameHead && head.size() < name.size() && editDistance(head, c.key) <= 2) {
      return std::string(c.key) + name.substr(head.size());
    }
  }
  return std::string(best);
}

}  // namespace

std::vector<Parser::Override> Parser::readOverrides(const std::vector<std::string>& texts,
                                                    toml::table& root,
                                                    const std::vector<std::string>& unitNames) {
  std::vector<Override> found;
  for (const std::string& text : texts) {
    const std::string source = "-D " + text;
    const Place where{source, 0, 0};
    const std::size_t eq = text.find('=');
    std::string name = eq == std::string::npos ? "" : trimmed(text.substr(0, eq));
    // With several units a setting names its unit first: buffer.store.volume.
    std::string unit;
    std::size_t unitIndex = 0;
    for (std::size_t i = 0; i < unitNames.size(); ++i) {
      const std::string& u = unitNames[i];
      if (!u.empty() && name.starts_with(u + ".")) {
        unit = u;
        unitIndex = i;
        name = name.substr(u.size() + 1);
      }
    }
    const Section* section = sectionOf(name);
    if (!unitNames.empty() && unit.empty() && !(section != nullptr && section->common) &&
        !name.empty()) {
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
    if (section != nullptr) {
      toml::table* store = &root;
      if (!unit.empty()) store = root.get("unit")->as_array()->get(unitIndex)->as_table();
      const std::string fault = putSetting(*section, name.substr(section->key.size() + 1), root,
                                           *store, *doc.get("v"), unit);
      if (!fault.empty()) record({where, fault}, where);
      continue;
    }
    if (name == "store.initialProfile" || findParameter(name) != nullptr ||
        findInput(name) != nullptr) {
      found.push_back({name, std::move(doc), where, unit});
      continue;
    }
    std::string forms = "a parameter, an input";
    for (std::size_t i = 0; i < kSections.size(); ++i) {
      forms += (i + 1 < kSections.size() ? ", " : " or ") + form(kSections[i]);
    }
    record({where, "unknown name '" + name + "': -D sets " + forms + "; did you mean '" +
                       nearestSetting(name) + "'?"},
           where);
  }
  return found;
}

}  // namespace plugstore::runner::reading
