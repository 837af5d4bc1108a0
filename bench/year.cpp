// What a simulated year costs: CPU seconds of a scenario's year for the bare
// component loop (the host's call protocol over the component library, the
// inputs worked out before the clock starts) and for `plugstore run` writing
// its CSV, and microseconds per time step against the number of plugs in use
// (forced with store.minPlugs). Every figure is the median of --repeat runs;
// the ratios come from the same run of this program.
//
//   bench_year [--lib PATH] [--baseline PATH] [--runner PATH] [--repeat N]
//              [--plugs 40,80,160,300] [--plug-hours H] [-D name=value ...] SCENARIO.toml
//
// -D replaces a setting of the scenario as `plugstore run -D` does (for
// every run of this program, the runner's included).
//
// --baseline PATH runs every measurement of the bare loop also with another
// build of the component library, the two builds one after the other in each
// round, and prints the median of the rounds' ratios (this build / baseline):
// on a machine whose speed drifts, the ratio of runs side by side holds.
//
// Controllers (a thermostat on a heat input) are worked out between the steps
// as `plugstore run` does; they read the outputs, so the inputs they set are
// not known beforehand. A tapping list is the runner's work and is refused.
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "plugstore/controllers.h"
#include "plugstore/initial_profile.h"
#include "plugstore/scenario.h"
#include "standin/kernel.h"
#include "standin/protocol.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using plugstore::runner::Scenario;

double cpuSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + 1e-9 * static_cast<double>(ts.tv_nsec);
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  const std::size_t n = v.size();
  return n % 2 == 1 ? v[n / 2] : 0.5 * (v[n / 2 - 1] + v[n / 2]);
}

// The inputs of every step, worked out before the loop: constants once, the
// inputs that follow a schedule as one value per step.
struct StepInputs {
  std::array<double, standin::kInputs> constants{};
  std::vector<std::size_t> scheduled;
  std::vector<double> values;  // steps x scheduled, step by step

  explicit StepInputs(const Scenario& s) {
    std::vector<bool> controlled(constants.size(), false);
    for (const plugstore::runner::ControllerSetup& c : s.controllers) {
      controlled[static_cast<std::size_t>(c.input - 1)] = true;
    }
    for (std::size_t i = 0; i < constants.size(); ++i) {
      // A controller that is off may leave its input to the scenario: that
      // value is set again at every step.
      if (s.inputs[i].schedule || controlled[i]) {
        scheduled.push_back(i);
      } else {
        constants[i] = s.inputs[i].constant;
      }
    }
    const int steps = s.steps();
    values.reserve(static_cast<std::size_t>(steps) * scheduled.size());
    for (int k = 1; k <= steps; ++k) {
      const double time = s.start + k * s.step;
      for (std::size_t i : scheduled) values.push_back(s.inputs[i].over(time - s.step, time));
    }
  }
  void fill(int step, std::array<double, standin::kInputs>& xin) const {
    const double* v = values.data() + static_cast<std::size_t>(step - 1) * scheduled.size();
    for (std::size_t j = 0; j < scheduled.size(); ++j) xin[scheduled[j]] = v[j];
  }
};

struct LoopResult {
  double cpu = 0.0;        // s
  double meanPlugs = 0.0;  // output 66 over the steps
  int steps = 0;
  bool ok = false;
};

LoopResult bareLoop(standin::Component& component, const Scenario& s, const StepInputs& in) {
  standin::RunConfig cfg;
  cfg.start = s.start;
  cfg.stop = s.stop;
  cfg.step = s.step;
  cfg.iterations = s.iterations;
  cfg.unit = s.unit;
  cfg.label1 = s.label1;
  cfg.parameters = s.parameters;
  double plugSum = 0.0;
  standin::RunHooks hooks;
  bool first = true;
  plugstore::runner::Controllers controllers(s);
  controllers.start(s.start, s.start + s.step);
  std::array<double, standin::kInputs> lastInputs{};
  const int steps = s.steps();
  hooks.inputs = [&](double, int step, std::array<double, standin::kInputs>& xin) {
    if (first) xin = in.constants;
    first = false;
    in.fill(step, xin);
    if (controllers.size() > 0) {
      controllers.apply(s.step, xin);
      lastInputs = xin;
    }
  };
  hooks.outputs = [&](double time, int step, const std::array<double, standin::kOutputs>& out) {
    plugSum += out[65];
    if (controllers.size() > 0 && step < steps) {
      controllers.decide(time, time + s.step, lastInputs, out);
    }
  };
  standin::kernel().clearRecord();
  standin::kernel().echo = false;
  const double began = cpuSeconds();
  const standin::RunResult r = standin::runSimulation(component, cfg, hooks);
  LoopResult res;
  res.cpu = cpuSeconds() - began;
  res.steps = r.steps;
  res.meanPlugs = r.steps > 0 ? plugSum / r.steps : 0.0;
  res.ok = r.exitStatus == 0 && r.steps == s.steps();
  return res;
}

// CPU seconds (user + system) of one `plugstore run` of the scenario.
double runnerSeconds(const std::string& runner, const fs::path& scenario, const fs::path& csv,
                     const std::vector<std::string>& overrides) {
  std::vector<std::string> args = {runner, "run", "-q", scenario.string(), "-o", csv.string()};
  for (const std::string& o : overrides) args.insert(args.end(), {"-D", o});
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  if (posix_spawn(&pid, runner.c_str(), nullptr, nullptr, argv.data(), environ) != 0) return -1.0;
  int status = 0;
  rusage ru{};
  if (wait4(pid, &status, 0, &ru) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    return -1.0;
  }
  auto secs = [](const timeval& t) { return static_cast<double>(t.tv_sec) + 1e-6 * t.tv_usec; };
  return secs(ru.ru_utime) + secs(ru.ru_stime);
}

std::vector<int> parseList(const std::string& text) {
  std::vector<int> v;
  std::size_t pos = 0;
  while (pos < text.size()) {
    const std::size_t comma = text.find(',', pos);
    v.push_back(std::atoi(text.substr(pos, comma - pos).c_str()));
    if (comma == std::string::npos) break;
    pos = comma + 1;
  }
  return v;
}

Scenario load(const fs::path& file, const std::vector<std::string>& overrides) {
  Scenario s = plugstore::runner::loadScenario(file, true, overrides);
  if (s.tapping.port != 0) {
    throw std::runtime_error("a tapping list is the runner's work, not measured here");
  }
  if (!s.initialProfile.empty()) {
    namespace r = plugstore::runner;
    r::writeStartProfile(s.label1,
                         r::startProfileText(r::profilePlugs(s.initialProfile, s.parameters)));
  }
  return s;
}

// Medians of one measurement of the bare loop, with --baseline also of the
// baseline build and of the ratios of the rounds.
struct Paired {
  double value = 0.0;     // this build
  double baseline = 0.0;  // the baseline build
  double ratio = 0.0;     // median of value / baseline, round by round
  double minRatio = 0.0;
  double maxRatio = 0.0;
  LoopResult last;
};

// Runs `measure` `repeat` times with this build and, given a baseline, with
// the baseline right after each run: A B A B ... The figure of a run is what
// `figure` makes of its LoopResult.
template <typename Figure>
Paired paired(standin::Component& component, standin::Component* baseline, const Scenario& s,
              const StepInputs& in, int repeat, const std::string& what, Figure figure) {
  std::vector<double> a;
  std::vector<double> b;
  std::vector<double> ratios;
  Paired p;
  for (int r = 0; r < repeat; ++r) {
    const LoopResult res = bareLoop(component, s, in);
    if (!res.ok) throw std::runtime_error("the component stopped " + what);
    a.push_back(figure(res));
    p.last = res;
    if (baseline == nullptr) continue;
    const LoopResult base = bareLoop(*baseline, s, in);
    if (!base.ok) throw std::runtime_error("the baseline stopped " + what);
    b.push_back(figure(base));
    ratios.push_back(a.back() / b.back());
  }
  p.value = median(a);
  if (baseline != nullptr) {
    p.baseline = median(b);
    p.ratio = median(ratios);
    p.minRatio = *std::min_element(ratios.begin(), ratios.end());
    p.maxRatio = *std::max_element(ratios.begin(), ratios.end());
  }
  return p;
}

void printRatio(const Paired& p, const char* unit) {
  std::printf("  baseline %.3f %s; this / baseline %.3f (median of the rounds, %.3f ... %.3f)\n",
              p.baseline, unit, p.ratio, p.minRatio, p.maxRatio);
}

}  // namespace

int main(int argc, char** argv) {
  std::string lib = PLUGSTORE_COMPONENT;
  std::string baselineLib;
  std::string runner = PLUGSTORE_RUNNER;
  int repeat = 5;
  std::vector<int> plugs = {40, 80, 160, 300};
  double plugHours = 720.0;
  fs::path file;
  std::vector<std::string> overrides;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    const bool more = i + 1 < argc;
    if (a == "--lib" && more) {
      lib = argv[++i];
    } else if (a == "--baseline" && more) {
      baselineLib = argv[++i];
    } else if (a == "--runner" && more) {
      runner = argv[++i];
    } else if (a == "--repeat" && more) {
      repeat = std::max(1, std::atoi(argv[++i]));
    } else if (a == "--plugs" && more) {
      plugs = parseList(argv[++i]);
    } else if (a == "--plug-hours" && more) {
      plugHours = std::atof(argv[++i]);
    } else if (a == "-D" && more) {
      overrides.push_back(argv[++i]);
    } else if (file.empty() && !a.starts_with("-")) {
      file = a;
    } else {
      std::fprintf(stderr,
                   "usage: bench_year [--lib PATH] [--baseline PATH] [--runner PATH] "
                   "[--repeat N] [--plugs 40,80,...] [--plug-hours H] [-D name=value] "
                   "SCENARIO.toml\n");
      return 2;
    }
  }
  if (file.empty()) {
    std::fprintf(stderr, "bench_year: no scenario\n");
    return 2;
  }
  try {
    standin::Component component(lib);
    if (!component.loaded()) throw std::runtime_error(component.error());
    std::unique_ptr<standin::Component> baseline;
    if (!baselineLib.empty()) {
      // Loaded once, one file would be measured against itself.
      if (fs::equivalent(lib, baselineLib)) {
        throw std::runtime_error("--baseline names the library measured: copy it first");
      }
      baseline = std::make_unique<standin::Component>(baselineLib);
      if (!baseline->loaded()) throw std::runtime_error(baseline->error());
    }
    const Scenario year = load(file, overrides);
    const double years = (year.stop - year.start) / 8760.0;
    std::printf("%s\nlibrary %s\n", year.title.c_str(), lib.c_str());
    if (baseline)
      std::printf("baseline %s (run after each run of the library)\n", baselineLib.c_str());
    std::printf("%d steps of %.6g h, %d iteration(s) each; median of %d runs\n", year.steps(),
                year.step, year.iterations, repeat);

    const StepInputs inputs(year);
    const Paired bare = paired(component, baseline.get(), year, inputs, repeat, "the year",
                               [years](const LoopResult& r) { return r.cpu / years; });
    const double bareYear = bare.value;
    std::printf(
        "bare component loop   %8.3f CPU s per simulated year  (%.2f us per step, "
        "%.1f plugs on average)\n",
        bareYear, 1e6 * bareYear * years / year.steps(), bare.last.meanPlugs);
    if (baseline) printRatio(bare, "CPU s");

    if (!baseline && !runner.empty() && fs::exists(runner)) {
      const fs::path csv =
          fs::temp_directory_path() / ("bench_year_" + std::to_string(getpid()) + ".csv");
      std::vector<double> run;
      for (int r = 0; r < repeat; ++r) {
        const double t = runnerSeconds(runner, file, csv, overrides);
        if (t < 0.0) throw std::runtime_error("plugstore run failed: " + runner);
        run.push_back(t / years);
      }
      fs::remove(csv);
      const double runYear = median(run);
      std::printf("plugstore run         %8.3f CPU s per simulated year  (%.2f x the bare loop)\n",
                  runYear, runYear / bareYear);
    }

    double first = 0.0;
    for (int n : plugs) {
      char stop[64];
      std::snprintf(stop, sizeof stop, "simulation.stop=%.17g", year.start + plugHours);
      std::vector<std::string> set = overrides;
      set.insert(set.end(), {stop, "store.minPlugs=" + std::to_string(n),
                             "store.maxPlugs=" + std::to_string(std::min(400, n + n / 4))});
      const Scenario s = load(file, set);
      const StepInputs in(s);
      const Paired p =
          paired(component, baseline.get(), s, in, repeat, "at minPlugs " + std::to_string(n),
                 [](const LoopResult& r) { return 1e6 * r.cpu / r.steps; });
      const double perStep = p.value;
      if (first == 0.0) first = perStep;
      std::printf(
          "minPlugs %3d           %8.2f us per step  (%.1f plugs on average, %.2f x "
          "minPlugs %d)\n",
          n, perStep, p.last.meanPlugs, perStep / first, plugs.front());
      if (baseline) printRatio(p, "us per step");
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "bench_year: %s\n", e.what());
    return 1;
  }
  return 0;
}
