// Links between the units of a scenario: the connections they give the
// host's protocol, and the account of the heat that a loop between a port of
// one unit and a port of another passes from one to the other.
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <vector>

#include "plugstore/scenario.h"
#include "standin/protocol.h"

namespace plugstore::runner {

// The linked inputs of unit `unit` of `s` as connections, but for those a
// controller or the tapping list sets: those the runner decides per step.
std::vector<standin::Connection> connectionsOf(const Scenario& s, std::size_t unit);

// A port of one unit and a port of another joined both ways: each takes the
// other's outlet temperature as an inlet temperature.
struct PortLink {
  std::size_t unitA = 0;  // the earlier unit of the scenario
  int portA = 0;
  std::size_t unitB = 0;
  int portB = 0;
  double left = 0.0;             // kWh: out of A through its port
  double entered = 0.0;          // kWh: into B through its port
  double worstStep = 0.0;        // largest |entered - left| of a step over the step's heat
  double worstStepTime = 0.0;    // h, end of that step
  double largestStepHeat = 0.0;  // kWh, largest |left| of a step
  [[nodiscard]] double difference() const { return entered - left; }
  // |difference| at most 1e-6 of the heat passed (and above round-off).
  [[nodiscard]] bool closes() const;
};

// The same loop named from the unit that gave heat over the run.
PortLink oriented(const PortLink& link);
// "buffer.port3".
std::string portName(const Scenario& s, std::size_t unit, int port);

// The loops of a scenario with several units, in the order of their ports.
std::vector<PortLink> portLinks(const Scenario& s);

// Adds a step of `hours` that ended at `time`; `outputs` are every unit's.
void addStep(PortLink& link,
             const std::vector<const std::array<double, standin::kOutputs>*>& outputs, double hours,
             double time);

// How the links settled and what each loop passed; empty without links.
std::string linksSummary(const Scenario& s, const std::vector<PortLink>& links,
                         const standin::RunResult& result);
// The line of the verdict for steps that did not settle; empty if all did.
std::string unsettledReason(const Scenario& s, const standin::Convergence& convergence);

// Whether any input of a unit takes another unit's output.
bool hasLinks(const Scenario& s);

}  // namespace plugstore::runner
