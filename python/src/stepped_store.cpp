#include "stepped_store.h"

#include <cmath>

namespace plugstore::python {

SteppedStore::SteppedStore(const std::array<double, standin::kParameters>& parameters, double start,
                           double step, int iterations, int unit, std::string label1)
    : unit_(std::move(label1)),
      clock_{start, step, 0},
      number_(unit),
      iterations_(iterations),
      step_(step),
      time_(start) {
  arrays_.par = parameters;
  call(start, -2, 0, 0);  // version signing
  call(start, -1, 0, 0);  // start of simulation
  call(start, 0, 0, 0);   // initial call at the start time
  stopIfFaulty(start);
}

SteppedStore::~SteppedStore() { close(); }

void SteppedStore::call(double time, int info7, int info8, int info13) {
  standin::callUnit(unit_, number_, arrays_, clock_, time, info7, info8, info13);
}

void SteppedStore::stopIfFaulty(double time) {
  if (stopped_ || (!unit_.record().fatal && unit_.record().badParameters.empty())) return;
  // The host ends the simulation after a fatal message or a rejected parameter.
  stopped_ = true;
  closed_ = true;
  call(time, 0, -1, 0);
}

bool SteppedStore::step(const std::array<double, standin::kInputs>& inputs, double dt) {
  if (stopped_ || closed_ || !(dt > 0.0) || !std::isfinite(dt)) return false;
  // While every step has the first length, times are counted as the host
  // counts them, start + k * step, so that they match a run of fixed steps.
  const bool uniform = uniform_ && dt == step_;
  const double time =
      uniform ? clock_.startTime + static_cast<double>(steps_ + 1) * step_ : time_ + dt;
  if (time < clock_.startTime + 0.5 * dt) return false;
  uniform_ = uniform;
  arrays_.xin = inputs;
  clock_.timeStep = dt;
  for (int it = 0; it < iterations_; ++it) {
    clock_.iteration = it;
    call(time, it, 0, 0);
    if (unit_.record().fatal) {
      stopIfFaulty(time);
      return true;
    }
  }
  call(time, 0, 0, 1);  // end of time step
  time_ = time;
  ++steps_;
  stopIfFaulty(time);
  return true;
}

bool SteppedStore::restingOutputs(const std::array<double, standin::kInputs>& inputs,
                                  std::array<double, standin::kOutputs>& outputs) {
  if (stopped_ || closed_ || steps_ > 0) return false;
  const standin::UnitArrays kept = arrays_;
  const standin::HostClock clock = clock_;
  arrays_.xin = inputs;
  clock_.timeStep = standin::kProbeStep;
  call(clock_.startTime + standin::kProbeStep, 0, 0, 0);
  outputs = arrays_.out;
  arrays_ = kept;
  clock_ = clock;
  stopIfFaulty(clock_.startTime);
  return !stopped_;
}

void SteppedStore::close() {
  if (closed_) return;
  closed_ = true;
  call(time_, 0, -1, 0);
}

}  // namespace plugstore::python
