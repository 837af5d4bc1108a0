// Cost of one iterative call of the component, for stores of rising
// complexity. Compare the rows of one run with each other: the ratios say
// what each heat flow costs, absolute times depend on the machine.
#include <benchmark/benchmark.h>

#include <array>

#include "host/host_services.h"
#include "host/type8642.h"
#include "store/state.h"

namespace {

using plugstore::HostServices;

class QuietHost final : public HostServices {
 public:
  double step = 1.0 / 60.0;
  void messages(int, std::string_view, std::string_view, int, int) override {}
  void typeck(int, int*, int, int, int) override {}
  void foundBadParameter(int, std::string_view, std::string_view) override {}
  void setStorageSize(int, int*) override {}
  int nextAvailableLogicalUnit() override { return 30; }
  void label(std::array<char, 300>& label, int, int) override { label.fill(' '); }
  double simulationTimeStep() override { return step; }
  double simulationStartTime() override { return 0.0; }
  int timestepIteration() override { return 0; }
  void debugLine(std::string_view) override {}
  void stdoutLine(std::string_view) override {}
};

using Par = std::array<double, plugstore::kNumParameters>;
using In = std::array<double, plugstore::kNumInputs>;
using Out = std::array<double, plugstore::kNumOutputs>;

double& at(Par& p, int n) { return p[static_cast<std::size_t>(n - 1)]; }
double& at(In& p, int n) { return p[static_cast<std::size_t>(n - 1)]; }

Par baseStore() {
  Par p{};
  at(p, 1) = 0.3;
  at(p, 2) = 1000.0;
  at(p, 3) = 4.18;
  at(p, 5) = 1.5;
  at(p, 6) = 50.0;
  at(p, 7) = 100.0;
  at(p, 8) = 30.0;
  at(p, 9) = 0.1;
  at(p, 11) = 20.0;
  for (int d = 1; d <= 10; ++d) {
    at(p, 21 + 4 * (d - 1)) = -1.0;
    at(p, 22 + 4 * (d - 1)) = -1.0;
  }
  for (int i = 0; i < 10; ++i) at(p, 61 + i) = 0.05 + 0.1 * i;
  for (int z = 0; z < 5; ++z) {
    at(p, 71 + 2 * z) = 0.2 * z;
    at(p, 72 + 2 * z) = 0.2 * (z + 1);
  }
  return p;
}

enum Case { kIdle = 0, kConductionLosses = 1, kTwoPorts = 2, kPortsAndCoil = 3 };

void configure(Case c, Par& p, In& x) {
  at(x, 31) = 15.0;
  if (c >= kConductionLosses) {
    at(p, 4) = 0.6;
    for (int n = 12; n <= 16; ++n) at(p, n) = 0.4;
  }
  if (c >= kTwoPorts) {
    at(p, 21) = 0.02;  // draw-off: cold in at the bottom, out at the top
    at(p, 22) = 0.98;
    at(x, 1) = 10.0;
    at(x, 2) = 300.0;
    at(p, 25) = 0.9;  // charging loop: hot in near the top, out at 0.1
    at(p, 26) = 0.1;
    at(x, 4) = 65.0;
    at(x, 5) = 200.0;
  }
  if (c >= kPortsAndCoil) {
    at(p, 85) = 1.0;
    const int b = 86;
    at(p, b + 0) = 0.5;     // inlet height
    at(p, b + 1) = 0.1;     // outlet height
    at(p, b + 2) = 0.016;   // inner diameter
    at(p, b + 3) = 0.018;   // outer diameter
    at(p, b + 4) = 12.0;    // length
    at(p, b + 5) = 380.0;   // copper
    at(p, b + 8) = 3.8;     // cp
    at(p, b + 9) = 1030.0;  // density
    at(p, b + 10) = 20.0;   // CVs
    at(p, b + 11) = 0.0;    // correlations
    at(x, 32) = 70.0;
    at(x, 33) = 150.0;
  }
}

void BM_IterativeCall(benchmark::State& state) {
  const auto c = static_cast<Case>(state.range(0));
  plugstore::State st;
  QuietHost host;
  Par par = baseStore();
  In xin{};
  Out out{};
  configure(c, par, xin);
  std::array<int, 15> info{};
  auto call = [&](double time) {
    info[0] = 1;
    info[1] = 8642;
    plugstore::type8642Call(st, host, time, xin.data(), out.data(), par.data(), info.data());
  };
  info.fill(0);
  info[6] = -1;
  call(0.0);
  info.fill(0);
  call(0.0);
  double time = 0.0;
  for (auto _ : state) {
    time += host.step;
    info.fill(0);
    call(time);
    info.fill(0);
    info[12] = 1;
    call(time);
    benchmark::DoNotOptimize(out.data());
  }
  state.counters["plugs"] = out[65];
  state.SetLabel(c == kIdle               ? "idle store"
                 : c == kConductionLosses ? "conduction + losses"
                 : c == kTwoPorts         ? "two ports + conduction + losses"
                                          : "two ports + coil (20 CVs) + conduction + losses");
}
// A fixed count of steps: every build then works on the same sequence of
// store states, and their times compare.
BENCHMARK(BM_IterativeCall)->DenseRange(kIdle, kPortsAndCoil)->Iterations(50000);

}  // namespace

BENCHMARK_MAIN();
