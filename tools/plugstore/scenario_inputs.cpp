// [inputs]: constants, daily profiles and schedules, and links to other units.
#include "plugstore/names.h"
#include "plugstore/scenario_reader.h"

namespace plugstore::runner::reading {

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

}  // namespace plugstore::runner::reading
