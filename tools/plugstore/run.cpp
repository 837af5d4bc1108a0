#include "plugstore/run.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <unordered_map>

#include "plugstore/atomic_file.h"
#include "plugstore/figures.h"
#include "plugstore/initial_profile.h"
#include "plugstore/intervals.h"
#include "plugstore/names.h"
#include "plugstore/totals.h"
#include "standin/kernel.h"

namespace plugstore::runner {

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// Distinct messages by severity and text, counted as they arrive: a run may
// bring hundreds of thousands of the same warning.
class MessageTally {
 public:
  explicit MessageTally(std::vector<MessageCount>& out) : out_(out) {}
  void add(double time, const standin::Message& m) {
    const auto [it, added] = index_.try_emplace(m.severity + '\n' + m.text, out_.size());
    if (added) out_.push_back({m.severity, m.text, 0, time, time});
    MessageCount& c = out_[it->second];
    ++c.count;
    c.last = time;
  }

 private:
  std::vector<MessageCount>& out_;
  std::unordered_map<std::string, std::size_t> index_;
};

std::string fixed(double v, int decimals) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.*f", decimals, v);
  return buf;
}

// A time of the run: the step grid's rounding left out.
std::string hours(double v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.8g", v);
  return buf;
}

std::string signalName(int signal) {
  if (signal == SIGINT) return "SIGINT";
  if (signal == SIGTERM) return "SIGTERM";
  if (signal == SIGALRM) return "the time limit";
  return "signal " + std::to_string(signal);
}

std::string general(double v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.4g", v);
  return buf;
}

// What the controllers and the tapping list did.
std::string controlSummary(const Scenario& s, const RunReport& r) {
  std::string o;
  char buf[200];
  if (!s.controllers.empty()) o += "controllers:\n";
  for (std::size_t i = 0; i < s.controllers.size() && i < r.controllers.size(); ++i) {
    std::snprintf(buf, sizeof buf, "  %-26s on %d times, %.4g h in all\n",
                  s.controllers[i].name.c_str(), r.controllers[i].switchedOn,
                  r.controllers[i].onHours);
    o += buf;
  }
  if (s.tapping.port == 0) return o;
  const TappingFigures& t = r.tapping;
  o += "tappings (kWh above the mains water):\n";
  auto row = [&](const char* label, double value, const char* unit) {
    std::snprintf(buf, sizeof buf, "  %-26s %12.4f %s\n", label, value, unit);
    o += buf;
  };
  row("asked for", t.asked, "kWh");
  row("delivered as needed", t.useful, "kWh, at or above the temperature each tapping needs");
  row("short", t.shortfall, "kWh");
  row("hot water from the store", t.drawn, "kg");
  return o;
}

// What each collector gave.
std::string collectorSummary(const RunReport& r) {
  std::string o;
  char buf[200];
  for (const CollectorFigures& c : r.collectors) {
    o += "collector " + c.name + ":\n";
    auto row = [&](const char* label, double value, const char* unit) {
      std::snprintf(buf, sizeof buf, "  %-26s %12.4f %s\n", label, value, unit);
      o += buf;
    };
    row("yield", c.yield, "kWh into the loop");
    row("yield per area", c.perArea(), "kWh/m2");
    row("given up in the store", c.delivered, "kWh, by the loop's fluid");
    row("lost by the pipe", c.pipeLoss, "kWh");
    row("held by the loop's delay", c.lag(), "kWh, the fluid between two steps");
    row("pump running", c.pumpHours, "h");
    row("stagnation", c.stagnationHours, "h, sun on the collector and no flow");
    row("highest temperature", c.maxTemperature, "degC");
  }
  return o;
}

}  // namespace

namespace {

// One store of a run: its unit of the component, the inputs it gets every
// step (schedules, other units' outputs, tapping list, controllers), and
// what it did (messages, energy account, controllers, period totals).
class StoreRun {
 public:
  StoreRun(std::unique_ptr<standin::Unit> unit, const Scenario& s, std::size_t index,
           RunReport& report, const fs::path& totalsName, bool unitRow)
      : s_(s),
        index_(index),
        report_(report),
        book_(s),
        unit_(std::move(unit)),
        tally_(report.messages),
        controllers_(s),
        tapping_(s),
        collectors_(s),
        loads_(s),
        extra_(runnerColumns(s).size()) {
    report_.account = book_.empty();
    if (!totalsName.empty()) {
      totalsFile_.emplace(totalsName);
      // A comment line, no column: the run it belongs to, as in the summary.
      std::fprintf(totalsFile_->get(), "# run %s\n", report.runId.c_str());
      totals_.emplace(s, book_, totalsFile_->get(), unitRow);
      report_.totals = totalsName;
    }
    controllers_.start(s.start, s.start + s.step);
  }

  standin::Unit& unit() { return *unit_; }
  const Scenario& scenario() const { return s_; }
  const std::array<double, standin::kOutputs>& lastOutputs() const { return lastOut_; }

  // Messages of the calls up to `time` (h) into the report.
  void collect(double time) {
    for (const standin::Message& m : unit_->record().messages) {
      tally_.add(time, m);
      limited_ = limited_ || m.text.find(kLimitWarning) != std::string::npos;
    }
    unit_->record().messages.clear();
  }

  // The inputs of the step that ends at `time`; `all` are the stores of the
  // run, whose outputs of the step before feed linked inputs.
  void inputs(double time, int step, std::array<double, standin::kInputs>& xin,
              const std::vector<std::unique_ptr<StoreRun>>& all) {
    collect(time - s_.step);
    for (std::size_t i = 0; i < xin.size(); ++i) {
      const InputSource& in = s_.inputs[i];
      const bool linked = in.link && step > 1;
      xin[i] =
          linked ? all[in.link->unit]->lastOutputs()[static_cast<std::size_t>(in.link->output - 1)]
                 : in.over(time - s_.step, time);
    }
    tapping_.before(time - s_.step, time, xin);
    loads_.before(time - s_.step, time, xin);
    controllers_.apply(s_.step, xin);
    collectors_.before(time - s_.step, time, xin, controllers_);
    lastInputs_ = xin;
  }
  // The inputs of the step's last call: linked ones as they settled.
  void inputsUsed(const std::array<double, standin::kInputs>& xin) { lastInputs_ = xin; }

  // The store at rest: the first step's inputs without flows or heat.
  void initialInputs(std::array<double, standin::kInputs>& xin) const {
    for (std::size_t i = 0; i < xin.size(); ++i) {
      const std::string_view name = inputEntry(static_cast<int>(i) + 1).name;
      const bool drive = name.ends_with(".massFlow") || name.ends_with(".power");
      xin[i] = drive ? 0.0 : s_.inputs[i].over(s_.start, s_.start + s_.step);
    }
  }
  void initialState(const std::array<double, standin::kOutputs>& out,
                    const std::vector<IntervalRows*>& rows) {
    for (IntervalRows* r : rows) r->initial(index_, s_.start, out, extra_);
  }

  void outputs(double time, int step, const std::array<double, standin::kOutputs>& out,
               const std::vector<IntervalRows*>& rows) {
    collect(time);
    lastOut_ = out;
    tapping_.after(time - s_.step, time, out);
    collectors_.after(s_.step, out);
    loads_.after(time - s_.step, time, out);
    // The runner's columns show the step just run, before the controllers
    // decide the next one.
    std::size_t column = 0;
    for (std::size_t i = 0; i < controllers_.size(); ++i) extra_[column++] = controllers_.column(i);
    if (tapping_.used()) {
      for (std::size_t i = 0; i < 3; ++i) extra_[column++] = tapping_.column(i);
    }
    for (std::size_t i = 0; i < 4 * collectors_.size(); ++i)
      extra_[column++] = collectors_.column(i);
    for (const double v : loads_.columns()) extra_[column++] = v;
    if (step < s_.steps()) {
      controllers_.decide(time, time + s_.step, lastInputs_, out, collectors_.temperatures());
    }
    report_.lastTime = time;
    book_.add(report_.account, out, lastInputs_, s_.step, time, limited_);
    for (IntervalRows* r : rows) r->step(index_, time, out, extra_);
    if (totals_) {
      totals_->collectorStep(collectors_.lastStep());
      totals_->step(time, s_.step, out, lastInputs_, limited_, loads_.stepTotals());
    }
    limited_ = false;
  }

  void finish(double time, bool completedSteps) {
    collect(time);
    report_.controllers = controllers_.figures();
    report_.tapping = tapping_.figures();
    report_.collectors = collectors_.figures();
    if (tapping_.used()) {
      report_.tapping.port = s_.tapping.port;
      const std::string port = indexed("port", s_.tapping.port, "");
      for (const Flow& f : report_.account.flows) {
        if (f.key == port) report_.tapping.portOut = -f.net();
      }
    }
    report_.loads = loads_.figures();
    for (LoadFigures& l : report_.loads) {
      const std::string port = indexed("port", l.port, "");
      for (const Flow& f : report_.account.flows) {
        if (f.key == port) l.portOut = 0.0 - f.out;
      }
    }
    for (const standin::BadParameter& b : unit_->record().badParameters) {
      report_.badParameters.push_back({b.number, b.severity, b.text});
    }
    if (totals_ && completedSteps) {
      totals_->finish();
      report_.totalsRows = totals_->rows();
    } else {
      report_.totals.clear();
      if (totalsFile_) totalsFile_->discard();
    }
  }

  // The totals file, while it is to be written; null otherwise.
  AtomicFile* totalsFile() { return totalsFile_ && totalsFile_->open() ? &*totalsFile_ : nullptr; }

 private:
  const Scenario& s_;
  std::size_t index_;
  RunReport& report_;
  const AccountBook book_;
  std::unique_ptr<standin::Unit> unit_;
  MessageTally tally_;
  Controllers controllers_;
  Tapping tapping_;
  Collectors collectors_;
  Loads loads_;
  std::array<double, standin::kInputs> lastInputs_{};
  std::array<double, standin::kOutputs> lastOut_{};
  bool limited_ = false;  // the step's calls warned of the temperature limit
  std::vector<double> extra_;
  std::optional<AtomicFile> totalsFile_;
  std::optional<PeriodTotals> totals_;
};

}  // namespace

namespace {

// The scenario with the columns the plot draws by added where [outputs]
// leaves them out: the flow of each port and Hx whose outlet temperature is
// chosen (the outlet panel shows a temperature only while it flows), and
// each Hx's heat when the plugs' heat is chosen (so that a coil that takes
// heat out of the store is not netted with the heat inputs).
Scenario withPlotColumns(const Scenario& s) {
  Scenario p = s;
  std::vector<Scenario*> stores;
  if (p.units.empty()) stores.push_back(&p);
  for (Scenario& u : p.units) stores.push_back(&u);
  for (Scenario* u : stores) {
    auto chosen = [u](const std::string& name) {
      return std::find(u->outputs.begin(), u->outputs.end(), outputNumber(name)) !=
             u->outputs.end();
    };
    auto add = [&](const std::string& when, const std::string& name) {
      if (chosen(when) && !chosen(name)) u->outputs.push_back(outputNumber(name));
    };
    for (int d = 1; d <= kNumPorts; ++d) {
      add(indexed("port", d, ".outletTemperature"), indexed("port", d, ".massFlow"));
    }
    const auto hxCount =
        static_cast<int>(u->parameters[static_cast<std::size_t>(parameterNumber("hx.count") - 1)]);
    for (int k = 1; k <= std::clamp(hxCount, 0, kMaxHx); ++k) {
      add(indexed("hx", k, ".outletTemperature"), indexed("hx", k, ".heatToFluid"));
      add("balance.heatIntoPlugs", indexed("hx", k, ".heatToStore"));
    }
  }
  return p;
}

}  // namespace

fs::path totalsPath(const fs::path& csv, const Scenario& u) {
  return csv.parent_path() / (csv.stem().string() + (u.name.empty() ? "" : "-" + u.name) + "-" +
                              periodName(u.totals) + ".csv");
}

std::string newRunId() {
  const auto now = std::chrono::system_clock::now().time_since_epoch();
  char buf[64];
  std::snprintf(buf, sizeof buf, "%llx-%ld",
                static_cast<unsigned long long>(
                    std::chrono::duration_cast<std::chrono::microseconds>(now).count()),
                static_cast<long>(getpid()));
  return buf;
}

RunReport runScenario(const Scenario& s, const RunOptions& options) {
  // Units of the library share the process's stand-in kernel; units made by
  // the caller (stores in this process) bring their own host.
  std::optional<standin::Component> component;
  standin::Kernel* kernel = nullptr;
  auto makeUnit = options.unit;
  if (!makeUnit) {
    component.emplace(options.library);
    if (!component->loaded()) throw std::runtime_error(component->error());
    kernel = &standin::kernel();
    kernel->clearRecord();
    kernel->echo = false;
    makeUnit = [&component](const Scenario& u) {
      return std::make_unique<standin::LibraryUnit>(*component, u.label1);
    };
  }

  const std::vector<const Scenario*> stores = storesOf(s);
  RunReport report;
  report.lastTime = s.start;
  report.runId = newRunId();
  if (!s.units.empty()) report.units.resize(s.units.size());

  // Rows go to temporary files that take the final names at the end: a run
  // stopped early keeps its completed rows, one that fails at the start
  // leaves existing files alone.
  std::optional<AtomicFile> csvFile;
  std::optional<IntervalRows> rows;
  if (!options.csv.empty()) csvFile.emplace(options.csv);
  if (csvFile || options.rows) {
    rows.emplace(s, csvFile ? csvFile->get() : nullptr, options.units, options.rows);
  }
  std::optional<AtomicFile> plotFile;
  std::optional<IntervalRows> plotRows;
  if (!options.plotCsv.empty()) {
    plotFile.emplace(options.plotCsv);
    plotRows.emplace(withPlotColumns(s), plotFile->get(), false);
  }
  for (const Scenario* u : stores) {
    if (u->initialProfile.empty()) continue;
    writeStartProfile(u->label1, startProfileText(profilePlugs(u->initialProfile, u->parameters)));
  }

  std::vector<std::unique_ptr<StoreRun>> runs;
  std::vector<standin::DeckUnit> deck;
  for (std::size_t i = 0; i < stores.size(); ++i) {
    const Scenario& u = *stores[i];
    const fs::path totals =
        !options.csv.empty() && u.totals != Period::none ? totalsPath(options.csv, u) : fs::path();
    RunReport& own = s.units.empty() ? report : report.units[i];
    own.runId = report.runId;
    runs.push_back(std::make_unique<StoreRun>(makeUnit(u), u, i, own, totals, options.units));
    deck.push_back({&runs.back()->unit(), u.unit, u.parameters, {}});
    if (!s.laggedLinks) deck.back().connections = connectionsOf(s, i);
  }
  if (!s.units.empty()) report.links = portLinks(s);
  std::vector<const std::array<double, standin::kOutputs>*> lastOutputs;
  for (const auto& run : runs) lastOutputs.push_back(&run->lastOutputs());

  const auto began = Clock::now();
  auto lastPrint = began;
  bool printed = false;
  const bool tty = isatty(fileno(stderr)) != 0;
  const int steps = s.steps();
  std::vector<IntervalRows*> out;
  if (rows) out.push_back(&*rows);
  if (plotRows) out.push_back(&*plotRows);

  for (std::size_t i = 0; i < runs.size(); ++i) {
    StoreRun& run = *runs[i];
    standin::RunHooks& hooks = deck[i].hooks;
    hooks.inputs = [&run, &runs](double time, int step, std::array<double, standin::kInputs>& xin) {
      run.inputs(time, step, xin, runs);
    };
    if (!deck[i].connections.empty()) {
      hooks.inputsUsed = [&run](const std::array<double, standin::kInputs>& xin) {
        run.inputsUsed(xin);
      };
    }
    if (s.initialRow && !out.empty()) {
      run.initialInputs(hooks.initialInputs);
      hooks.initialState = [&run, &out](const std::array<double, standin::kOutputs>& o) {
        run.initialState(o, out);
      };
    }
    hooks.outputs = [&, i](double time, int step, const std::array<double, standin::kOutputs>& o) {
      runs[i]->outputs(time, step, o, out);
      if (kernel != nullptr) kernel->messages.clear();  // each unit's record has its own
      report.lastTime = time;
      if (i + 1 < runs.size()) return;
      for (PortLink& l : report.links) addStep(l, lastOutputs, s.step, time);
      if (!options.progress) return;
      const auto now = Clock::now();
      const double elapsed = std::chrono::duration<double>(now - began).count();
      const double sincePrint = std::chrono::duration<double>(now - lastPrint).count();
      if (elapsed < 1.0 || sincePrint < (tty ? 0.2 : 5.0)) return;
      lastPrint = now;
      printed = true;
      std::fprintf(stderr, "%s  %s h of %s h (%d%%), %s simulated h/s%s", tty ? "\r" : "",
                   fixed(time, 2).c_str(), fixed(s.stop, 2).c_str(),
                   100 * step / std::max(1, steps), general((time - s.start) / elapsed).c_str(),
                   tty ? "   " : "\n");
      std::fflush(stderr);
    };
  }
  // Every file of the run; a write that fails (a full disk) ends the run
  // after its step, rather than simulating on into a file that loses rows.
  // The CSV first: it is written every step, so it meets a full disk first.
  std::vector<AtomicFile*> files;
  if (csvFile) files.push_back(&*csvFile);
  if (plotFile) files.push_back(&*plotFile);
  for (auto& run : runs) {
    if (AtomicFile* f = run->totalsFile()) files.push_back(f);
  }
  deck.front().hooks.stop = [&]() {
    for (AtomicFile* f : files) {
      if (f->failed()) {
        report.outputError = f->error();
        return true;
      }
    }
    if (options.stopSignal) report.stopSignal = options.stopSignal();
    return report.stopSignal != 0;
  };

  report.result =
      standin::runDeck(deck, {s.start, s.stop, s.step, s.iterations, s.tolerance, s.maxIterations});
  // A fatal stop ends the step it happened in before its outputs are seen.
  const bool cutShort = report.result.fatal && report.result.steps < steps;
  const double end = cutShort ? s.start + (report.result.steps + 1) * s.step : report.lastTime;
  for (auto& run : runs) run->finish(end, report.result.steps > 0);
  report.unsettled = unsettledReason(s, report.result.convergence);
  for (std::size_t i = 0; i < report.units.size(); ++i) {
    report.units[i].name = s.units[i].name;
    report.units[i].result = report.result;
    report.units[i].lastTime = report.lastTime;
  }
  report.wallSeconds = std::chrono::duration<double>(Clock::now() - began).count();
  if (printed && tty) std::fputs("\n", stderr);
  if (report.result.steps > 0 && rows) {
    rows->finish();
    report.csvRows = rows->rows();
  }
  if (report.result.steps > 0 && plotRows) plotRows->finish();
  // The totals first, the CSV next (the summary, written by the caller,
  // last): all complete before the first takes its name, none renamed after
  // one has failed.
  for (AtomicFile* f : files) {
    if (report.outputError.empty() && f->failed()) report.outputError = f->error();
  }
  try {
    if (!report.outputError.empty()) throw OutputError(report.outputError);
    for (auto& run : runs) {
      if (AtomicFile* f = run->totalsFile()) f->commit();
    }
    if (csvFile && report.result.steps > 0) {
      csvFile->commit();
      report.csvWritten = true;
    }
    if (plotFile && report.result.steps > 0) plotFile->commit();
  } catch (const OutputError& e) {
    report.outputError = e.what();
    for (auto& run : runs) {
      if (AtomicFile* f = run->totalsFile()) f->discard();
    }
    if (csvFile) csvFile->discard();
    if (plotFile) plotFile->discard();
    report.csvWritten = false;
  }
  for (RunReport& u : report.units) {
    u.csvRows = report.csvRows;
    u.outputError = report.outputError;
  }
  return report;
}

namespace {

// Messages, bad parameters, energy account and control of one store.
std::string storeSummary(const Scenario& s, const RunReport& r) {
  std::string o;
  // Messages by severity, then each distinct message once with its count.
  std::map<std::string, int> bySeverity;
  for (const MessageCount& m : r.messages) bySeverity[m.severity] += m.count;
  o += "messages:";
  if (bySeverity.empty()) o += " none";
  for (const auto& [severity, count] : bySeverity) {
    o += " " + std::to_string(count) + " " + severity + ",";
  }
  if (!bySeverity.empty()) o.pop_back();
  o += "\n";
  const std::size_t shown = std::min<std::size_t>(r.messages.size(), 12);
  for (std::size_t i = 0; i < shown; ++i) {
    const MessageCount& m = r.messages[i];
    o += "  " + m.severity + " x" + std::to_string(m.count) + " at " + hours(m.first) + " h";
    if (m.count > 1) o += " ... " + hours(m.last) + " h";
    o += ": " + m.text + "\n";
  }
  if (r.messages.size() > shown) {
    o += "  ... and " + std::to_string(r.messages.size() - shown) + " more distinct messages\n";
  }
  // The component reports some parameters at every call: each once here.
  std::vector<std::pair<const BadParameterReport*, int>> bad;
  for (const BadParameterReport& b : r.badParameters) {
    auto it = std::find_if(bad.begin(), bad.end(), [&b](const auto& seen) {
      return seen.first->number == b.number && seen.first->text == b.text;
    });
    if (it == bad.end()) {
      bad.emplace_back(&b, 1);
    } else {
      ++it->second;
    }
  }
  for (const auto& [b, count] : bad) {
    std::string name = "?";
    if (b->number >= 1 && b->number <= kNumParameters) name = parameterEntry(b->number).name;
    o += "  bad parameter " + std::to_string(b->number) + " " + name + " (" + b->severity +
         (count > 1 ? ", x" + std::to_string(count) : std::string()) + "): " + b->text + "\n";
  }
  if (r.result.steps == 0) {
    o += "the component rejected the parameters or stopped before the first step: nothing was "
         "simulated\n";
    return o;
  }

  const EnergyAccount& a = r.account;
  char buf[256];
  auto flow = [&](const std::string& label, double in, double out) {
    std::snprintf(buf, sizeof buf, "  %-30s %12.4f %12.4f %12.4f\n", label.c_str(), in, out,
                  in + out);
    o += buf;
  };
  auto term = [&](const char* label, double kWh, const std::string& note) {
    std::snprintf(buf, sizeof buf, "  %-30s %12s %12s %12.4f%s%s\n", label, "", "", kWh,
                  note.empty() ? "" : "   ", note.c_str());
    o += buf;
  };
  o += "energy account (kWh; into the store positive, out of it negative):\n";
  std::snprintf(buf, sizeof buf, "  %-30s %12s %12s %12s\n", "", "in", "out", "net");
  o += buf;
  for (const Flow& f : a.flows) flow(f.label, f.in, f.out);
  term("heat into the plugs", a.heatIntoPlugs,
       "heat exchangers and heat inputs, as the plugs took it");
  if (a.limitedSteps > 0) {
    term("temperature limit", a.limitHeat,
         "put in (removed if negative) by the 0.1 ... 100 degC limit: the balance of " +
             (a.limitedSteps == 1 ? std::string("the step")
                                  : "the " + std::to_string(a.limitedSteps) + " steps") +
             " with its warning");
  }
  term("losses", a.losses, "to the ambient");
  term("change of stored energy", a.storedChange, "");
  term("unexplained", a.residual(), "ports + into the plugs + limit + losses - change");
  o += "  largest |store.balance|   " + general(a.maxAbsBalance) + " kW at " +
       hours(a.maxAbsBalanceTime) + " h\n";

  o += controlSummary(s, r);
  o += collectorSummary(r);
  o += loadSummary(r.loads);
  o += figureSummary(s, reportFigures(s, a, runDemand(r.tapping, r.loads)));
  return o;
}

}  // namespace

std::string summaryText(const Scenario& s, const RunReport& r) {
  std::string o;
  const double simulated = r.lastTime - s.start;
  o += "plugstore: " + std::to_string(r.result.steps) + " of " + std::to_string(s.steps()) +
       " steps of " + formatNumber(s.step) + " h (" + formatNumber(s.start) + " ... " +
       formatNumber(s.stop) + " h, " + std::to_string(s.iterations) + " iteration" +
       (s.iterations == 1 ? "" : "s") + " each) in " + fixed(r.wallSeconds, 3) + " s";
  if (r.wallSeconds > 0.0 && simulated > 0.0) {
    o += ", " + general(simulated / r.wallSeconds) + " simulated h/s";
  }
  o += "\n";
  if (s.units.empty()) {
    o += storeSummary(s, r);
  } else {
    for (std::size_t i = 0; i < s.units.size() && i < r.units.size(); ++i) {
      o += "unit " + s.units[i].name + " (" + std::to_string(s.units[i].unit) + "):\n";
      o += storeSummary(s.units[i], r.units[i]);
    }
  }
  if (r.result.steps == 0) return o;
  o += linksSummary(s, r.links, r.result);

  if (r.result.fatal) {
    o += "the component stopped the simulation with a fatal message after " + hours(r.lastTime) +
         " h\n";
  }
  if (r.stopSignal != 0) {
    o += "stopped by " + signalName(r.stopSignal) + " after " + hours(r.lastTime) + " h of " +
         formatNumber(s.stop) + " h\n";
  }
  return o;
}

int RunReport::warnings() const {
  int n = 0;
  for (const MessageCount& m : messages) n += m.warning() ? m.count : 0;
  for (const RunReport& u : units) n += u.warnings();
  return n;
}

Verdict judge(const RunReport& r, bool allowWarnings) {
  if (!r.outputError.empty()) return {kOutputFailed, "plugstore: " + r.outputError};
  if (r.exitStatus() != 0) return {r.exitStatus(), {}};
  std::string why;
  const int warned = r.warnings();
  if (warned > 0 && !allowWarnings) {
    why = std::to_string(warned) + " warning" + (warned == 1 ? "" : "s") +
          " from the component (--allow-warnings accepts them)";
  }
  if (!r.unsettled.empty() && !allowWarnings) {
    why += (why.empty() ? "" : "; ") + r.unsettled + " (--allow-warnings accepts it)";
  }
  auto account = [&why](const EnergyAccount& a, const std::string& whose) {
    if (a.closes()) return;
    if (!why.empty()) why += "; ";
    why += "the energy account" + whose + " leaves " + general(a.residual()) +
           " kWh unexplained, more than 1e-6 of its largest term (" + general(a.largestTerm()) +
           " kWh)";
  };
  // The taps get their heat from the store's water alone.
  auto tapping = [&why](const TappingFigures& t, const std::string& whose) {
    if (t.port == 0 ||
        t.aboveMains <=
            t.portOut + 1e-6 * std::max(std::abs(t.aboveMains), std::abs(t.portOut)) + 1e-9) {
      return;
    }
    if (!why.empty()) why += "; ";
    why += "the tapping list" + whose + " counts " + general(t.aboveMains) +
           " kWh above the mains water at the taps, but port " + std::to_string(t.port) + " took " +
           general(t.portOut + 0.0) + " kWh out of the store";
  };
  // A load short of more than it allows compares another load; none can
  // deliver more than its port took out.
  auto loads = [&why, allowWarnings](const std::vector<LoadFigures>& l, const std::string& whose) {
    const std::string shortfall = loadReason(l, whose, allowWarnings);
    if (!shortfall.empty()) why += (why.empty() ? "" : "; ") + shortfall;
  };
  if (r.units.empty()) {
    account(r.account, "");
    tapping(r.tapping, "");
    loads(r.loads, "");
  }
  for (const RunReport& u : r.units) {
    account(u.account, " of unit " + u.name);
    tapping(u.tapping, " of unit " + u.name);
    loads(u.loads, " of unit " + u.name);
  }
  if (why.empty()) return {};
  return {kNotTrustworthy, "plugstore: completed, results not trustworthy: " + why};
}

}  // namespace plugstore::runner
