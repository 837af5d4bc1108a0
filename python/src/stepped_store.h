// One store run in this process and stepped from outside, one time step at a
// time, through the host's call protocol: version signing, start of
// simulation and the initial call when it is made, then per step the
// iterative calls and the end-of-step call, the end of the simulation when it
// is closed. A caller that couples the store to a model of its own (a
// controller, a building) drives it this way.
#pragma once

#include <string>

#include "standin/in_process.h"
#include "standin/protocol.h"

namespace plugstore::python {

class SteppedStore {
 public:
  // Runs the calls up to the initial call. When the component rejects a
  // parameter or stops, the simulation is over at once (see stopped()).
  SteppedStore(const std::array<double, standin::kParameters>& parameters, double start,
               double step, int iterations, int unit, std::string label1);
  ~SteppedStore();
  SteppedStore(const SteppedStore&) = delete;
  SteppedStore& operator=(const SteppedStore&) = delete;

  // One time step of `dt` hours with these inputs; its outputs are those of
  // the last iterative call. Returns false, calculating nothing, for a step
  // that is not a step forward: dt not above 0, or so long that the host's
  // test would take its calls for the initial call (dt above twice the time
  // since the start). A stopped store calculates nothing either.
  bool step(const std::array<double, standin::kInputs>& inputs, double dt);
  // The end-of-simulation call, once.
  void close();
  // Before the first step: the outputs of the store at rest, from one
  // iterative call over a vanishing step with these inputs and no
  // end-of-step call, so that the first step starts from the same state.
  // False, and no call, for a store that has stepped or stopped.
  bool restingOutputs(const std::array<double, standin::kInputs>& inputs,
                      std::array<double, standin::kOutputs>& outputs);

  [[nodiscard]] const std::array<double, standin::kOutputs>& outputs() const { return arrays_.out; }
  [[nodiscard]] double time() const { return time_; }  // h, end of the last step
  [[nodiscard]] int steps() const { return steps_; }
  [[nodiscard]] double start() const { return clock_.startTime; }
  [[nodiscard]] double stepLength() const { return step_; }
  // A fatal message or a rejected parameter ended the simulation.
  [[nodiscard]] bool stopped() const { return stopped_; }
  [[nodiscard]] bool closed() const { return closed_; }
  // What the component reported; the caller empties it as it reads it.
  [[nodiscard]] standin::UnitRecord& record() { return unit_.record(); }

 private:
  void call(double time, int info7, int info8, int info13);
  void stopIfFaulty(double time);

  standin::InProcessUnit unit_;
  standin::UnitArrays arrays_;
  standin::HostClock clock_;
  int number_;
  int iterations_;
  double step_;
  double time_;
  int steps_ = 0;
  bool uniform_ = true;  // every step so far of the length given at the start
  bool stopped_ = false;
  bool closed_ = false;
};

}  // namespace plugstore::python
