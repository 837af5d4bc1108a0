// [[unit]] tables: several stores in one scenario, and the links that feed
// one unit's outputs to another's inputs.
#include <algorithm>
#include <cctype>

#include "host/unit_stores.h"
#include "plugstore/defaults.h"
#include "plugstore/names.h"
#include "plugstore/scenario_reader.h"

namespace plugstore::runner::reading {

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
    u.tolerance = s.tolerance;
    u.maxIterations = s.maxIterations;
    u.laggedLinks = s.laggedLinks;
    u.unit = s.unit + static_cast<int>(s.units.size());  // numbered on from the first
    u.label1 = s.label1;
    onlyKeys(t, "[[unit]]",
             {"name", "unit", "label1", "parameters", "inputs", "series", "controller", "tapping",
              "collector", "load", "outputs", "names"});
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

}  // namespace plugstore::runner::reading
