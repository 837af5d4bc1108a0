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
#include "standin/stores.h"

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
    d.parameters = standin::restingStore();
    if (busy) standin::makeBusy(d.parameters);
    if (second) standin::makeSecondStore(d.parameters);
    d.hooks.inputs = [busy, second](double time, int, std::array<double, standin::kInputs>& in) {
      standin::storeInputs(time, busy, second, in);
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
