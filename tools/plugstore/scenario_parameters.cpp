// [parameters]: the 219 parameters by name or as a positional list, and the
// initial temperature profile.
#include <algorithm>

#include "plugstore/deck.h"
#include "plugstore/names.h"
#include "plugstore/scenario_reader.h"

namespace plugstore::runner::reading {

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

}  // namespace plugstore::runner::reading
