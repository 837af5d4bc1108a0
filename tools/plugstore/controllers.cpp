#include "plugstore/controllers.h"

namespace plugstore::runner {

namespace {

double read(const Signal& s, const std::array<double, kNumInputs>& inputs,
            const std::array<double, kNumOutputs>& outputs, std::span<const double> collectors) {
  if (s.collector > 0) return collectors[static_cast<std::size_t>(s.collector - 1)];
  const auto i = static_cast<std::size_t>(s.number - 1);
  return s.input ? inputs[i] : outputs[i];
}

}  // namespace

bool nextState(const ControllerSetup& c, bool state, double x) {
  if (c.kind == ControllerKind::kDifferential) return state ? !(x < c.off) : x > c.on;
  if (c.on <= c.off) return state ? !(x >= c.off) : x < c.on;
  return state ? !(x <= c.off) : x > c.on;
}

Controllers::Controllers(const Scenario& s)
    : setups_(s.controllers),
      state_(setups_.size()),
      active_(setups_.size()),
      ran_(setups_.size()),
      figures_(setups_.size()) {}

void Controllers::start(double a, double b) {
  for (std::size_t i = 0; i < setups_.size(); ++i) state_[i] = setups_[i].initiallyOn;
  enter(a, b);
}

void Controllers::decide(double a, double b, const std::array<double, kNumInputs>& inputs,
                         const std::array<double, kNumOutputs>& outputs,
                         std::span<const double> collectors) {
  for (std::size_t i = 0; i < setups_.size(); ++i) {
    const ControllerSetup& c = setups_[i];
    double x = read(c.sensor, inputs, outputs, collectors);
    if (c.kind == ControllerKind::kDifferential)
      x -= read(c.reference, inputs, outputs, collectors);
    state_[i] = nextState(c, state_[i], x);
  }
  enter(a, b);
}

void Controllers::enter(double a, double b) {
  for (std::size_t i = 0; i < setups_.size(); ++i) {
    const ControllerSetup& c = setups_[i];
    // An enabling schedule (a tariff, a legionella hour) holds the switch's
    // output, not its state: the thermostat goes on sensing meanwhile.
    const bool enabled = !c.enable || c.enable->mean(a, b) > 0.5;
    active_[i] = state_[i] && enabled;
  }
}

void Controllers::apply(double hours, std::array<double, kNumInputs>& inputs) {
  for (std::size_t i = 0; i < setups_.size(); ++i) {
    const ControllerSetup& c = setups_[i];
    if (active_[i] && !ran_[i]) ++figures_[i].switchedOn;
    if (active_[i]) figures_[i].onHours += hours;
    ran_[i] = active_[i];
    double& x = inputs[static_cast<std::size_t>(c.input - 1)];
    if (active_[i]) {
      x = c.value;
    } else if (c.hasOffValue) {
      x = c.offValue;
    }
  }
}

}  // namespace plugstore::runner
