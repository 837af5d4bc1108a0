// libFuzzer target: the whole call of the component. The bytes are a program
// of host actions: parameter and input values (valid stores, values at and
// across their limits, NaN, infinities, huge and tiny numbers), host settings
// (time step, start time, unit) and calls in any order a host could make them
// (version signing, start, initial, iterative and end-of-step calls, end of
// simulation, a second simulation, calls after a fatal stop, odd call-
// information arrays). After every call it checks what the host relies on:
// the call returns 1, writes only the outputs it owns and nothing beyond the
// arrays (guarded by AddressSanitizer), allocates nothing unless it builds a
// store, leaves the plug chain intact and its capacitance conserved, and
// gives finite outputs unless a fatal message stopped the store.
#include <sanitizer/allocator_interface.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <string_view>

#include "host/catalog.h"
#include "host/parameters.h"
#include "host/type8642.h"
#include "store/plug_table.h"

namespace {

using namespace plugstore;

void require(bool ok, const char* what) {
  if (ok) return;
  std::fprintf(stderr, "fuzz_call: %s\n", what);
  std::abort();
}

// ---------------------------------------------------------------- allocations

// Counted while a call runs that must not allocate.
bool countAllocations = false;
// FUZZ_CALL_VERBOSE=1 shows every call and message (for reading a finding).
const bool verbose = std::getenv("FUZZ_CALL_VERBOSE") != nullptr;
// FUZZ_CALL_STRICT=1 counts the component's guard of finite outputs as a
// finding: an absurd value should be named by a check before it gets there.
const bool strict = std::getenv("FUZZ_CALL_STRICT") != nullptr;
long allocations = 0;

void onMalloc(const volatile void*, std::size_t) {
  if (countAllocations) ++allocations;
}
void onFree(const volatile void*) {}

// ---------------------------------------------------------------- the host

// A host that records no text (recording would allocate): it counts the
// messages by severity and checks their form.
class FuzzHost final : public HostServices {
 public:
  double step = 0.25;
  double start = 0.0;
  std::string folder;  // label 1, set once before any call
  int fatalMessages = 0;
  int messagesSent = 0;
  int badParameters = 0;

  void messages(int errorCode, std::string_view text, std::string_view severity, int,
                int) override {
    ++messagesSent;
    if (verbose)
      std::fprintf(stderr, "  %.*s: %.*s\n", static_cast<int>(severity.size()), severity.data(),
                   static_cast<int>(text.size()), text.data());
    require(errorCode == -1, "message with an error code other than -1");
    require(!text.empty() && text.size() < TextLine::kCapacity, "message text empty or cut off");
    require(text.find("internal error") == std::string_view::npos,
            "an unforeseen exception reached the entry point");
    // The component's last guard against non-finite outputs: a finding in
    // strict mode, where every such case should have met a named check.
    require(!strict || text.find("is not a finite number at time") == std::string_view::npos,
            "an output was not finite (strict mode)");
    const bool fatal = severity == "FATAL" || severity == "Fatal";
    require(fatal || severity == "WARNING" || severity == "Warning" || severity == "NOTICE",
            "message of an unknown severity");
    if (fatal) ++fatalMessages;
  }
  void typeck(int option, int*, int nInputs, int nParameters, int nDerivatives) override {
    require(
        option == 1 && nInputs == kNumInputs && nParameters == kNumParameters && nDerivatives == 0,
        "TYPECK with wrong counts");
  }
  void foundBadParameter(int number, std::string_view severity, std::string_view text) override {
    ++badParameters;
    require(number >= 1 && number <= kNumParameters, "bad parameter number out of range");
    require(severity == "Fatal" && !text.empty(), "bad parameter without severity or text");
  }
  void setStorageSize(int size, int*) override { require(size == 0, "host storage requested"); }
  int nextAvailableLogicalUnit() override { return 30; }
  void label(std::array<char, 300>& out, int, int index) override {
    require(index == 1, "label other than 1 asked for");
    out.fill(' ');
    std::memcpy(out.data(), folder.data(), std::min(folder.size(), out.size()));
  }
  double simulationTimeStep() override { return step; }
  double simulationStartTime() override { return start; }
  int timestepIteration() override { return 0; }
  void debugLine(std::string_view) override {}
  void stdoutLine(std::string_view) override {}
};

// The scratch folder that label 1 names: start profiles are looked for and
// dumps written there only. Removed when the fuzzer exits.
struct ScratchFolder {
  std::string dir;
  ScratchFolder() {
    const char* tmp = std::getenv("TMPDIR");
    std::string tmpl =
        std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/plugstore-call-XXXXXX";
    require(mkdtemp(tmpl.data()) != nullptr, "no scratch folder");
    dir = tmpl;
  }
  ~ScratchFolder() {
    const std::string cmd = "rm -rf '" + dir + "'";
    if (std::system(cmd.c_str()) != 0) std::fprintf(stderr, "cannot remove %s\n", dir.c_str());
  }
};

// ---------------------------------------------------------------- stores

using Parameters = std::array<double, kNumParameters>;
using Inputs = std::array<double, kNumInputs>;

void setP(Parameters& p, std::string_view name, double v) {
  const CatalogEntry* e = findParameter(name);
  require(e != nullptr, "unknown parameter name in a base store");
  p[static_cast<std::size_t>(e->number - 1)] = v;
}
void setI(Inputs& x, std::string_view name, double v) {
  const CatalogEntry* e = findInput(name);
  require(e != nullptr, "unknown input name in a base store");
  x[static_cast<std::size_t>(e->number - 1)] = v;
}

// 300 l, 1.5 m, 60 degC, 30 ... 100 plugs, no port, no Hx.
Parameters idleStore() {
  Parameters p{};
  setP(p, "store.volume", 0.3);
  setP(p, "store.density", 1000.0);
  setP(p, "store.specificHeat", 4.18);
  setP(p, "store.height", 1.5);
  setP(p, "store.initialTemperature", 60.0);
  setP(p, "store.maxPlugs", 100.0);
  setP(p, "store.minPlugs", 30.0);
  setP(p, "store.minDeltaT", 0.1);
  setP(p, "store.referenceTemperature", 20.0);
  for (int d = 1; d <= kNumPorts; ++d) {
    p[static_cast<std::size_t>(20 + 4 * (d - 1))] = -1.0;
    p[static_cast<std::size_t>(21 + 4 * (d - 1))] = -1.0;
  }
  for (int i = 0; i < kNumSensors; ++i) p[static_cast<std::size_t>(60 + i)] = 0.05 + 0.1 * i;
  for (int z = 0; z < kNumZones; ++z) {
    p[static_cast<std::size_t>(70 + 2 * z)] = 0.2 * z;
    p[static_cast<std::size_t>(71 + 2 * z)] = 0.2 * (z + 1);
  }
  return p;
}

// Two ports (one seeking), a coil on correlations, one on nominal UA with
// power laws, conduction, losses, a barrier and heat inputs in both banks.
Parameters busyStore() {
  Parameters p = idleStore();
  setP(p, "store.conductivity", 0.6);
  setP(p, "loss.uaBottom", 0.5);
  setP(p, "loss.uaSideLower", 0.8);
  setP(p, "loss.uaSideMiddle", 0.8);
  setP(p, "loss.uaSideUpper", 0.8);
  setP(p, "loss.uaTop", 0.5);
  setP(p, "port1.heightA", 0.02);
  setP(p, "port1.heightB", 0.98);
  setP(p, "port2.heightA", 0.9);
  setP(p, "port2.heightB", 0.1);
  setP(p, "port2.inletMode", 1.0);
  setP(p, "barrier.mode", 1.0);
  setP(p, "barrier.height", 0.5);
  setP(p, "barrier.ua", 0.2);
  setP(p, "hx.count", 2.0);
  setP(p, "hx1.inletHeight", 0.5);
  setP(p, "hx1.outletHeight", 0.1);
  setP(p, "hx1.innerDiameter", 0.016);
  setP(p, "hx1.outerDiameter", 0.018);
  setP(p, "hx1.length", 10.0);
  setP(p, "hx1.wallConductivity", 380.0);
  setP(p, "hx1.specificHeat", 3.8);
  setP(p, "hx1.density", 1030.0);
  setP(p, "hx1.numberOfCv", 15.0);
  setP(p, "hx1.glycolConcentration", 30.0);
  setP(p, "hx2.inletHeight", 0.95);
  setP(p, "hx2.outletHeight", 0.6);
  setP(p, "hx2.volume", 0.002);
  setP(p, "hx2.specificHeat", 4.18);
  setP(p, "hx2.density", 1000.0);
  setP(p, "hx2.numberOfCv", 5.0);
  setP(p, "hx2.uaModel", 1.0);
  setP(p, "hx2.flowExponent", 0.4);
  setP(p, "hx2.deltaTExponent", 0.25);
  setP(p, "hx2.temperatureExponent", 0.1);
  setP(p, "hx2.uaNominal", 2000.0);
  setP(p, "heatA1.height", 0.8);
  setP(p, "heatB6.height", 0.3);
  return p;
}

Inputs busyInputs() {
  Inputs x{};
  setI(x, "ambient.temperature", 15.0);
  setI(x, "port1.temperatureA", 10.0);
  setI(x, "port1.massFlow", 200.0);
  setI(x, "port1.temperatureB", 30.0);
  setI(x, "port2.temperatureA", 45.0);
  setI(x, "port2.massFlow", -300.0);
  setI(x, "port2.temperatureB", 35.0);
  setI(x, "hx1.inletTemperature", 75.0);
  setI(x, "hx1.massFlow", 150.0);
  setI(x, "hx2.inletTemperature", 20.0);
  setI(x, "hx2.massFlow", -80.0);
  setI(x, "hx2.inletTemperatureReversed", 5.0);
  setI(x, "heatA1.power", 2.0);
  setI(x, "heatB6.power", -0.5);
  return x;
}

// Six heat exchangers, all on correlations, stacked through the store.
Parameters sixHxStore() {
  Parameters p = idleStore();
  setP(p, "store.conductivity", 0.6);
  setP(p, "hx.count", 6.0);
  for (int k = 1; k <= kMaxHx; ++k) {
    const auto b = static_cast<std::size_t>(85 + 19 * (k - 1));
    p[b] = 0.15 * k;
    p[b + 1] = 0.15 * k - 0.1;
    p[b + 2] = 0.02;
    p[b + 3] = 0.024;
    p[b + 4] = 4.0;
    p[b + 5] = 50.0;
    p[b + 8] = 4.18;
    p[b + 9] = 1000.0;
    p[b + 10] = 3.0 + k;
  }
  return p;
}

// ---------------------------------------------------------------- the bytes

class Bytes {
 public:
  Bytes(const std::uint8_t* data, std::size_t size) : p_(data), end_(data + size) {}
  [[nodiscard]] bool empty() const { return p_ == end_; }
  std::uint8_t u8() { return empty() ? 0 : *p_++; }
  std::uint16_t u16() { return static_cast<std::uint16_t>(u8() | (u8() << 8)); }
  double f64() {
    std::uint64_t bits = 0;
    for (int i = 0; i < 8; ++i) bits |= static_cast<std::uint64_t>(u8()) << (8 * i);
    double v = 0.0;
    std::memcpy(&v, &bits, sizeof v);
    return v;
  }

 private:
  const std::uint8_t* p_;
  const std::uint8_t* end_;
};

// Values at and across the limits of the parameter checks and the model.
constexpr std::array<double, 40> kSpecial = {
    0.0,
    1.0,
    -1.0,
    0.5,
    0.001,
    0.0009999,
    1e-300,
    -1e-300,
    1e308,
    -1e308,
    1e12,
    -1e12,
    std::numeric_limits<double>::quiet_NaN(),
    std::numeric_limits<double>::infinity(),
    -std::numeric_limits<double>::infinity(),
    std::numeric_limits<double>::denorm_min(),
    10.0,
    400.0,
    399.0,
    9.0,
    401.0,
    6.0,
    7.0,
    2.0,
    -273.15,
    -273.16,
    95.0,
    95.1,
    0.1,
    0.05,
    100.5,
    2147483647.0,
    2147483648.0,
    -2147483649.0,
    1e-6,
    0.999999,
    1.000001,
    1e6,
    -1e6,
    3600.0,
};

// A value: a special one, the 8 bytes of a double, an integer, a hundredth
// or the current value scaled.
double value(Bytes& b, double current) {
  switch (b.u8() % 6) {
    case 0:
      return kSpecial[b.u8() % kSpecial.size()];
    case 1:
      return b.f64();
    case 2:
      return static_cast<std::int16_t>(b.u16());
    case 3:
      return static_cast<std::int16_t>(b.u16()) / 100.0;
    case 4: {
      constexpr std::array<double, 8> kFactor = {-1.0, 2.0, 0.5, 10.0, 0.1, 1e6, 1e-6, 1.0 + 1e-9};
      return current * kFactor[b.u8() % kFactor.size()];
    }
    default:
      return current + (static_cast<std::int8_t>(b.u8()) / 64.0);
  }
}

// ---------------------------------------------------------------- checks

double sumCap(const PlugTable& t) {
  double s = 0.0;
  int p = t.first();
  for (int k = 0; k < kPlugRecords && p > 0 && p < kTopSentinel; ++k) {
    s += t[p].Cap;
    p = t[p].iUp;
  }
  return s;
}

// The chain from the bottom sentinel to the top one: every plug in the pool,
// linked both ways, heights contiguous from 0 to the top.
void checkChain(const PlugTable& t) {
  require(t[kBottomSentinel].Cap == -1.0 && t[kTopSentinel].Cap == -1.0 &&
              t[kTopSentinel].iUp == kTopSentinel,
          "sentinel changed");
  int p = t.first();
  int below = kBottomSentinel;
  int32_t z = 0;
  int n = 0;
  while (p != kTopSentinel) {
    require(p > kBottomSentinel && p < kTopSentinel, "chain leaves the pool");
    require(++n < kTopSentinel, "chain longer than the pool");
    const Plug& q = t[p];
    require(q.Cap > 0.0 && std::isfinite(q.Cap), "plug in the chain without capacitance");
    require(q.iDown == below, "downward link broken");
    require(q.zDown == z && q.zUp >= q.zDown, "plug heights not contiguous");
    z = q.zUp;
    below = p;
    p = q.iUp;
  }
  require(n >= 1 && t[kTopSentinel].iDown == below, "top sentinel not linked to the last plug");
  require(z == kZTop, "last plug does not end at the top");
}

// Outputs that a call never writes keep what the host put there.
constexpr double kUnwritten = -7.25e99;

// ---------------------------------------------------------------- the run

constexpr long kWorkBudget = 8000;

struct Run {
  State& st;
  FuzzHost& host;
  Parameters par{};      // what the host passes
  Parameters pending{};  // what the next initial call will pass
  Inputs in{};
  std::unique_ptr<double[]> xin{new double[kNumInputs]};
  std::unique_ptr<double[]> out{new double[kNumOutputs]};
  std::unique_ptr<double[]> parArr{new double[kNumParameters]};
  std::unique_ptr<int[]> info{new int[15]};
  double time = 0.0;
  int unit = 1;
  int calls = 0;
  long work = 0;

  // One call with the given info entries; checks everything after it.
  void call(double t, std::array<int, 15> inf) {
    // A bound on the work keeps one input quick; its cost grows with the
    // control volumes of the Hx and with dumps. The end of the simulation always comes.
    if (work > kWorkBudget && inf[7] != -1) return;
    ++calls;
    for (const HxRecord& hx : st.hx) work += 1 + std::max(hx.cvExtent, 0) / 4;
    if (t >= 1e10) work += 1000;  // plug-table dumps: files written at every call
    inf[0] = unit;
    inf[1] = 8642;
    std::memcpy(info.get(), inf.data(), sizeof inf);
    std::memcpy(xin.get(), in.data(), sizeof in);
    std::memcpy(parArr.get(), par.data(), sizeof par);
    for (int i = 0; i < kNumOutputs; ++i) out[static_cast<std::size_t>(i)] = kUnwritten;

    // The kind of call, as the host's protocol defines it.
    const bool other = inf[6] == -2 || inf[7] == -1 || inf[12] > 0 || inf[6] == -1;
    const bool initial = !other && t < host.start + 0.5 * host.step;
    const bool iterative = !other && !initial;
    const bool ranBefore = st.initialised && !st.stopped && !st.badParameters;
    const int fatalBefore = host.fatalMessages;
    const double capBefore = ranBefore ? sumCap(st.savedPlugs) : 0.0;

    allocations = 0;
    // Dumps open files from 1e10 h on, and the C library allocates for that.
    countAllocations = !initial && t < 1e10;
    const int r = type8642Call(st, host, t, xin.get(), out.get(), parArr.get(), info.get());
    countAllocations = false;
    if (verbose) {
      std::fprintf(stderr, "call %d: time %g info7 %d info8 %d info13 %d step %g%s%s%s\n", calls, t,
                   inf[6], inf[7], inf[12], host.step, initial ? " initial" : "",
                   iterative ? " iterative" : "", st.stopped ? " stopped" : "");
    }

    require(r == 1, "call returned other than 1");
    // Throwing the stop after a fatal message allocates: that call ends the run.
    const bool fatal = host.fatalMessages > fatalBefore;
    require(allocations == 0 || fatal, "call allocated memory after the store was built");
    require(std::memcmp(xin.get(), in.data(), sizeof in) == 0, "inputs changed by the call");
    require(std::memcmp(parArr.get(), par.data(), sizeof par) == 0, "parameters changed");
    if (fatal) require(st.stopped || !st.initialised, "fatal message without stopping the store");

    const bool alive = st.initialised && !st.stopped && !st.badParameters;
    if (alive) {
      checkChain(st.savedPlugs);
      if (iterative) checkChain(st.plugs);
    }
    if (initial && alive) {
      const double cap = sumCap(st.plugs);
      require(std::fabs(cap - st.store.capTot) <= 1e-9 * std::fabs(st.store.capTot),
              "set-up capacitance differs from the store's");
    }
    if (iterative && ranBefore && alive) {
      bool moved = false;
      for (const DirectPort& port : st.ports) moved = moved || port.mDot != 0.0;
      if (!moved) {
        require(std::fabs(sumCap(st.plugs) - capBefore) <= 1e-9 * std::fabs(capBefore),
                "capacitance not conserved without flow");
      }
    }

    // Outputs: only an iterative call of a running store writes, and only
    // those it owns; they are finite unless a fatal message stopped the store.
    const int hxCount = hxInUse(st.store);
    for (int n = 1; n <= kNumOutputs; ++n) {
      const double v = out[static_cast<std::size_t>(n - 1)];
      if (!outputWritten(n, hxCount) || !iterative || !ranBefore) {
        require(v == kUnwritten, "output written that the call does not own");
      } else if (alive && !std::isfinite(v)) {
        std::fprintf(stderr, "fuzz_call: output %d is %g at time %g without a fatal message\n", n,
                     v, t);
        std::abort();
      }
    }
  }

  void versionSigning() { call(time, {0, 0, 0, 0, 0, 0, -2}); }
  void startOfSimulation() { call(time, {0, 0, 0, 0, 0, 0, -1}); }
  void initialCall() {
    par = pending;
    time = host.start;
    call(time, {});
  }
  void iterative(int iteration) {
    std::array<int, 15> inf{};
    inf[6] = iteration;
    call(time, inf);
  }
  void endOfStep() {
    std::array<int, 15> inf{};
    inf[12] = 1;
    call(time, inf);
    time += host.step;
  }
  void endOfSimulation() {
    std::array<int, 15> inf{};
    inf[7] = -1;
    call(time, inf);
  }
  void opening() {
    versionSigning();
    startOfSimulation();
    initialCall();
    time = host.start + host.step;
  }
};

enum Op : std::uint8_t {
  kBase,
  kSetParameter,
  kSetInput,
  kVersion,
  kStart,
  kInitial,
  kIterate,
  kEndStep,
  kEndSimulation,
  kHostStep,
  kHostStart,
  kTime,
  kSteps,
  kRawInfo,
  kUnit,
  kOpening,
  kOps
};

void execute(Run& run, Bytes& b) {
  static const std::array<Parameters, 3> kBases = {idleStore(), busyStore(), sixHxStore()};
  static const Inputs kBusyInputs = busyInputs();
  while (!b.empty() && run.work <= kWorkBudget) {
    switch (b.u8() % kOps) {
      case kBase: {
        const std::size_t k = b.u8() % kBases.size();
        run.pending = kBases[k];
        if (verbose) std::fprintf(stderr, "base store %zu\n", k);
        run.in = k == 1 ? kBusyInputs : Inputs{};
        if (k != 1) run.in[30] = 20.0;
        break;
      }
      case kSetParameter: {
        const std::size_t n = b.u8() % kNumParameters;
        run.pending[n] = value(b, run.pending[n]);
        if (verbose) std::fprintf(stderr, "parameter %zu = %.17g\n", n + 1, run.pending[n]);
        break;
      }
      case kSetInput: {
        const std::size_t n = b.u8() % kNumInputs;
        run.in[n] = value(b, run.in[n]);
        if (verbose) std::fprintf(stderr, "input %zu = %.17g\n", n + 1, run.in[n]);
        break;
      }
      case kVersion:
        run.versionSigning();
        break;
      case kStart:
        run.startOfSimulation();
        break;
      case kInitial:
        run.initialCall();
        break;
      case kIterate:
        run.iterative(b.u8() % 4);
        break;
      case kEndStep:
        run.endOfStep();
        break;
      case kEndSimulation:
        run.endOfSimulation();
        break;
      case kHostStep:
        run.host.step = value(b, run.host.step);
        if (verbose) std::fprintf(stderr, "host time step = %.17g\n", run.host.step);
        break;
      case kHostStart:
        run.host.start = value(b, run.host.start);
        if (verbose) std::fprintf(stderr, "host start time = %.17g\n", run.host.start);
        break;
      case kTime:
        run.time = value(b, run.time);
        if (verbose) std::fprintf(stderr, "time = %.17g\n", run.time);
        break;
      case kSteps: {
        const int steps = 1 + b.u8() % 64;
        const int iterations = 1 + b.u8() % 3;
        for (int k = 0; k < steps; ++k) {
          for (int i = 0; i < iterations; ++i) run.iterative(i);
          run.endOfStep();
        }
        break;
      }
      case kRawInfo: {
        std::array<int, 15> inf{};
        const int n = 1 + b.u8() % 3;
        for (int i = 0; i < n; ++i) {
          inf[b.u8() % 15] = static_cast<std::int16_t>(b.u16());
        }
        run.call(run.time, inf);
        break;
      }
      case kUnit:
        run.unit = static_cast<std::int16_t>(b.u16());
        break;
      default:
        run.opening();
        break;
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  __sanitizer_install_malloc_and_free_hooks(onMalloc, onFree);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const ScratchFolder folder;
  static const auto st = std::make_unique<State>();
  static const auto host = std::make_unique<FuzzHost>();
  // A fresh store as a freshly loaded library has it.
  *st = State{};
  *host = FuzzHost{};
  host->folder = folder.dir;
  Run run{*st, *host};
  Bytes b(data, size);
  execute(run, b);
  // The host ends the simulation; the store's memory is released.
  run.endOfSimulation();
  for (const HxRecord& hx : st->hx) require(hx.cvExtent == -1, "Hx arrays not released");
  return 0;
}
