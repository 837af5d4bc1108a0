// [outputs]: the CSV columns, the interval of its rows, totals by period.
#include <algorithm>
#include <cmath>

#include "plugstore/names.h"
#include "plugstore/scenario_reader.h"

namespace plugstore::runner::reading {

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

}  // namespace plugstore::runner::reading
