// The figures a solar or combi store is judged by, from the energy account
// of a run (or of a period of it) and what its tappings and loads asked for.
// Each figure is there only when the parts it is made of are in the run.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "plugstore/account.h"
#include "plugstore/load.h"
#include "plugstore/scenario.h"
#include "plugstore/tapping.h"

namespace plugstore::runner {

// What a tapping list and the loads asked for and got; negative: not in the run.
struct Demand {
  double tappingAsked = -1.0;   // kWh above the mains
  double tappingUseful = -1.0;  // kWh at or above the temperature each tapping needs
  double loadAsked = -1.0;      // kWh, all loads
  double loadDelivered = -1.0;
};

struct ReportFigures {
  double solar = 0.0;      // kWh into the store through the collectors' loops
  double auxiliary = 0.0;  // kWh into the store through every other heat input, coil or port
  double drawn = 0.0;      // kWh out of the store through the tapping's and the loads' ports
  std::optional<double> solarFraction;      // solar / (solar + auxiliary)
  std::optional<double> dhwCoverage;        // tapping useful / asked
  std::optional<double> spaceCoverage;      // load delivered / asked
  std::optional<double> storageEfficiency;  // drawn / (solar + auxiliary)
};

ReportFigures reportFigures(const Scenario& s, const EnergyAccount& a, const Demand& d);

// The figures by name ("solarFraction", "dhwCoverage",
// "spaceHeatingCoverage", "storageEfficiency"), those whose parts the
// scenario has; without a value where a part is 0 (no heat brought in, no
// demand). The totals have no tapping figures per period: `withTapping`.
std::vector<std::pair<std::string, std::optional<double>>> figureList(const Scenario& s,
                                                                      const ReportFigures& f,
                                                                      bool withTapping = true);
// A demand of the run's tapping list and loads.
Demand runDemand(const TappingFigures& t, const std::vector<LoadFigures>& loads);
// The summary's lines, "report figures:" and one line a figure; empty without any.
std::string figureSummary(const Scenario& s, const ReportFigures& f);

}  // namespace plugstore::runner
