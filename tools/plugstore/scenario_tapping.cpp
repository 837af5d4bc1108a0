// [tapping]: a list of draws of hot water through one port.
#include <cmath>

#include "plugstore/names.h"
#include "plugstore/scenario_reader.h"

namespace plugstore::runner::reading {

void Parser::tapping(const toml::table& t, Scenario& s) {
  onlyKeys(t, "[tapping]", {"port", "delivery", "list", "file", "period"});
  TappingSpec tp;
  tp.place = place(t.source());
  const toml::node* portNode = t.get("port");
  if (portNode == nullptr) fail(t.source(), "[tapping] needs 'port', the port that draws");
  const long port = integer(*portNode, "port");
  if (port < 1 || port > kNumPorts) fail(portNode->source(), "port must be 1 ... 10");
  tp.port = static_cast<int>(port);
  if (const toml::node* n = t.get("delivery")) tp.delivery = number(*n, "delivery");
  if (const toml::node* n = t.get("period")) tp.period = positivePeriod(*n);
  const toml::node* list = t.get("list");
  const toml::node* file = t.get("file");
  if ((list == nullptr) == (file == nullptr)) {
    fail(t.source(), "[tapping] needs either 'list' or 'file'");
  }
  std::vector<Place> places;
  if (list != nullptr) {
    const toml::array* a = list->as_array();
    if (a == nullptr)
      fail(list->source(), "list must be an array of tappings, not " + typeName(*list));
    for (const toml::node& item : *a) {
      const toml::array* tap = item.as_array();
      if (tap == nullptr || tap->size() != 4) {
        fail(item.source(), "each tapping is [hour, kWh, needed degC, l/min]");
      }
      tp.taps.push_back({number(*tap->get(0), "the hour of a tapping"),
                         number(*tap->get(1), "the energy of a tapping"),
                         number(*tap->get(2), "the needed temperature of a tapping"),
                         number(*tap->get(3), "the flow of a tapping")});
      places.push_back(place(item.source()));
    }
  } else {
    const fs::path path = resolve(pathText(*file, "file"));
    s.inputFiles.push_back(path);
    const CsvTable csv = readCsv(path, place(file->source()));
    const std::vector<std::string> columns = {"time", "energy", "temperature", "flow"};
    if (csv.header != columns) {
      throw ScenarioError({path.string(), 1, 1},
                          "a tapping file has the columns time, energy, temperature, flow "
                          "(h, kWh, degC, l/min)");
    }
    const auto& c = csv.columns;
    for (std::size_t i = 0; i < csv.rows(); ++i) {
      tp.taps.push_back({c[0][i], c[1][i], c[2][i], c[3][i]});
      places.push_back({path.string(), csv.lines[i], 1});
    }
  }
  if (tp.taps.empty()) fail(t.source(), "the tapping list is empty");
  for (std::size_t i = 0; i < tp.taps.size(); ++i) {
    const Tap& tap = tp.taps[i];
    const std::string name = "tapping " + std::to_string(i + 1);
    auto bad = [&](const std::string& why) { throw ScenarioError(places[i], name + ": " + why); };
    if (!std::isfinite(tap.time) || (i > 0 && tap.time < tp.taps[i - 1].time)) {
      bad("times must not decrease");
    }
    if (tp.period > 0.0 && (tap.time < 0.0 || tap.time >= tp.period)) {
      bad("the times of a repeating list must lie in 0 ... period (excluded)");
    }
    if (!(tap.energy > 0.0) || !std::isfinite(tap.energy)) bad("the energy must be above 0 kWh");
    if (!(tap.flow > 0.0) || !std::isfinite(tap.flow)) bad("the flow must be above 0 l/min");
    if (!(tap.temperature <= tp.delivery)) {
      bad("needs " + formatNumber(tap.temperature) +
          " degC, more than the mixing valve delivers (delivery = " + formatNumber(tp.delivery) +
          " degC)");
    }
  }
  s.tapping = std::move(tp);
}

}  // namespace plugstore::runner::reading
