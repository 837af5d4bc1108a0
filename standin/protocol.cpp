#include "standin/protocol.h"

#include <algorithm>
#include <cmath>

#include "standin/kernel.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#include <unistd.h>

#include <climits>
#endif

namespace standin {

#if defined(_WIN32)
Component::Component(const std::string& path) {
  HMODULE h = LoadLibraryA(path.c_str());
  if (h == nullptr) {
    error_ = "cannot load " + path;
    return;
  }
  handle_ = reinterpret_cast<void*>(h);
  fn_ = reinterpret_cast<Type8642Fn>(reinterpret_cast<void*>(GetProcAddress(h, "TYPE8642")));
  if (fn_ == nullptr) error_ = "no entry point TYPE8642 in " + path;
}
Component::~Component() {
  if (handle_ != nullptr) FreeLibrary(reinterpret_cast<HMODULE>(handle_));
}
std::string defaultComponentPath() { return "Type8642.dll"; }
#else
Component::Component(const std::string& path) {
  handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle_ == nullptr) {
    const char* e = dlerror();
    error_ = e != nullptr ? e : ("cannot load " + path);
    return;
  }
  fn_ = reinterpret_cast<Type8642Fn>(dlsym(handle_, "TYPE8642"));
  if (fn_ == nullptr) error_ = "no entry point TYPE8642 in " + path;
}
Component::~Component() {
  if (handle_ != nullptr) dlclose(handle_);
}
std::string defaultComponentPath() {
  std::string self(PATH_MAX, '\0');
  const ssize_t n = readlink("/proc/self/exe", self.data(), self.size());
  if (n <= 0) return "libtype8642.so";
  self.resize(static_cast<std::size_t>(n));
  const auto slash = self.find_last_of('/');
  return self.substr(0, slash + 1) + "libtype8642.so";
}
#endif

int Component::call(double time, double* xin, double* out, double* par, int* info) {
  double t = time;
  std::array<double, 1> derivatives{};
  std::array<double, 1> dtdt{};
  std::array<int, 3> icntrl{};
  return fn_(&t, xin, out, derivatives.data(), dtdt.data(), par, info, icntrl.data());
}

int LibraryUnit::call(const HostClock& clock, double time, double* xin, double* out, double* par,
                      int* info) {
  Kernel& k = kernel();
  k.startTime = clock.startTime;
  k.timeStep = clock.timeStep;
  k.iteration = clock.iteration;
  k.current = &record_;
  k.currentLabel = &label1_;
  const int r = component_.call(time, xin, out, par, info);
  k.current = nullptr;
  k.currentLabel = nullptr;
  return r;
}

double movement(double given, double latest, double tolerance) {
  const double m =
      std::abs(latest - given) / (tolerance * std::max({std::abs(given), std::abs(latest), 1.0}));
  return std::isnan(m) ? HUGE_VAL : m;
}

int callUnit(Unit& unit, int number, UnitArrays& a, const HostClock& clock, double time, int info7,
             int info8, int info13) {
  a.info.fill(0);
  a.info[0] = number;
  a.info[1] = kTypeNumber;
  a.info[6] = info7;
  a.info[7] = info8;
  a.info[12] = info13;
  return unit.call(clock, time, a.xin.data(), a.out.data(), a.par.data(), a.info.data());
}

RunResult runDeck(std::vector<DeckUnit>& deck, const SimulationTimes& times) {
  RunResult result;
  HostClock clock{times.start, times.step, 0};
  std::vector<UnitArrays> arrays(deck.size());
  for (std::size_t u = 0; u < deck.size(); ++u) arrays[u].par = deck[u].parameters;

  // info(7), info(8), info(13) of a kind of call: what tells the kinds apart.
  auto callAll = [&](double time, int info7, int info8, int info13) {
    for (std::size_t u = 0; u < deck.size(); ++u) {
      ++result.calls;
      callUnit(*deck[u].unit, deck[u].number, arrays[u], clock, time, info7, info8, info13);
    }
  };
  auto fatal = [&]() {
    return std::any_of(deck.begin(), deck.end(),
                       [](const DeckUnit& d) { return d.unit->record().fatal; });
  };
  auto endAfterFault = [&](double time) {
    result.fatal = fatal();
    result.badParameter = std::any_of(deck.begin(), deck.end(), [](const DeckUnit& d) {
      return !d.unit->record().badParameters.empty();
    });
    callAll(time, 0, -1, 0);
    result.exitStatus = 1;
    return result;
  };

  callAll(times.start, -2, 0, 0);  // version signing
  callAll(times.start, -1, 0, 0);  // start of simulation
  callAll(times.start, 0, 0, 0);   // initial call at the start time
  const bool rejected = std::any_of(deck.begin(), deck.end(), [](const DeckUnit& d) {
    return !d.unit->record().badParameters.empty();
  });
  if (rejected || fatal()) return endAfterFault(times.start);

  for (std::size_t u = 0; u < deck.size(); ++u) {
    if (!deck[u].hooks.initialState) continue;
    UnitArrays& a = arrays[u];
    const std::array<double, kOutputs> kept = a.out;
    const std::array<double, kInputs> inputs = a.xin;
    a.xin = deck[u].hooks.initialInputs;
    ++result.calls;
    const HostClock probe{times.start, kProbeStep, 0};
    callUnit(*deck[u].unit, deck[u].number, a, probe, times.start + kProbeStep, 0, 0, 0);
    if (fatal()) return endAfterFault(times.start);
    deck[u].hooks.initialState(a.out);
    a.out = kept;
    a.xin = inputs;
  }

  // Connected inputs: whether a unit's still move, and how they settled.
  const bool connected = std::any_of(deck.begin(), deck.end(),
                                     [](const DeckUnit& d) { return !d.connections.empty(); });
  std::vector<int> calls(deck.size(), 0);        // iterative calls of the step, per unit
  std::vector<bool> called(deck.size(), false);  // outputs exist: the unit has had one
  auto excess = [&](std::size_t u, const Connection& c) {
    if (!called[c.from]) return 0.0;
    return movement(arrays[u].xin[c.input], arrays[c.from].out[c.output], times.tolerance);
  };
  auto moving = [&](std::size_t u) {
    return std::any_of(deck[u].connections.begin(), deck[u].connections.end(),
                       [&](const Connection& c) { return excess(u, c) > 1.0; });
  };
  auto tally = [&](double time, int iterations) {
    Convergence& v = result.convergence;
    v.iterations += iterations;
    v.mostIterations = std::max(v.mostIterations, iterations);
    bool unsettled = false;
    for (std::size_t u = 0; u < deck.size(); ++u) {
      for (const Connection& c : deck[u].connections) {
        const double e = excess(u, c);
        if (e <= 1.0) continue;
        unsettled = true;
        if (e <= v.worstExcess) continue;
        v.worstUnit = u;
        v.worstInput = c.input;
        v.worstGiven = arrays[u].xin[c.input];
        v.worstLatest = arrays[c.from].out[c.output];
        v.worstExcess = e;
        v.worstTime = time;
      }
    }
    if (unsettled) ++v.unsettledSteps;
  };

  const long steps = std::lround((times.stop - times.start) / times.step);
  for (long s = 1; s <= steps; ++s) {
    const double time = times.start + static_cast<double>(s) * times.step;
    const int step = static_cast<int>(s);
    for (std::size_t u = 0; u < deck.size(); ++u) {
      if (deck[u].hooks.inputs) deck[u].hooks.inputs(time, step, arrays[u].xin);
    }
    // The `iterations` rounds call every unit; further rounds only those
    // whose connected inputs still move, as long as any does.
    std::fill(calls.begin(), calls.end(), 0);
    const int rounds = std::max(times.iterations, times.maxIterations);
    int done = 0;
    for (int it = 0; it < rounds; ++it) {
      clock.iteration = it;
      bool any = false;
      for (std::size_t u = 0; u < deck.size(); ++u) {
        if (it >= times.iterations && !moving(u)) continue;
        for (const Connection& c : deck[u].connections) {
          if (called[c.from]) arrays[u].xin[c.input] = arrays[c.from].out[c.output];
        }
        ++result.calls;
        callUnit(*deck[u].unit, deck[u].number, arrays[u], clock, time, calls[u]++, 0, 0);
        called[u] = true;
        any = true;
      }
      if (!any) break;
      ++done;
      if (fatal()) return endAfterFault(time);
    }
    if (connected) tally(time, done);
    for (std::size_t u = 0; u < deck.size(); ++u) {
      if (deck[u].hooks.inputsUsed) deck[u].hooks.inputsUsed(arrays[u].xin);
      if (deck[u].hooks.outputs) deck[u].hooks.outputs(time, step, arrays[u].out);
    }
    callAll(time, 0, 0, 1);
    result.steps = step;
    if (fatal()) return endAfterFault(time);
    const bool asked = std::any_of(
        deck.begin(), deck.end(), [](const DeckUnit& d) { return d.hooks.stop && d.hooks.stop(); });
    if (asked) {
      result.interrupted = true;
      callAll(time, 0, -1, 0);
      return result;
    }
  }
  callAll(times.stop, 0, -1, 0);
  return result;
}

RunResult runSimulation(Component& component, const RunConfig& config, const RunHooks& hooks) {
  LibraryUnit unit(component, config.label1);
  unit.record().keepMessages = false;  // the kernel's record has them
  std::vector<DeckUnit> deck{{&unit, config.unit, config.parameters, hooks}};
  return runDeck(deck, config);
}

}  // namespace standin
