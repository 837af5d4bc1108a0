// [[series]]: inputs from CSV files of hourly values, and the CSV reader
// the tapping list shares.
#include <charconv>
#include <cmath>
#include <fstream>

#include "plugstore/names.h"
#include "plugstore/scenario_reader.h"

namespace plugstore::runner::reading {

std::string trimmed(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) {
    s.remove_suffix(1);
  }
  if (s.size() >= 2 && s.front() == '"' && s.back() == '"') s = s.substr(1, s.size() - 2);
  return std::string(s);
}

bool otherThanAFile(const fs::path& path) {
  std::error_code ec;
  return fs::exists(path, ec) && !fs::is_regular_file(path, ec);
}

CsvTable readCsv(const fs::path& path, const Place& from) {
  if (otherThanAFile(path)) {
    throw ScenarioError(from, "the series file " + path.string() + " is not a regular file");
  }
  std::ifstream in(path);
  if (!in) throw ScenarioError(from, "cannot open the series file " + path.string());
  CsvTable t;
  std::string line;
  int number = 0;
  const std::string name = path.string();
  while (std::getline(in, line)) {
    ++number;
    const std::string_view text(line);
    const std::size_t first = text.find_first_not_of(" \t\r");
    if (first == std::string_view::npos || text[first] == '#') continue;
    // The fields of the line, read in place: no string is made for a value.
    std::size_t field = 0;
    std::size_t start = 0;
    while (true) {
      const std::size_t comma = text.find(',', start);
      std::string_view f = text.substr(start, comma - start);
      const std::size_t lead = std::min(f.find_first_not_of(" \t"), f.size());
      const int column = static_cast<int>(start + lead) + 1;
      f.remove_prefix(lead);
      while (!f.empty() && (f.back() == ' ' || f.back() == '\t' || f.back() == '\r')) {
        f.remove_suffix(1);
      }
      if (t.header.empty() || t.columns.empty()) {
        t.header.push_back(trimmed(f));
        t.headerColumns.push_back(column);
      } else if (field < t.columns.size()) {
        if (f.size() >= 2 && f.front() == '"' && f.back() == '"') f = f.substr(1, f.size() - 2);
        double v = 0.0;
        const char* begin = f.data() + (!f.empty() && f.front() == '+' ? 1 : 0);
        const auto r = std::from_chars(begin, f.data() + f.size(), v);
        if (f.empty() || r.ec != std::errc() || r.ptr != f.data() + f.size() || !std::isfinite(v)) {
          throw ScenarioError({name, number, column}, "'" + trimmed(f) + "' in column " +
                                                          t.header[field] + " is not a number");
        }
        t.columns[field].push_back(v);
      }
      ++field;
      if (comma == std::string_view::npos) break;
      start = comma + 1;
    }
    if (t.columns.empty()) {
      if (t.header.size() < 2) {
        throw ScenarioError({name, number, 1},
                            "a series needs a header: the time in hours, then named columns");
      }
      t.columns.resize(t.header.size());
      continue;
    }
    if (field != t.header.size()) {
      throw ScenarioError({name, number, 1}, "expected " + std::to_string(t.header.size()) +
                                                 " values, found " + std::to_string(field));
    }
    t.lines.push_back(number);
  }
  if (t.header.empty()) throw ScenarioError({name, 0, 0}, "the series file is empty");
  if (t.rows() == 0) throw ScenarioError({name, 0, 0}, "the series file has no rows");
  for (std::vector<double>& c : t.columns) c.shrink_to_fit();
  return t;
}

void Parser::series(const toml::node& n, Scenario& s) {
  const toml::array* list = n.as_array();
  if (list == nullptr || !list->is_array_of_tables()) {
    record({place(n.source()), "series must be written as [[series]] tables"}, place(n.source()));
    return;
  }
  for (const toml::node& item : *list) {
    attempt(item.source(), [&] {
      const toml::table& t = *item.as_table();
      onlyKeys(t, "[[series]]",
               {"file", "epw", "tilt", "azimuth", "albedo", "interpolation", "period", "columns"});
      const toml::node* fileNode = t.get("file");
      const bool weather = fileNode == nullptr && t.contains("epw");
      if (fileNode == nullptr && !weather) {
        fail(t.source(), "[[series]] needs 'file', the CSV file, or 'epw', a weather file");
      }
      for (const char* key : {"tilt", "azimuth", "albedo"}) {
        if (!weather && t.contains(key)) {
          fail(t.get(key)->source(), std::string(key) + " belongs to a weather file ('epw')");
        }
      }
      if (weather) fileNode = t.get("epw");
      const fs::path path = resolve(pathText(*fileNode, weather ? "epw" : "file"));
      if (!weather) s.inputFiles.push_back(path);
      // A weather file gives the columns ambient, irradiance, beam, incidence.
      CsvTable csv = weather ? weatherTable(t, s) : readCsv(path, place(fileNode->source()));
      const std::string csvName = path.string();

      double period = 0.0;
      if (const toml::node* p = t.get("period")) period = positivePeriod(*p);
      const Interpolation mode = interpolation(t);
      const std::vector<double>& times = csv.columns[0];

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
            fail(key.source(), "the series " + csvName + " has no column '" +
                                   std::string(key.str()) + "'; did you mean '" + nearest + "'?");
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
        // Each column feeds one input: its values move into the schedule.
        std::vector<double> values = std::move(csv.columns[u.column]);
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
    });
  }
}

}  // namespace plugstore::runner::reading
