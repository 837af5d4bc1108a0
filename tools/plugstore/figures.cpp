#include "plugstore/figures.h"

#include <cstdio>

namespace plugstore::runner {

namespace {

enum class Role { solar, drawn, auxiliary };

Role role(const Scenario& s, const std::string& key) {
  auto is = [&key](const char* kind, int n) { return n > 0 && key == kind + std::to_string(n); };
  for (const CollectorSetup& c : s.collectors) {
    if (is("hx", c.hx) || is("port", c.port)) return Role::solar;
  }
  if (is("port", s.tapping.port)) return Role::drawn;
  for (const LoadSpec& l : s.loads) {
    if (is("port", l.port)) return Role::drawn;
  }
  return Role::auxiliary;
}

std::optional<double> ratio(double part, double whole) {
  return whole > 0.0 ? std::optional<double>(part / whole) : std::nullopt;
}

}  // namespace

ReportFigures reportFigures(const Scenario& s, const EnergyAccount& a, const Demand& d) {
  ReportFigures f;
  for (const Flow& flow : a.flows) {
    switch (role(s, flow.key)) {
      case Role::solar:
        f.solar += flow.in;
        break;
      case Role::drawn:
        f.drawn -= flow.out;
        break;
      case Role::auxiliary:
        f.auxiliary += flow.in;
        break;
    }
  }
  const bool draws = s.tapping.port > 0 || !s.loads.empty();
  if (!s.collectors.empty()) f.solarFraction = ratio(f.solar, f.solar + f.auxiliary);
  if (s.tapping.port > 0 && d.tappingAsked >= 0.0) {
    f.dhwCoverage = ratio(d.tappingUseful, d.tappingAsked);
  }
  if (!s.loads.empty() && d.loadAsked >= 0.0) {
    f.spaceCoverage = ratio(d.loadDelivered, d.loadAsked);
  }
  if (draws) f.storageEfficiency = ratio(f.drawn, f.solar + f.auxiliary);
  return f;
}

std::vector<std::pair<std::string, std::optional<double>>> figureList(const Scenario& s,
                                                                      const ReportFigures& f,
                                                                      bool withTapping) {
  std::vector<std::pair<std::string, std::optional<double>>> list;
  if (!s.collectors.empty()) list.emplace_back("solarFraction", f.solarFraction);
  if (withTapping && s.tapping.port > 0) list.emplace_back("dhwCoverage", f.dhwCoverage);
  if (!s.loads.empty()) list.emplace_back("spaceHeatingCoverage", f.spaceCoverage);
  if (s.tapping.port > 0 || !s.loads.empty()) {
    list.emplace_back("storageEfficiency", f.storageEfficiency);
  }
  return list;
}

Demand runDemand(const TappingFigures& t, const std::vector<LoadFigures>& loads) {
  Demand d;
  if (t.port > 0) {
    d.tappingAsked = t.asked;
    d.tappingUseful = t.useful;
  }
  if (!loads.empty()) {
    d.loadAsked = 0.0;
    d.loadDelivered = 0.0;
    for (const LoadFigures& l : loads) {
      d.loadAsked += l.asked;
      d.loadDelivered += l.delivered;
    }
  }
  return d;
}

std::string figureSummary(const Scenario& s, const ReportFigures& f) {
  const auto list = figureList(s, f);
  if (list.empty()) return {};
  std::string o = "report figures:\n";
  auto line = [&o](const char* label, const std::optional<double>& v, const std::string& how) {
    char buf[64];
    if (v) {
      std::snprintf(buf, sizeof buf, "  %-26s %7.2f %%", label, 100.0 * *v);
    } else {
      std::snprintf(buf, sizeof buf, "  %-26s       - %%", label);
    }
    o += buf + ("  " + how) + "\n";
  };
  auto kWh = [](double v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.4f kWh", v);
    return std::string(buf);
  };
  for (const auto& [name, v] : list) {
    if (name == "solarFraction") {
      line("solar fraction", v,
           "solar " + kWh(f.solar) + " / (solar + auxiliary " + kWh(f.auxiliary) +
               ") into the store");
    } else if (name == "dhwCoverage") {
      line("hot-water coverage", v, "tappings delivered as needed / asked");
    } else if (name == "spaceHeatingCoverage") {
      line("space-heating coverage", v, "loads delivered / asked");
    } else {
      line("storage efficiency", v,
           kWh(f.drawn) + " out to tappings and loads / " + kWh(f.solar + f.auxiliary) +
               " brought in");
    }
  }
  return o;
}

}  // namespace plugstore::runner
