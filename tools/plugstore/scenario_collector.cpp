// [[collector]]: solar collectors in a loop with a heat exchanger or a port,
// and weather files (EPW) as a source of series.
#include <algorithm>
#include <cctype>
#include <cmath>

#include "plugstore/epw.h"
#include "plugstore/names.h"
#include "plugstore/scenario_reader.h"

namespace plugstore::runner::reading {

namespace {

// Typical values of the two kinds, for the keys a scenario leaves out.
struct Kind {
  std::string_view type;
  double eta0, a1, a2, iam, capacity;
};
constexpr std::array<Kind, 2> kKinds = {{
    {"flat-plate", 0.80, 3.5, 0.015, 0.10, 7.0},
    {"evacuated-tube", 0.65, 1.2, 0.008, 0.0, 10.0},
}};

bool plainName(const std::string& n) {
  return !n.empty() && std::all_of(n.begin(), n.end(), [](char ch) {
    return std::isalnum(static_cast<unsigned char>(ch)) != 0 || ch == '_' || ch == '-';
  });
}

}  // namespace

CsvTable Parser::weatherTable(const toml::table& t, Scenario& s) {
  const toml::node* epw = t.get("epw");
  if (epw == nullptr) fail(t.source(), "a weather source needs 'epw', the EPW file");
  const fs::path path = resolve(pathText(*epw, "epw"));
  s.inputFiles.push_back(path);
  Plane plane;
  if (const toml::node* n = t.get("tilt")) {
    plane.tilt = number(*n, "tilt");
    if (plane.tilt < 0.0 || plane.tilt > 180.0) fail(n->source(), "tilt must be 0 ... 180 degrees");
  }
  if (const toml::node* n = t.get("azimuth")) {
    plane.azimuth = number(*n, "azimuth");
    if (std::abs(plane.azimuth) > 180.0) {
      fail(n->source(), "azimuth must be -180 ... 180 degrees (0 south, 90 west)");
    }
  }
  if (const toml::node* n = t.get("albedo")) {
    plane.albedo = number(*n, "albedo");
    if (plane.albedo < 0.0 || plane.albedo > 1.0) fail(n->source(), "albedo must be 0 ... 1");
  }
  return weatherSeries(readEpw(path, place(epw->source())), plane);
}

Signal Parser::sensed(const toml::node& n, const std::string& what, const Scenario& s) const {
  const std::string name = n.is_string() ? *n.value<std::string>() : std::string();
  if (!name.starts_with("collector.")) return signal(n, what);
  const std::string rest = name.substr(10);
  for (std::size_t i = 0; i < s.collectors.size(); ++i) {
    if (rest == s.collectors[i].name + ".temperature") {
      return {name, false, 0, static_cast<int>(i) + 1};
    }
  }
  std::vector<std::string> known;
  for (const CollectorSetup& c : s.collectors)
    known.push_back("collector." + c.name + ".temperature");
  if (known.empty()) fail(n.source(), what + ": '" + name + "': the scenario has no [[collector]]");
  std::vector<std::string_view> views(known.begin(), known.end());
  fail(n.source(), what + ": '" + name + "' is no collector's temperature; did you mean '" +
                       std::string(nearestKey(name, views)) + "'?");
}

void Parser::collectors(const toml::node& n, Scenario& s) {
  const toml::array* list = n.as_array();
  if (list == nullptr || !list->is_array_of_tables()) {
    record({place(n.source()), "collectors must be written as [[collector]] tables"},
           place(n.source()));
    return;
  }
  for (const toml::node& item : *list) {
    attempt(item.source(), [&] { collector(*item.as_table(), s); });
  }
}

void Parser::collector(const toml::table& t, Scenario& s) {
  onlyKeys(t, "[[collector]]", kCollectorKeys);
  CollectorSetup c;
  c.place = place(t.source());
  const toml::node* nameNode = t.get("name");
  if (nameNode == nullptr)
    fail(t.source(), "[[collector]] needs 'name', which prefixes its columns");
  c.name = string(*nameNode, "name");
  if (!plainName(c.name))
    fail(nameNode->source(), "a collector's name is letters, digits, '_' and '-'");
  for (const CollectorSetup& other : s.collectors) {
    if (other.name == c.name) {
      fail(nameNode->source(), "a collector named '" + c.name + "' exists already (line " +
                                   std::to_string(other.place.line) + ")");
    }
  }
  const Kind* kind = &kKinds[0];
  if (const toml::node* n = t.get("type")) {
    c.type = string(*n, "type");
    kind = nullptr;
    for (const Kind& k : kKinds) {
      if (k.type == c.type) kind = &k;
    }
    if (kind == nullptr) {
      fail(n->source(),
           "type must be \"flat-plate\" or \"evacuated-tube\", not \"" + c.type + "\"");
    }
  }
  c.eta0 = kind->eta0;
  c.a1 = kind->a1;
  c.a2 = kind->a2;
  c.iam = kind->iam;
  c.capacity = kind->capacity;
  // A number of the table in [low, high]; `above` excludes low itself.
  auto value = [&](const char* key, double& v, double low, double high, bool above,
                   const std::string& range) {
    const toml::node* n = t.get(key);
    if (n == nullptr) return false;
    v = number(*n, key);
    if (!(above ? v > low : v >= low) || !(v <= high))
      fail(n->source(), std::string(key) + " must be " + range);
    return true;
  };
  constexpr double kBig = 1e12;
  if (!value("area", c.area, 0.0, kBig, true, "above 0 m2")) {
    fail(t.source(), "[[collector]] needs 'area', the aperture in m2");
  }
  value("eta0", c.eta0, 0.0, 1.0, true, "above 0 and at most 1");
  value("a1", c.a1, 0.0, kBig, false, "at least 0 W/(m2 K)");
  value("a2", c.a2, 0.0, kBig, false, "at least 0 W/(m2 K2)");
  value("iam", c.iam, 0.0, 1.0, false, "0 ... 1 (b0 of K = 1 - b0 (1/cos theta - 1))");
  value("capacity", c.capacity, 0.0, kBig, true, "above 0 kJ/(m2 K)");
  const bool ownHeat = value("specificHeat", c.specificHeat, 0.0, kBig, true, "above 0 kJ/(kg K)");
  value("flow", c.flow, 0.0, kBig, false, "at least 0 kg/h");
  value("pipeUA", c.pipeUA, 0.0, kBig, false, "at least 0 W/K");
  value("initial", c.initial, -100.0, 400.0, false, "-100 ... 400 degC");
  const toml::node* hx = t.get("hx");
  const toml::node* port = t.get("port");
  if ((hx == nullptr) == (port == nullptr)) {
    fail(t.source(), "[[collector]] needs either 'hx' (a heat exchanger) or 'port' (a port pair)");
  }
  std::string fluid = "store.specificHeat";
  if (hx != nullptr) {
    const long k = integer(*hx, "hx");
    if (k < 1 || k > kMaxHx) fail(hx->source(), "hx must be 1 ... 6");
    c.hx = static_cast<int>(k);
    fluid = indexed("hx", c.hx, ".specificHeat");
  } else {
    const long d = integer(*port, "port");
    if (d < 1 || d > kNumPorts) fail(port->source(), "port must be 1 ... 10");
    c.port = static_cast<int>(d);
  }
  // The loop's fluid is the coil's, or through a port the store's water.
  const double loopHeat = s.parameters[static_cast<std::size_t>(parameterNumber(fluid) - 1)];
  if (ownHeat && c.specificHeat != loopHeat) {
    fail(t.get("specificHeat")->source(), "specificHeat must be that of the loop's fluid, " +
                                              fluid + " = " + formatNumber(loopHeat) +
                                              " kJ/(kg K), or be left out");
  }
  c.specificHeat = loopHeat;
  if (const toml::node* n = t.get("controller")) {
    if (c.flow < 0.0)
      fail(n->source(), "a pump's controller needs 'flow', the loop's flow while on");
    c.controller = string(*n, "controller");
    c.controllerPlace = place(n->source());
  }
  // The sun and the ambient: a number, a schedule, or a weather file.
  auto source = [&](const char* key, InputSource& in) {
    const toml::node* n = t.get(key);
    if (n == nullptr) return false;
    if (const toml::table* st = n->as_table()) {
      in.schedule = inlineSchedule(*st, key, in.origin);
    } else {
      in.constant = number(*n, key);
      in.origin = "constant";
    }
    in.place = place(n->source());
    return true;
  };
  const bool sun = source("irradiance", c.irradiance);
  const bool air = source("ambient", c.ambient);
  if (const toml::node* w = t.get("weather")) {
    if (sun || air) {
      fail(w->source(), "weather gives the irradiance and the ambient: leave out '" +
                            std::string(sun ? "irradiance" : "ambient") + "'");
    }
    const toml::table& wt = table(*w, "weather");
    onlyKeys(wt, "weather", {"epw", "tilt", "azimuth", "albedo", "period"});
    CsvTable csv = weatherTable(wt, s);
    double period = 0.0;
    if (const toml::node* p = wt.get("period")) period = positivePeriod(*p);
    const std::string why = Schedule::problem(csv.columns[0], csv.columns[1], period);
    if (!why.empty()) fail(w->source(), "weather: " + why);
    const std::string origin =
        fs::path(resolve(*wt.get("epw")->value<std::string>())).filename().string();
    auto column = [&](std::size_t i, InputSource& in) {
      in.schedule = std::make_shared<const Schedule>(csv.columns[0], csv.columns[i],
                                                     Interpolation::kHold, period);
      in.origin = origin + ":" + csv.header[i];
      in.place = place(w->source());
    };
    column(1, c.ambient);
    column(2, c.irradiance);
    column(3, c.beam);
    column(4, c.incidence);
    c.hasIncidence = true;
  } else if (!sun || !air) {
    fail(t.source(),
         "[[collector]] needs 'irradiance' (W/m2 on its plane) and 'ambient' (degC), "
         "or 'weather'");
  }
  s.collectors.push_back(std::move(c));
}

void Parser::collectorLoops(Scenario& s) {
  auto par = [&s](const std::string& name) {
    return s.parameters[static_cast<std::size_t>(parameterNumber(name) - 1)];
  };
  for (std::size_t i = 0; i < s.collectors.size(); ++i) {
    CollectorSetup& c = s.collectors[i];
    attempt({}, [&] {
      const std::string loop = c.hx > 0 ? indexed("hx", c.hx, "") : indexed("port", c.port, "");
      const std::string what =
          c.hx > 0 ? "hx " + std::to_string(c.hx) : "port " + std::to_string(c.port);
      if (c.hx > 0 && c.hx > par("hx.count")) {
        throw ScenarioError(c.place, "collector " + c.name + ": hx " + std::to_string(c.hx) +
                                         " is not in use (hx.count is " +
                                         formatNumber(par("hx.count")) + ")");
      }
      if (c.port > 0 && par(loop + ".heightA") < 0.0 && par(loop + ".heightB") < 0.0) {
        throw ScenarioError(c.place, "collector " + c.name + ": port " + std::to_string(c.port) +
                                         " is not in use (its heights are -1)");
      }
      for (std::size_t j = 0; j < i; ++j) {
        const CollectorSetup& o = s.collectors[j];
        if (o.hx == c.hx && o.port == c.port) {
          throw ScenarioError(c.place, "collector " + c.name + ": " + what +
                                           " is the loop of collector " + o.name +
                                           " already (line " + std::to_string(o.place.line) + ")");
        }
      }
      if (c.port > 0 && s.tapping.port == c.port) {
        throw ScenarioError(c.place, "collector " + c.name + ": port " + std::to_string(c.port) +
                                         " draws the tapping list (line " +
                                         std::to_string(s.tapping.place.line) + ")");
      }
      for (const LoadSpec& l : s.loads) {
        if (c.port > 0 && l.port == c.port) {
          throw ScenarioError(c.place, "collector " + c.name + ": port " + std::to_string(c.port) +
                                           " supplies load " + l.name + " (line " +
                                           std::to_string(l.place.line) + ")");
        }
      }
      const std::string inlet = loop + (c.hx > 0 ? ".inletTemperature" : ".temperatureA");
      for (const std::string& name : {loop + ".massFlow", inlet}) {
        const InputSource& in = s.inputs[static_cast<std::size_t>(inputNumber(name) - 1)];
        if (in.link) {
          throw ScenarioError(c.place, "collector " + c.name + ": " + name + " is linked to unit " +
                                           in.link->unitName + "; a collector's loop is its own");
        }
        const bool set = name == inlet || c.flow >= 0.0;
        if (set && in.given()) {
          throw ScenarioError(in.place, name + " is set by collector " + c.name + " (line " +
                                            std::to_string(c.place.line) + "): leave it out");
        }
      }
      if (c.controller.empty()) return;
      for (std::size_t k = 0; k < s.controllers.size(); ++k) {
        if (s.controllers[k].name == c.controller) c.controllerIndex = static_cast<int>(k);
      }
      if (c.controllerIndex < 0) {
        std::vector<std::string_view> names;
        for (const ControllerSetup& k : s.controllers) names.push_back(k.name);
        throw ScenarioError(
            c.controllerPlace,
            "collector " + c.name + ": no [[controller]] is named '" + c.controller + "'" +
                (names.empty()
                     ? std::string()
                     : "; did you mean '" + std::string(nearestKey(c.controller, names)) + "'?"));
      }
    });
  }
}

}  // namespace plugstore::runner::reading
