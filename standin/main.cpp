// Stand-in host: runs the host's call protocol over the component library
// for a store at rest (or, with --busy, a store with two ports, a coil and a
// heat input) and prints its state at the end; --two-units adds a second unit
// of the component, a larger store with draws of its own, to the same
// simulation; --table writes all outputs of every step, one line a step
// (the time, then the outputs of each unit), numbers separated by blanks.
//
//   standin_host [--lib PATH] [--hours H] [--step H] [--busy] [--two-units] [--table FILE]
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "standin/kernel.h"
#include "standin/protocol.h"

namespace {

// A valid store: 300 l, 1.5 m high, 60 degC, light losses, no ports in use.
std::array<double, standin::kParameters> restingStore() {
  std::array<double, standin::kParameters> p{};
  auto at = [&p](int n) -> double& { return p[static_cast<std::size_t>(n - 1)]; };
  at(1) = 0.3;     // volume m3
  at(2) = 1000.0;  // density
  at(3) = 4.18;    // kJ/(kg K)
  at(4) = 0.6;     // W/(m K)
  at(5) = 1.5;     // height m
  at(6) = 60.0;    // initial temperature
  at(7) = 100.0;   // max plugs
  at(8) = 30.0;    // min plugs
  at(9) = 0.1;     // min delta T
  at(11) = 20.0;   // reference temperature
  at(12) = 0.2;    // UA bottom W/K
  at(13) = 0.5;
  at(14) = 0.5;
  at(15) = 0.5;
  at(16) = 0.3;  // UA top
  for (int d = 1; d <= 10; ++d) {
    at(21 + 4 * (d - 1)) = -1.0;
    at(22 + 4 * (d - 1)) = -1.0;
  }
  for (int i = 0; i < 10; ++i) at(61 + i) = 0.05 + 0.1 * i;
  for (int z = 0; z < 5; ++z) {
    at(71 + 2 * z) = 0.2 * z;
    at(72 + 2 * z) = 0.2 * (z + 1);
  }
  return p;
}

// Adds a draw-off port, a charging loop, a coil on correlations and a heat
// input to the resting store, so that every part of the model is at work.
void makeBusy(std::array<double, standin::kParameters>& p) {
  auto at = [&p](int n) -> double& { return p[static_cast<std::size_t>(n - 1)]; };
  at(21) = 0.02;  // port 1: cold in at the bottom, out at the top
  at(22) = 0.98;
  at(25) = 0.9;  // port 2: hot in near the top, out at 0.1, seeking its layer
  at(26) = 0.1;
  at(28) = 1.0;
  at(85) = 1.0;  // one coil from 0.5 down to 0.1
  const int b = 86;
  at(b + 0) = 0.5;
  at(b + 1) = 0.1;
  at(b + 2) = 0.016;
  at(b + 3) = 0.018;
  at(b + 4) = 12.0;
  at(b + 5) = 380.0;
  at(b + 8) = 3.8;
  at(b + 9) = 1030.0;
  at(b + 10) = 20.0;
  at(200) = 0.8;  // heat input A1
}

// The second unit: a larger, cooler store.
void makeSecondStore(std::array<double, standin::kParameters>& p) {
  p[0] = 0.8;   // volume m3
  p[4] = 1.8;   // height m
  p[5] = 50.0;  // initial temperature
}

// Inputs of the stores; the second unit (`second`) draws more, an hour later.
void busyInputs(double time, bool second, std::array<double, standin::kInputs>& in) {
  double hourOfDay = time - 24.0 * static_cast<double>(static_cast<long>(time / 24.0));
  if (second) hourOfDay -= 1.0;
  in[0] = 10.0;  // port 1 cold water
  in[1] = (hourOfDay > 7.0 && hourOfDay <= 7.5) ? (second ? 900.0 : 300.0) : 0.0;  // kg/h
  in[3] = 45.0;                                                                    // port 2 return
  in[4] = (hourOfDay > 12.0 && hourOfDay <= 14.0) ? 200.0 : 0.0;                   // kg/h
  in[31] = 70.0;                                                                   // coil inlet
  in[32] = (hourOfDay > 9.0 && hourOfDay <= 16.0) ? 150.0 : 0.0;                   // kg/h
  in[49] = (hourOfDay > 18.0 && hourOfDay <= 19.0) ? 0.5 : 0.0;                    // kW
}

}  // namespace

int main(int argc, char** argv) {
  std::string lib = standin::defaultComponentPath();
  standin::SimulationTimes times;
  times.stop = 24.0;
  times.step = 0.25;
  bool busy = false;
  bool twoUnits = false;
  std::string tablePath;
  for (int i = 1; i < argc; ++i) {
    const bool hasValue = i + 1 < argc;
    if (std::strcmp(argv[i], "--busy") == 0) {
      busy = true;
    } else if (std::strcmp(argv[i], "--two-units") == 0) {
      twoUnits = true;
    } else if (hasValue && std::strcmp(argv[i], "--table") == 0) {
      tablePath = argv[++i];
    } else if (hasValue && std::strcmp(argv[i], "--lib") == 0) {
      lib = argv[++i];
    } else if (hasValue && std::strcmp(argv[i], "--hours") == 0) {
      times.stop = std::atof(argv[++i]);
    } else if (hasValue && std::strcmp(argv[i], "--step") == 0) {
      times.step = std::atof(argv[++i]);
    } else {
      std::fprintf(stderr, "standin_host: unknown argument %s\n", argv[i]);
      return 2;
    }
  }
  standin::Component component(lib);
  if (!component.loaded()) {
    std::fprintf(stderr, "standin_host: %s\n", component.error().c_str());
    return 2;
  }
  std::FILE* table = nullptr;
  if (!tablePath.empty()) {
    table = std::fopen(tablePath.c_str(), "w");
    if (table == nullptr) {
      std::fprintf(stderr, "standin_host: cannot write %s\n", tablePath.c_str());
      return 2;
    }
  }

  const std::size_t nUnits = twoUnits ? 2 : 1;
  std::vector<std::unique_ptr<standin::LibraryUnit>> units;
  std::vector<standin::DeckUnit> deck;
  std::vector<std::array<double, standin::kOutputs>> last(nUnits);
  for (std::size_t u = 0; u < nUnits; ++u) {
    const bool second = u == 1;
    units.push_back(std::make_unique<standin::LibraryUnit>(component, ""));
    standin::DeckUnit d;
    d.unit = units.back().get();
    d.number = static_cast<int>(u) + 1;
    d.parameters = restingStore();
    if (busy) makeBusy(d.parameters);
    if (second) makeSecondStore(d.parameters);
    d.hooks.inputs = [busy, second](double time, int, std::array<double, standin::kInputs>& in) {
      in[30] = 20.0;  // ambient temperature
      if (busy) busyInputs(time, second, in);
    };
    // The last unit's outputs complete the step's line of the table.
    d.hooks.outputs = [&last, table, u, nUnits](double time, int,
                                                const std::array<double, standin::kOutputs>& out) {
      last[u] = out;
      if (table == nullptr || u + 1 < nUnits) return;
      std::fprintf(table, "%.10g", time);
      for (const auto& unitOut : last) {
        for (double v : unitOut) std::fprintf(table, " %.10g", v);
      }
      std::fputc('\n', table);
    };
    deck.push_back(std::move(d));
  }
  const standin::RunResult r = standin::runDeck(deck, times);
  if (table != nullptr) std::fclose(table);
  std::printf("steps %d, calls %d, messages %zu\n", r.steps, r.calls,
              standin::kernel().messages.size());
  for (std::size_t u = 0; u < nUnits; ++u) {
    if (nUnits > 1) std::printf("unit %zu: ", u + 1);
    std::printf("mean store temperature %.4f degC, stored energy %.6f MJ, loss %.6f kW\n",
                last[u][64], last[u][60], last[u][67]);
  }
  return r.exitStatus;
}
