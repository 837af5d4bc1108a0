#include "standin/protocol.h"

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

RunResult runSimulation(Component& component, const RunConfig& config, const RunHooks& hooks) {
  Kernel& k = kernel();
  k.timeStep = config.step;
  k.startTime = config.start;
  k.label1 = config.label1;
  k.iteration = 0;

  RunResult result;
  std::array<double, kParameters> par = config.parameters;
  std::array<double, kInputs> xin{};
  std::array<double, kOutputs> out{};  // kept across all calls, as a host does
  std::array<int, kInfoSize> info{};

  auto call = [&](double time) {
    info[0] = config.unit;
    info[1] = kTypeNumber;
    ++result.calls;
    component.call(time, xin.data(), out.data(), par.data(), info.data());
  };
  auto endOfSimulation = [&](double time) {
    info.fill(0);
    info[7] = -1;
    call(time);
  };
  auto stopped = [&]() { return k.fatalSeen(); };

  // version signing
  info.fill(0);
  info[6] = -2;
  call(config.start);
  // start of simulation
  info.fill(0);
  info[6] = -1;
  call(config.start);
  // initial call at the start time
  info.fill(0);
  call(config.start);
  if (!k.badParameters.empty() || stopped()) {
    result.badParameter = !k.badParameters.empty();
    result.fatal = stopped();
    endOfSimulation(config.start);
    result.exitStatus = 1;
    return result;
  }

  if (hooks.initialState) {
    const std::array<double, kOutputs> kept = out;
    xin = config.initialInputs;
    k.timeStep = kProbeStep;
    info.fill(0);
    call(config.start + kProbeStep);
    k.timeStep = config.step;
    if (!stopped()) hooks.initialState(out);
    out = kept;
    if (stopped()) {
      result.fatal = true;
      endOfSimulation(config.start);
      result.exitStatus = 1;
      return result;
    }
  }

  const long steps = std::lround((config.stop - config.start) / config.step);
  for (long s = 1; s <= steps; ++s) {
    const double time = config.start + static_cast<double>(s) * config.step;
    const int step = static_cast<int>(s);
    if (hooks.inputs) hooks.inputs(time, step, xin);
    for (int it = 0; it < config.iterations; ++it) {
      k.iteration = it;
      info.fill(0);
      info[6] = it;
      call(time);
      if (stopped()) break;
    }
    if (stopped()) {
      result.fatal = true;
      endOfSimulation(time);
      result.exitStatus = 1;
      return result;
    }
    if (hooks.outputs) hooks.outputs(time, step, out);
    info.fill(0);
    info[12] = 1;
    call(time);
    result.steps = step;
    if (stopped()) {
      result.fatal = true;
      endOfSimulation(time);
      result.exitStatus = 1;
      return result;
    }
    if (hooks.stop && hooks.stop()) {
      result.interrupted = true;
      endOfSimulation(time);
      return result;
    }
  }
  endOfSimulation(config.stop);
  return result;
}

}  // namespace standin
