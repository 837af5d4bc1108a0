// Space-heating loads by demand: each [[load]] asks for a heat flow (kW) from
// a schedule, a series or a heating curve on the ambient temperature, and
// takes it from the store through one port. A mixing valve brings the
// store's water down to the loop's flow temperature; the loop's water comes
// back at its return temperature and enters the store at the port's inlet.
// Before every step the runner sets the port's mass flow and inlet
// temperature, judged from the outlet temperature of the previous step:
//   outlet >= flow temperature:  m = Q / (c_p (outlet - return)), the valve
//                                mixing the rest of the loop's water back;
//   outlet <  flow temperature:  the loop's own flow, all of it from the
//                                store, m = Q / (c_p (flow - return)): it
//                                delivers less than asked;
//   outlet <= return + 0.01 K:   no flow (the store would be heated).
// m is at most maxFlow. After the step a load counts as delivered what the
// port took out of the store (its heat output, about m c_p (outlet -
// return)). As the valve judges
// from an outlet that changes within the step, a step gives somewhat more or
// less than asked: the difference, up to one step's demand, is balanced in
// the next step (a shortfall only while the store reached the flow
// temperature); what is left beyond counts as short, or as not delivered.
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <vector>

#include "plugstore/scenario.h"

namespace plugstore::runner {

struct LoadFigures {
  std::string name;
  int port = 0;
  double maxShort = 0.01;
  double asked = 0.0;       // kWh
  double delivered = 0.0;   // kWh
  double shortfall = 0.0;   // kWh
  double hoursShort = 0.0;  // h of the steps that went short by more than maxShort
  double portOut = 0.0;     // kWh the port took out of the store in its steps out (account)
};

// The heating curve's share of the design load at an ambient temperature:
// 1 at the design ambient, 0 from the balance point up, linear between and
// beyond the design ambient.
double relativeLoad(const LoadSpec& load, double ambient);
// degC, the flow temperature the loop asks for at that share.
double flowTemperature(const LoadSpec& load, double relative);

class Loads {
 public:
  explicit Loads(const Scenario& s);

  [[nodiscard]] bool used() const { return !state_.empty(); }
  // Sets the ports' mass flows and inlet temperatures for the step (a, b].
  void before(double a, double b, std::array<double, kNumInputs>& inputs);
  // Counts the step from its outputs.
  void after(double a, double b, const std::array<double, kNumOutputs>& outputs);

  // The step just run, three columns a load: kW asked, kW delivered, degC at
  // the loop's supply (after the valve).
  [[nodiscard]] const std::vector<double>& columns() const { return columns_; }
  // The step just run for the totals, four a load: kWh asked, delivered,
  // short, and the hours short.
  [[nodiscard]] const std::vector<double>& stepTotals() const { return totals_; }
  // What is still owed at the end counts as short; given too much, as not
  // delivered.
  [[nodiscard]] std::vector<LoadFigures> figures() const;

 private:
  struct State {
    const LoadSpec* setting;
    std::size_t flowIndex;
    std::size_t returnIndex;
    std::size_t outletIndex;
    std::size_t heatIndex;
    double outlet;  // degC, the outlet temperature of the last step
    double askedKw = 0.0;
    double flowTemperature = 0.0;
    double returnTemperature = 0.0;
    double mass = 0.0;  // kg/h through the port in this step
    double owed = 0.0;  // kWh the step before left short (given too much: negative)
  };
  double specificHeat_;  // kJ/(kg K)
  std::vector<State> state_;
  std::vector<double> columns_;
  std::vector<double> totals_;
  std::vector<LoadFigures> figures_;
};

// kg/h the port takes at most: the loop's flow at the largest demand (the
// store's water is at least as warm as the loop's flow), below maxFlow.
double largestFlow(const LoadSpec& load, double specificHeat);

// The names of the totals columns, four a load (load.NAME.asked, ...).
std::vector<std::string> loadTotalsColumns(const Scenario& s);

// The summary's lines of the loads; empty without loads.
std::string loadSummary(const std::vector<LoadFigures>& loads);

// Why the loads make a run untrustworthy: each load short by more than its
// maxShort of what it asked (unless `allowShort`), or counting more heat
// delivered than its port took out of the store; empty when none is.
std::string loadReason(const std::vector<LoadFigures>& loads, const std::string& whose,
                       bool allowShort);

}  // namespace plugstore::runner
