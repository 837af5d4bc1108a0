// plugstore_ab: two builds of the component library side by side, driven
// through the stand-in host's call protocol with the same inputs, every call
// of one compared with the same call of the other: the return value, all 202
// outputs and the info array bit for bit (NaN included), the messages and
// rejected parameters, what each wrote to standard output and standard error
// (the debug channel), and the plug-table dump files in each one's label-1
// folder.
//
//   plugstore_ab --a OLD.so --b NEW.so SCENARIO.toml [-D name=value ...]
//   plugstore_ab --a OLD.so --b NEW.so --busy [--two-units] [--hours H] [--step H]
//
// A scenario runs as `plugstore run` runs it (schedules, series, controllers,
// tapping lists; the controllers follow library A's outputs, which are B's
// as long as nothing differs). --busy runs the stand-in host's busy store.
// Exit status: 0 identical, 1 a difference (the first ones are listed), 2 a
// bad command line or scenario.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "ab/pair_unit.h"
#include "plugstore/run.h"
#include "plugstore/scenario.h"
#include "standin/kernel.h"
#include "standin/stores.h"

namespace {

namespace fs = std::filesystem;

struct Options {
  std::string libA;
  std::string libB;
  std::string scenario;
  std::vector<std::string> overrides;
  bool busy = false;
  bool twoUnits = false;
  double hours = 24.0;
  double step = 0.25;
  int shown = 10;
};

int runScenario(const Options& o, ab::Comparison& cmp, standin::Component& a, standin::Component& b,
                const fs::path& work) {
  using namespace plugstore::runner;
  const Scenario s = loadScenario(o.scenario, true, o.overrides);
  RunOptions run;
  // One pair per store of the scenario, in a folder of its own.
  int stores = 0;
  run.unit = [&](const Scenario& store) -> std::unique_ptr<standin::Unit> {
    const std::string name = store.name.empty() ? "unit" + std::to_string(++stores) : store.name;
    return std::make_unique<ab::PairUnit>(a, b, work, name, store.label1, cmp);
  };
  run.progress = false;
  const RunReport r = runScenario(s, run);
  std::printf("%s: %d of %d steps of %.6g h, %d iteration(s) each\n", o.scenario.c_str(),
              r.result.steps, s.steps(), s.step, s.iterations);
  return 0;
}

int runBusy(const Options& o, ab::Comparison& cmp, standin::Component& a, standin::Component& b,
            const fs::path& work) {
  standin::SimulationTimes times;
  times.stop = o.hours;
  times.step = o.step;
  const std::size_t nUnits = o.twoUnits ? 2 : 1;
  std::vector<std::unique_ptr<ab::PairUnit>> units;
  std::vector<standin::DeckUnit> deck;
  for (std::size_t u = 0; u < nUnits; ++u) {
    const bool second = u == 1;
    units.push_back(std::make_unique<ab::PairUnit>(a, b, work, "unit" + std::to_string(u + 1),
                                                   fs::path(), cmp));
    standin::DeckUnit d;
    d.unit = units.back().get();
    d.number = static_cast<int>(u) + 1;
    d.parameters = standin::restingStore();
    standin::makeBusy(d.parameters);
    if (second) standin::makeSecondStore(d.parameters);
    d.hooks.inputs = [second](double time, int, std::array<double, standin::kInputs>& in) {
      standin::storeInputs(time, true, second, in);
    };
    deck.push_back(std::move(d));
  }
  const standin::RunResult r = standin::runDeck(deck, times);
  std::printf("busy store%s: %d steps of %.6g h\n", o.twoUnits ? " (two units)" : "", r.steps,
              o.step);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  CLI::App app{"Two builds of the component library, every call compared bit for bit"};
  app.add_option("--a", o.libA, "the reference library")->required();
  app.add_option("--b", o.libB, "the library compared with it")->required();
  app.add_option("scenario", o.scenario, "scenario file, as plugstore run reads it");
  app.add_option("-D", o.overrides, "name=value: replaces a setting of the scenario");
  app.add_flag("--busy", o.busy, "the stand-in host's busy store instead of a scenario");
  app.add_flag("--two-units", o.twoUnits, "with --busy: a second unit in the same simulation");
  app.add_option("--hours", o.hours, "with --busy: simulated hours (24)");
  app.add_option("--step", o.step, "with --busy: time step, h (0.25)");
  app.add_option("--show", o.shown, "differences listed (10)");
  CLI11_PARSE(app, argc, argv);
  if (o.busy == !o.scenario.empty()) {
    std::fprintf(stderr, "plugstore_ab: give a scenario or --busy\n");
    return 2;
  }

  // One file is loaded once by the process: both sides would be the same
  // stores, and the comparison would compare nothing.
  std::error_code same;
  if (fs::equivalent(o.libA, o.libB, same)) {
    std::fprintf(stderr, "plugstore_ab: --a and --b are one file; compare a copy of it\n");
    return 2;
  }
  standin::Component a(o.libA);
  standin::Component b(o.libB);
  for (const standin::Component* c : {&a, &b}) {
    if (!c->loaded()) {
      std::fprintf(stderr, "plugstore_ab: %s\n", c->error().c_str());
      return 2;
    }
  }
  standin::kernel().echo = false;
  const fs::path work = fs::temp_directory_path() / ("plugstore_ab_" + std::to_string(getpid()));
  ab::Comparison cmp(o.shown);
  int status = 0;
  try {
    status = o.busy ? runBusy(o, cmp, a, b, work) : runScenario(o, cmp, a, b, work);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "plugstore_ab: %s\n", e.what());
    status = 2;
  }
  std::error_code ignored;
  fs::remove_all(work, ignored);
  if (status != 0) return status;
  std::printf("%s", cmp.summary().c_str());
  return cmp.identical() ? 0 : 1;
}
