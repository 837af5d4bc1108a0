// Solar collectors at run time. Each collector is one node of fluid and
// absorber, of capacity C per m2, with the efficiency curve
//   eta = eta0 K - a1 (Tm - Ta) / G - a2 (Tm - Ta) |Tm - Ta| / G,
// Tm the mean of inlet and outlet while the pump runs, the node itself when
// it does not. Before every step the runner takes the store's outlet of the
// loop (heat exchanger or port) from the step before as the collector's
// inlet, solves the node's balance over the step
//   C A dT/dt = A eta0 (K Gb + G - Gb) - A a1 x - A a2 x |x| - m cp (T - Tin)
// implicitly (backward Euler: stable for any step, the steady state for
// long ones), passes the outlet through the pipe's loss to the ambient and
// sets the loop's inlet temperature and flow for the step. With the pump
// off and sun on it, the collector stagnates.
#pragma once

#include <array>
#include <span>
#include <string>
#include <vector>

#include "plugstore/controllers.h"
#include "plugstore/scenario.h"

namespace plugstore::runner {

// What one collector did over the run (kWh, h, degC).
struct CollectorFigures {
  std::string name;
  double area = 0.0;      // m2
  double yield = 0.0;     // kWh the collector put into the loop's fluid
  double pipeLoss = 0.0;  // kWh the pipe to the store lost to the ambient
  // kWh the loop's fluid gave up in the store (through a coil the store
  // gets it less what the coil's own fluid keeps).
  double delivered = 0.0;
  double pumpHours = 0.0;        // h with flow
  double stagnationHours = 0.0;  // h with sun on the collector and no flow
  double maxTemperature = 0.0;   // degC of the node
  // kWh the loop's one-step delay holds: the fluid that leaves the store in
  // a step with flow enters the collector in the next step with flow. With a
  // constant pump flow m: m cp dt (T1 - T0), T1 the store's outlet of the
  // last step with flow, T0 the return's start temperature.
  [[nodiscard]] double lag() const { return yield - pipeLoss - delivered; }
  [[nodiscard]] double perArea() const { return area > 0.0 ? yield / area : 0.0; }
};

// The node's temperature at the end of a step of `seconds` from `start`:
// the root of its implicit balance. `absorbed` is eta0 (K Gb + G - Gb)
// (W/m2), `flow` kg/s.
double collectorStep(const CollectorSetup& c, double start, double seconds, double absorbed,
                     double ambient, double flow, double inlet);

// The incidence-angle modifier K = 1 - b0 (1 / cos theta - 1), within 0 ... 1.
double incidenceModifier(double b0, double degrees);

// The loop's inputs as the collectors set them, for the checks ahead of the run.
void collectorInputs(const Scenario& s, std::array<InputSource, kNumInputs>& inputs);
// The unit of a collector's column.
std::string collectorColumnUnit(const std::string& column);

class Collectors {
 public:
  explicit Collectors(const Scenario& s);

  [[nodiscard]] std::size_t size() const { return setups_.size(); }
  // Solves the step (a, b] and sets the loops' inputs; `controllers` give
  // the pumps' states for the step.
  void before(double a, double b, std::array<double, kNumInputs>& inputs,
              const Controllers& controllers);
  // Takes the loops' outlets and the heat the store took in the step.
  void after(double hours, const std::array<double, kNumOutputs>& outputs);

  // The nodes' temperatures after the step just run, for the controllers.
  [[nodiscard]] std::span<const double> temperatures() const { return temperature_; }
  // temperature, outlet (at the store), gain (kW), flow (kg/h) of each.
  [[nodiscard]] double column(std::size_t i) const { return columns_[i]; }
  [[nodiscard]] const std::vector<CollectorFigures>& figures() const { return figures_; }
  // The step just run: yield, pipe loss, heat the store took (kWh) and
  // stagnation hours of each collector.
  [[nodiscard]] std::span<const double> lastStep() const { return step_; }

 private:
  struct Loop {
    std::size_t flow, inlet;   // inputs
    std::size_t outlet, heat;  // outputs
    double sign;               // of `heat`: the heat the loop's fluid gave the store
  };
  const std::vector<CollectorSetup>& setups_;
  std::vector<Loop> loops_;
  std::vector<double> temperature_;  // degC of each node
  std::vector<double> inlet_;        // degC the store gave back in the last step
  std::vector<double> columns_;
  std::vector<double> step_;
  std::vector<CollectorFigures> figures_;
};

}  // namespace plugstore::runner
