// The host's call protocol, run over a component library loaded at run time.
#pragma once

#include <array>
#include <functional>
#include <string>

#include "host/trnsys_abi.h"

namespace standin {

inline constexpr int kParameters = 219;
inline constexpr int kInputs = 69;
inline constexpr int kOutputs = 202;
inline constexpr int kInfoSize = 15;
inline constexpr int kTypeNumber = 8642;

// A component library, loaded as a host loads it.
class Component {
 public:
  explicit Component(const std::string& path);
  ~Component();
  Component(const Component&) = delete;
  Component& operator=(const Component&) = delete;

  [[nodiscard]] bool loaded() const { return fn_ != nullptr; }
  [[nodiscard]] const std::string& error() const { return error_; }

  int call(double time, double* xin, double* out, double* par, int* info);

 private:
  void* handle_ = nullptr;
  Type8642Fn fn_ = nullptr;
  std::string error_;
};

// Default path of the component library next to the running program.
std::string defaultComponentPath();

struct RunConfig {
  double start = 0.0;  // h
  double stop = 1.0;   // h
  double step = 1.0;   // h
  int iterations = 1;  // iterative calls per time step
  int unit = 1;
  std::string label1;  // folder of startProfile.ini and dumps
  std::array<double, kParameters> parameters{};
  // Inputs of the call that shows the initial state (RunHooks::initialState).
  std::array<double, kInputs> initialInputs{};
};

// Length of the step of the call that shows the initial state, h.
inline constexpr double kProbeStep = 1e-6;

struct RunHooks {
  // Fills the inputs for the iterative calls at `time` of step k (1 ... N).
  std::function<void(double time, int step, std::array<double, kInputs>& inputs)> inputs;
  // Sees the outputs after the last iterative call of step k.
  std::function<void(double time, int step, const std::array<double, kOutputs>& outputs)> outputs;
  // Sees the state the store starts from: the outputs of one iterative call
  // over a vanishing step (kProbeStep) at the start, with the config's
  // initialInputs. No end-of-step call follows, so the first step starts
  // from the same state as without it; the output array is put back.
  std::function<void(const std::array<double, kOutputs>& outputs)> initialState;
  // Asked after each completed step: true ends the simulation there.
  std::function<bool()> stop;
};

struct RunResult {
  int exitStatus = 0;  // 0 ok, 1 stopped by a fatal message or bad parameter
  int steps = 0;       // time steps completed
  int calls = 0;
  bool badParameter = false;
  bool fatal = false;
  bool interrupted = false;  // ended early at the request of the `stop` hook
};

// Version signing, start of simulation, initial call, the time steps with
// their iterative and end-of-step calls, end of simulation.
RunResult runSimulation(Component& component, const RunConfig& config, const RunHooks& hooks);

}  // namespace standin
