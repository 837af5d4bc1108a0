#include "plugstore/scenario.h"

#include <toml++/toml.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <fstream>
#include <initializer_list>
#include <map>
#include <sstream>

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

  Place place(const toml::source_region& r) const {
    return {file_, static_cast<int>(r.begin.line), static_cast<int>(r.begin.column)};
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

  // Every key must be one of `keys`.
  void onlyKeys(const toml::table& t, const std::string& where,
                std::initializer_list<std::string_view> keys) const {
    for (auto&& [key, node] : t) {
      if (std::find(keys.begin(), keys.end(), key.str()) != keys.end()) continue;
      fail(key.source(), "unknown key '" + std::string(key.str()) + "' in " + where +
                             "; did you mean '" + std::string(nearestKey(key.str(), keys)) +
                             "'? (known: " + keyList(keys) + ")");
    }
  }

  fs::path resolve(const std::string& path) const {
    fs::path p(path);
    if (p.is_relative()) p = folder_ / p;
    return p.lexically_normal();
  }

  Scenario run(const toml::table& root, bool checks);

 private:
  void simulation(const toml::table& t, Scenario& s);
  void parameters(const toml::table& t, Scenario& s);
  void inputs(const toml::table& t, Scenario& s);
  void series(const toml::node& n, Scenario& s);
  void outputs(const toml::table& t, Scenario& s);
  void names(const toml::table& t, Scenario& s);
  void setInput(Scenario& s, const std::string& name, const toml::source_region& where,
                InputSource source);
  std::shared_ptr<const Schedule> inlineSchedule(const toml::table& t, const std::string& name,
                                                 std::string& origin) const;
  void check(Scenario& s) const;

  std::string file_;
  fs::path folder_;
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

// ---------------------------------------------------------------- sections

Scenario Parser::run(const toml::table& root, bool checks) {
  onlyKeys(
      root, "the scenario",
      {"title", "description", "simulation", "parameters", "inputs", "series", "outputs", "names"});
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

  if (const toml::node* n = root.get("title")) s.title = string(*n, "title");
  if (const toml::node* n = root.get("description")) s.description = string(*n, "description");
  if (const toml::node* n = root.get("simulation")) simulation(table(*n, "[simulation]"), s);
  if (s.label1.size() > 300) {
    throw ScenarioError({file_, 0, 0},
                        "label1 is longer than the 300 characters a host label "
                        "holds: " +
                            s.label1);
  }
  if (const toml::node* n = root.get("parameters")) parameters(table(*n, "[parameters]"), s);
  if (const toml::node* n = root.get("inputs")) inputs(table(*n, "[inputs]"), s);
  if (const toml::node* n = root.get("series")) series(*n, s);
  if (const toml::node* n = root.get("outputs")) outputs(table(*n, "[outputs]"), s);
  if (const toml::node* n = root.get("names")) names(table(*n, "[names]"), s);
  if (checks) check(s);
  return s;
}

void Parser::simulation(const toml::table& t, Scenario& s) {
  onlyKeys(t, "[simulation]", {"start", "stop", "step", "iterations", "unit", "label1"});
  if (const toml::node* n = t.get("start")) s.start = number(*n, "start");
  if (const toml::node* n = t.get("stop")) s.stop = number(*n, "stop");
  if (const toml::node* n = t.get("step")) {
    s.step = number(*n, "step");
    if (!(s.step > 0.0) || !std::isfinite(s.step)) fail(n->source(), "step must be above 0 h");
  }
  if (!std::isfinite(s.start) || !std::isfinite(s.stop) || !(s.stop > s.start)) {
    fail(t.source(), "the simulation must stop after it starts (start " + formatNumber(s.start) +
                         " h, stop " + formatNumber(s.stop) + " h)");
  }
  const double steps = (s.stop - s.start) / s.step;
  if (std::abs(steps - std::round(steps)) > 1e-6 * std::max(1.0, steps)) {
    fail(t.source(), "stop - start (" + formatNumber(s.stop - s.start) +
                         " h) is not a whole number of steps of " + formatNumber(s.step) + " h");
  }
  if (const toml::node* n = t.get("iterations")) {
    const long it = integer(*n, "iterations");
    if (it < 1 || it > 1000) fail(n->source(), "iterations must be 1 ... 1000");
    s.iterations = static_cast<int>(it);
  }
  if (const toml::node* n = t.get("unit")) {
    const long unit = integer(*n, "unit");
    if (unit < 1 || unit > 999) fail(n->source(), "unit must be 1 ... 999");
    s.unit = static_cast<int>(unit);
  }
  if (const toml::node* n = t.get("label1")) {
    const fs::path folder = resolve(string(*n, "label1"));
    std::error_code ec;
    if (!fs::is_directory(folder, ec)) {
      fail(n->source(), "label1: the folder " + folder.string() + " does not exist");
    }
    s.label1 = folder.string();
    while (s.label1.size() > 1 && s.label1.back() == '/') s.label1.pop_back();
  }
}

void Parser::parameters(const toml::table& t, Scenario& s) {
  if (const toml::node* n = t.get("positional")) {
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
                            " numbers or the text of a host's parameter list, not " + typeName(*n));
    }
    if (values.size() != static_cast<std::size_t>(kNumParameters)) {
      fail(n->source(), "positional has " + std::to_string(values.size()) + " values instead of " +
                            std::to_string(kNumParameters));
    }
    std::copy(values.begin(), values.end(), s.parameters.begin());
    for (Place& p : s.parameterPlace) p = place(n->source());
  }
  flatten(
      t, "",
      [&](const std::string& name, const toml::key& key, const toml::node& node) {
        if (name == "positional") return;
        const CatalogEntry* e = findParameter(name);
        if (e == nullptr) fail(key.source(), unknownNameMessage("parameter", name));
        const auto i = static_cast<std::size_t>(e->number - 1);
        s.parameters[i] = number(node, name);
        s.parameterPlace[i] = place(key.source());
      },
      [](const std::string&) { return false; });
}

std::shared_ptr<const Schedule> Parser::inlineSchedule(const toml::table& t,
                                                       const std::string& name,
                                                       std::string& origin) const {
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
    period = number(*n, "period");
    if (!(period > 0.0)) fail(n->source(), "period must be above 0 h");
  }
  Interpolation mode = Interpolation::kHold;
  if (const toml::node* n = t.get("interpolation")) {
    const std::string m = string(*n, "interpolation");
    if (m == "linear") {
      mode = Interpolation::kLinear;
    } else if (m != "hold") {
      fail(n->source(), "interpolation must be \"hold\" or \"linear\", not \"" + m + "\"");
    }
  }
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
        if (findInput(name) == nullptr) fail(key.source(), unknownNameMessage("input", name));
        InputSource src;
        if (const toml::table* st = node.as_table()) {
          src.schedule = inlineSchedule(*st, name, src.origin);
        } else {
          src.constant = number(node, name);
          src.origin = "constant";
        }
        setInput(s, name, key.source(), std::move(src));
      },
      // A table at a full input name is that input's schedule.
      [](const std::string& name) { return findInput(name) != nullptr; });
}

// ---------------------------------------------------------------- CSV series

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

CsvTable readCsv(const fs::path& path, const Place& from) {
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

void Parser::series(const toml::node& n, Scenario& s) {
  const toml::array* list = n.as_array();
  if (list == nullptr || !list->is_array_of_tables()) {
    fail(n.source(), "series must be written as [[series]] tables");
  }
  for (const toml::node& item : *list) {
    const toml::table& t = *item.as_table();
    onlyKeys(t, "[[series]]", {"file", "interpolation", "period", "columns"});
    const toml::node* fileNode = t.get("file");
    if (fileNode == nullptr) fail(t.source(), "[[series]] needs 'file', the CSV file");
    const fs::path path = resolve(string(*fileNode, "file"));
    const CsvTable csv = readCsv(path, place(fileNode->source()));
    const std::string csvName = path.string();

    double period = 0.0;
    if (const toml::node* p = t.get("period")) {
      period = number(*p, "period");
      if (!(period > 0.0)) fail(p->source(), "period must be above 0 h");
    }
    Interpolation mode = Interpolation::kHold;
    if (const toml::node* p = t.get("interpolation")) {
      const std::string m = string(*p, "interpolation");
      if (m == "linear") {
        mode = Interpolation::kLinear;
      } else if (m != "hold") {
        fail(p->source(), "interpolation must be \"hold\" or \"linear\", not \"" + m + "\"");
      }
    }
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
          fail(key.source(), "the series " + csvName + " has no column '" + std::string(key.str()) +
                                 "'; did you mean '" + nearest + "'?");
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
  }
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
  s.outputs.clear();
  for (const toml::node& item : *a) {
    const std::string pattern = string(item, "an output column");
    std::vector<int> found;
    if (pattern.find('*') != std::string::npos) {
      for (const CatalogEntry& e : outputCatalog()) {
        if (globMatch(pattern, e.name)) found.push_back(e.number);
      }
      if (found.empty()) fail(item.source(), "no output matches '" + pattern + "'");
    } else {
      const CatalogEntry* e = findOutput(pattern);
      if (e == nullptr) fail(item.source(), unknownNameMessage("output", pattern));
      found.push_back(e->number);
    }
    for (int n : found) {
      if (std::find(s.outputs.begin(), s.outputs.end(), n) == s.outputs.end()) {
        s.outputs.push_back(n);
      }
    }
  }
  if (s.outputs.empty()) fail(c->source(), "columns names no output");
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

void Parser::check(Scenario& s) const {
  std::vector<Diagnostic> found;
  for (const Problem& p : parameterProblems(s.parameters)) {
    const Place& where = s.parameterPlace[static_cast<std::size_t>(p.number - 1)];
    found.push_back({where, p.message + (where.line == 0 ? " (the default value)" : "")});
  }
  for (const Problem& p : inputProblems(s.parameters, s.inputs)) {
    found.push_back({s.inputs[static_cast<std::size_t>(p.number - 1)].place, p.message});
  }
  const std::size_t profile = static_cast<std::size_t>(parameterNumber("store.startProfile") - 1);
  if (s.parameters[profile] == 1.0) {
    std::error_code ec;
    const fs::path ini = fs::path(s.label1) / "startProfile.ini";
    if (!fs::is_regular_file(ini, ec)) {
      found.push_back({s.parameterPlace[profile],
                       "store.startProfile is 1 but " + ini.string() + " does not exist"});
    }
  }
  if (!found.empty()) throw ScenarioError(std::move(found));
}

}  // namespace

Scenario parseScenario(const std::string& text, const fs::path& file, bool checks) {
  Parser parser(file);
  toml::table root;
  try {
    root = toml::parse(text, file.string());
  } catch (const toml::parse_error& e) {
    throw ScenarioError(parser.place(e.source()), std::string(e.description()));
  }
  return parser.run(root, checks);
}

Scenario loadScenario(const fs::path& file, bool checks) {
  std::ifstream in(file, std::ios::binary);
  if (!in) throw ScenarioError({file.string(), 0, 0}, "cannot open the scenario file");
  std::ostringstream text;
  text << in.rdbuf();
  return parseScenario(text.str(), file, checks);
}

}  // namespace plugstore::runner
