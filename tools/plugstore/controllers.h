// The scenario's controllers at run time. Between two time steps each
// controller reads its signals, the outputs of the last iterative call of the
// step that ended and the inputs that step had, switches on or off, and so
// sets its input for the whole next step: a controller acts with one step
// of delay, as a controller unit of the host does that is not iterated with
// the store. Controllers are evaluated in file order; a controller that is
// on sets its input, one that is off sets its offValue or leaves the input
// to the scenario (or to an earlier controller).
#pragma once

#include <array>
#include <span>
#include <vector>

#include "plugstore/scenario.h"

namespace plugstore::runner {

// What a controller did over the run.
struct ControllerFigures {
  int switchedOn = 0;    // times it switched on
  double onHours = 0.0;  // h it was on
};

class Controllers {
 public:
  explicit Controllers(const Scenario& s);

  // Decides the first step (a, b] from the initial states.
  void start(double a, double b);
  // Sets the inputs of the step being started, `hours` long, and counts it.
  void apply(double hours, std::array<double, kNumInputs>& inputs);
  // After the step that ended at a: decides the step (a, b] from the inputs
  // that step had and its outputs, and the collectors' temperatures.
  void decide(double a, double b, const std::array<double, kNumInputs>& inputs,
              const std::array<double, kNumOutputs>& outputs,
              std::span<const double> collectors = {});

  [[nodiscard]] std::size_t size() const { return setups_.size(); }
  // 1 while controller i is on in the step being run, else 0.
  [[nodiscard]] double column(std::size_t i) const { return active_[i] ? 1.0 : 0.0; }
  [[nodiscard]] std::vector<ControllerFigures> figures() const { return figures_; }

 private:
  void enter(double a, double b);

  const std::vector<ControllerSetup>& setups_;
  std::vector<bool> state_;   // the switch itself, with its hysteresis
  std::vector<bool> active_;  // on and enabled: the step being run
  std::vector<bool> ran_;     // on in the last step started
  std::vector<ControllerFigures> figures_;
};

// The new state of a switch with hysteresis. A thermostat (on <= off) turns
// on below `on` and off from `off` upwards, a reversed one (on > off) on
// above `on` and off from `off` downwards; a differential controller gets
// x = hot - cold and turns on above `on` and off below `off`.
bool nextState(const ControllerSetup& c, bool state, double x);

}  // namespace plugstore::runner
