// The host's call protocol, run over units of a component: a library loaded
// at run time as the host loads it, or anything else that answers the calls.
#pragma once

#include <array>
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "host/trnsys_abi.h"
#include "standin/kernel.h"

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

// The simulation's clock as the host's kernel serves it during a call.
struct HostClock {
  double startTime = 0.0;  // h
  double timeStep = 1.0;   // h
  int iteration = 0;       // iterative call of the time step, from 0
};

// One unit of a deck as the host sees it: it answers the host's calls and
// keeps what it reported (messages, rejected parameters).
class Unit {
 public:
  virtual ~Unit() = default;
  virtual int call(const HostClock& clock, double time, double* xin, double* out, double* par,
                   int* info) = 0;
  // What the unit reported; a caller may empty it as it reads it.
  [[nodiscard]] virtual UnitRecord& record() = 0;
};

// A unit served by a loaded component library through the process's
// stand-in kernel, with its own label 1.
class LibraryUnit final : public Unit {
 public:
  LibraryUnit(Component& component, std::string label1)
      : component_(component), label1_(std::move(label1)) {}
  int call(const HostClock& clock, double time, double* xin, double* out, double* par,
           int* info) override;
  [[nodiscard]] UnitRecord& record() override { return record_; }

 private:
  Component& component_;
  std::string label1_;
  UnitRecord record_;
};

// A unit's arrays, kept across all its calls as a host keeps them.
struct UnitArrays {
  std::array<double, kParameters> par{};
  std::array<double, kInputs> xin{};
  std::array<double, kOutputs> out{};
  std::array<int, kInfoSize> info{};
};

// One call of a unit numbered `number`, of the kind that info(7), info(8)
// and info(13) tell apart: (-2, 0, 0) version signing, (-1, 0, 0) start of
// simulation, (0, 0, 0) the initial call at the start time or an iterative
// call (info(7) then counts the iterations from 0), (0, 0, 1) end of time
// step, (0, -1, 0) end of simulation.
int callUnit(Unit& unit, int number, UnitArrays& arrays, const HostClock& clock, double time,
             int info7, int info8, int info13);

struct RunHooks {
  // Fills the inputs for the iterative calls at `time` of step k (1 ... N).
  std::function<void(double time, int step, std::array<double, kInputs>& inputs)> inputs;
  // Sees the inputs of the last iterative call of step k, connected ones
  // included, just before `outputs`.
  std::function<void(const std::array<double, kInputs>& inputs)> inputsUsed;
  // Sees the outputs after the last iterative call of step k.
  std::function<void(double time, int step, const std::array<double, kOutputs>& outputs)> outputs;
  // Asked after each completed step: true ends the simulation there.
  std::function<bool()> stop;
  // Sees the state the unit starts from: its outputs after one iterative
  // call over a vanishing step (kProbeStep) at the start, with
  // `initialInputs`. No end-of-step call follows, so the first step starts
  // from the same state as without it; the output array is put back.
  std::function<void(const std::array<double, kOutputs>& outputs)> initialState;
  std::array<double, kInputs> initialInputs{};
};

// Length of the step of the call that shows the initial state, h.
inline constexpr double kProbeStep = 1e-6;

// The time grid of a simulation.
struct SimulationTimes {
  double start = 0.0;  // h
  double stop = 1.0;   // h
  double step = 1.0;   // h
  int iterations = 1;  // iterative calls per time step
  // Connected inputs: after the `iterations` calls a unit is called again
  // while one of them differs from the output that feeds it by more than
  // `tolerance` of its size (of 1 for values below 1), in at most
  // `maxIterations` iterative calls of a step.
  double tolerance = 0.001;
  int maxIterations = 30;
};

// An input fed by an output of another unit of the deck, as a connection of
// the host's input file: every call of the unit gets the output's latest
// value. Numbers 0-based.
struct Connection {
  std::size_t input = 0;
  std::size_t from = 0;  // the unit, its index in the deck
  std::size_t output = 0;
};

// How far a connected input given `given` lags its output, now `latest`, in
// multiples of what the tolerance allows; above 1 it must be given again
// (infinite for a value that is not a number).
double movement(double given, double latest, double tolerance);

// One unit of a deck: what answers, its unit number, parameters and hooks.
struct DeckUnit {
  Unit* unit = nullptr;
  int number = 1;
  std::array<double, kParameters> parameters{};
  RunHooks hooks;
  std::vector<Connection> connections{};
};

// How the connected inputs of a deck settled within the steps.
struct Convergence {
  long iterations = 0;     // iterative calls (rounds over the deck) of all steps
  int mostIterations = 0;  // of one step
  int unsettledSteps = 0;  // steps that ended with an input still moving
  // The input that moved most, against its tolerance, at the end of such a
  // step: unit (index in the deck), input (0-based), the value it was last
  // given and the output's value then, the step's end time.
  std::size_t worstUnit = 0;
  std::size_t worstInput = 0;
  double worstGiven = 0.0;
  double worstLatest = 0.0;
  double worstExcess = 0.0;  // its movement(), above 1
  double worstTime = 0.0;    // h
};

struct RunResult {
  int exitStatus = 0;  // 0 ok, 1 stopped by a fatal message or bad parameter
  int steps = 0;       // time steps completed
  int calls = 0;       // calls of all units
  bool badParameter = false;
  bool fatal = false;
  bool interrupted = false;  // ended early at the request of the `stop` hook
  Convergence convergence;   // with connections
};

// Every phase of the protocol calls every unit, one after the other in the
// deck's order: version signing, start of simulation, initial call, per
// time step the iterative calls (inputs set before them, outputs seen after
// them) and the end-of-step calls, end of simulation. Within a step, units
// with connections are called again, in the deck's order and with the
// latest outputs, until their connected inputs settle (info(7) counts a
// unit's calls of the step from 0). A fatal message or a
// rejected parameter of any unit ends the simulation for all, and so does
// the `stop` hook of any unit after a completed step.
RunResult runDeck(std::vector<DeckUnit>& deck, const SimulationTimes& times);

// One unit of the library: the deck of one, its messages in the kernel's
// record.
struct RunConfig : SimulationTimes {
  int unit = 1;
  std::string label1;  // folder of startProfile.ini and dumps
  std::array<double, kParameters> parameters{};
};
RunResult runSimulation(Component& component, const RunConfig& config, const RunHooks& hooks);

}  // namespace standin
