// plugstore: simulations of the store component from scenario files.
//
//   plugstore run SCENARIO.toml [-o OUT.csv] [--plot OUT.png]   simulate
//   plugstore check SCENARIO.toml                                read and check only
//   plugstore deck SCENARIO.toml [-o FILE] [--label FOLDER]      the unit for a host input file
//   plugstore describe [NAME] [--markdown]                       the catalog of names
//   plugstore proforma [-o FILE]                                 the studio's proforma (XML)
//   plugstore plot OUT.csv [-o OUT.png] [--name port1=DHW]       picture of a run
//   plugstore sweep NAME.sweep.toml [--workers N] [-o OUT.csv]   variants on Dask (Python)
//   plugstore fit NAME.fit.toml [--workers N]                    calibration to data (Python)
//   plugstore fmu SCENARIO.toml [-o STORE.fmu]                   FMI 2.0 co-simulation FMU
//   (run, check and deck take -D name=value to replace a setting of the file, and
//   --allow-unusual to take a fluid far from water)
//
// Exit status: 0 done, 1 the component stopped the simulation (fatal message
// or rejected parameter), 2 a bad scenario or command line, 3 completed but
// not trustworthy (the component warned, the energy account does not close, or
// the taps got more heat than their port took out of the store), 4 an output
// file could not be written.
#include <fcntl.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <map>
#include <string>
#include <vector>

#include "plugstore/account.h"
#include "plugstore/atomic_file.h"
#include "plugstore/deck.h"
#include "plugstore/describe.h"
#include "plugstore/figures.h"
#include "plugstore/fmu.h"
#include "plugstore/initial_profile.h"
#include "plugstore/output_paths.h"
#include "plugstore/proforma.h"
#include "plugstore/run.h"
#include "plugstore/scenario.h"
#include "plugstore/step_notes.h"
#include "plugstore/summary_json.h"
#include "plugstore/totals.h"
#include "standin/protocol.h"

namespace {

namespace fs = std::filesystem;
using namespace plugstore::runner;

constexpr int kBadScenario = 2;

// Single-quoted for the shell.
std::string quoted(const std::string& s) {
  std::string o = "'";
  for (char c : s) o += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return o + "'";
}

// `names` are KEY=LABEL for the legends; `initialRow`: the CSV's first row
// is the state at the start.
int plot(const std::string& csv, const std::string& png, const std::string& title,
         const std::vector<std::string>& names, bool initialRow) {
  std::string command =
      quoted(PLUGSTORE_PYTHON) + " " + quoted(PLUGSTORE_PLOT_SCRIPT) + " " + quoted(csv);
  if (!png.empty()) command += " -o " + quoted(png);
  if (!title.empty()) command += " --title " + quoted(title);
  for (const std::string& n : names) command += " --name " + quoted(n);
  if (initialRow) command += " --initial-row";
  const int status = std::system(command.c_str());
  return status == 0 ? 0 : kBadScenario;
}

// KEY=LABEL of every name of the scenario and its units ("buffer.port1=DHW"),
// and of each heat input in use that has none, so that the plot labels the
// sum of the heat inputs by what it holds.
std::vector<std::string> namesForPlot(const Scenario& scenario) {
  std::vector<std::string> names;
  for (const Scenario* u : storesOf(scenario)) {
    const std::string prefix = u->name.empty() ? "" : u->name + ".";
    std::map<std::string, std::string> own = u->names;
    for (const Flow& f : AccountBook(*u).empty().flows) {
      if (f.key.starts_with("heat")) own.try_emplace(f.key, f.label);
    }
    for (const auto& [key, name] : own) names.push_back(prefix + key + "=" + name);
  }
  return names;
}

// Removes a file of the run's own when the run's command ends.
struct RemovedAtEnd {
  fs::path path;
  explicit RemovedAtEnd(fs::path p) : path(std::move(p)) {}
  RemovedAtEnd(const RemovedAtEnd&) = delete;
  RemovedAtEnd& operator=(const RemovedAtEnd&) = delete;
  ~RemovedAtEnd() {
    std::error_code ignored;
    if (!path.empty()) fs::remove(path, ignored);
  }
};

// Hands the process over to the Python package's `command` (sweep, fit),
// found in this build's python folder; returns only when that cannot start.
int handOver(const std::string& command, const std::vector<std::string>& args) {
  const std::string package = PLUGSTORE_PYTHON_PACKAGE_DIR;
  if (!fs::exists(fs::path(package) / "plugstore")) {
    std::cerr << "plugstore " << command << ": the Python package was not built (" << package
              << "): it needs pybind11-dev, python3-pybind11 and python3-dev\n";
    return kBadScenario;
  }
  const char* old = std::getenv("PYTHONPATH");
  const std::string path = package + (old != nullptr && *old != '\0' ? ":" + std::string(old) : "");
  setenv("PYTHONPATH", path.c_str(), 1);
  std::vector<std::string> words = {PLUGSTORE_PYTHON, "-m", "plugstore", command};
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);
  execv(PLUGSTORE_PYTHON, argv.data());
  std::cerr << "plugstore " << command << ": cannot start " << PLUGSTORE_PYTHON << "\n";
  return kBadScenario;
}

// Throws OutputError when the text cannot be written.
void writeText(const std::string& path, const std::string& text) {
  if (path.empty() || path == "-") {
    std::cout << text << std::flush;
    if (!std::cout) throw OutputError("cannot write to standard output");
    return;
  }
  writeFileAtomically(path, text);
}

// SIGINT and SIGTERM end a run after the step under way, so that its files
// keep complete rows; a second one ends the process at once.
volatile std::sig_atomic_t stopRequest = 0;
extern "C" void requestStop(int signal) { stopRequest = signal; }
void stopOnSignals() {
  struct sigaction action {};
  action.sa_handler = requestStop;
  action.sa_flags = SA_RESETHAND;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"Simulations of the plug-flow store component (Type 8642) from scenario files"};
  app.require_subcommand(1);

  std::string scenarioPath;
  std::string output;
  std::string plotPath;
  std::string library = standin::defaultComponentPath();
  std::string summaryPath;
  bool quiet = false;
  bool unchecked = false;
  bool allowWarnings = false;
  bool allowUnusual = false;
  bool units = false;
  std::vector<std::string> overrides;
  auto scenarioOptions = [&overrides, &allowUnusual](CLI::App* command) {
    command
        ->add_option("-D,--define", overrides,
                     "name=value: a parameter, an input, simulation.KEY, tapping.KEY or "
                     "controller.NAME.KEY, replacing the scenario's (repeatable)")
        ->allow_extra_args(false);
    command->add_flag("--allow-unusual", allowUnusual,
                      "Take a specific heat or density more than 10 times from water's (said "
                      "as a note) instead of refusing it");
  };

  CLI::App* run = app.add_subcommand("run", "Run a scenario and write its outputs as CSV");
  run->add_option("scenario", scenarioPath, "Scenario file (TOML)")->required();
  run->add_option("-o,--output", output, "CSV file to write (default: SCENARIO-NAME.csv here)");
  run->add_option("--plot", plotPath, "Also draw the run into this PNG file");
  run->add_option("--lib", library, "Component library to load")->capture_default_str();
  run->add_flag("-q,--quiet", quiet, "No progress line and no summary");
  run->add_flag("--unchecked", unchecked,
                "Skip the runner's own parameter and input checks: the component judges");
  run->add_flag("--allow-warnings", allowWarnings,
                "Exit with 0, not 3, when the component warned (for warnings you have judged)");
  run->add_flag("--units", units, "A second header row with the unit of each column");
  run->add_option("--summary", summaryPath,
                  "Also write the summary (steps, messages, energy account) as JSON to this file");
  scenarioOptions(run);

  CLI::App* check = app.add_subcommand("check", "Read and check a scenario without running it");
  check->add_option("scenario", scenarioPath, "Scenario file (TOML)")->required();
  scenarioOptions(check);

  CLI::App* deck =
      app.add_subcommand("deck", "Print the unit's block for a host input file (TYPE 8642)");
  deck->add_option("scenario", scenarioPath, "Scenario file (TOML)")->required();
  deck->add_option("-o,--output", output, "File to write (default: standard output)");
  std::string deckLabel;
  deck->add_option("--label", deckLabel,
                   "Label 1 as the host's machine names the folder (default: the scenario's)");
  scenarioOptions(deck);

  TableChoice choice;
  bool markdown = false;
  bool onlyParameters = false;
  bool onlyInputs = false;
  bool onlyOutputs = false;
  CLI::App* describe =
      app.add_subcommand("describe", "Print the names, numbers, units and meanings of all values");
  describe->add_flag("--markdown", markdown, "The Markdown reference page (docs/reference.md)");
  describe->add_flag("--parameters", onlyParameters, "Only the parameters");
  describe->add_flag("--inputs", onlyInputs, "Only the inputs");
  describe->add_flag("--outputs", onlyOutputs, "Only the outputs");
  std::string describeWhat;
  describe->add_option("name", describeWhat, "Only this name (or pattern with *), from any table");

  CLI::App* proforma = app.add_subcommand(
      "proforma", "Write the component's proforma, the XML the host's studio places it from");
  proforma->add_option("-o,--output", output, "File to write (default: standard output)");

  std::string csvPath;
  std::string title;
  CLI::App* plotCmd = app.add_subcommand("plot", "Draw a run's CSV into a PNG picture");
  plotCmd->add_option("csv", csvPath, "CSV written by plugstore run")->required();
  plotCmd->add_option("-o,--output", output, "PNG file (default: the CSV's name with .png)");
  plotCmd->add_option("--title", title, "Title of the picture");
  std::vector<std::string> plotNames;
  bool plotInitialRow = false;
  plotCmd->add_option("--name", plotNames, "KEY=LABEL: a name for port1, hx1, heatA1, ...");
  plotCmd->add_flag("--initial-row", plotInitialRow,
                    "The first row is the state at the start (initialRow = true)");

  CLI::App* sweepCmd = app.add_subcommand(
      "sweep",
      "Run every variant of a sweep file on Dask: sweep NAME.sweep.toml [--workers N] "
      "[--scheduler ADDR] [-o results.csv] [--series DIR] [-q] (the Python package; "
      "docs/python.md)");
  sweepCmd->prefix_command();
  sweepCmd->set_help_flag();  // its --help is the Python command's
  CLI::App* fitCmd = app.add_subcommand(
      "fit",
      "Calibrate a store to measured data: fit NAME.fit.toml [--workers N] [--scheduler ADDR] "
      "[--time-limit S] [-q] (the Python package; docs/fit.md)");
  fitCmd->prefix_command();
  fitCmd->set_help_flag();

  CLI::App* fmuCmd = app.add_subcommand(
      "fmu", "Write the scenario's store as an FMI 2.0 co-simulation FMU (docs: README)");
  fmuCmd->add_option("scenario", scenarioPath, "Scenario file (TOML)")->required();
  fmuCmd->add_option("-o,--output", output, "FMU to write (default: SCENARIO-NAME.fmu here)");
  FmuBinaries fmuBinaries{defaultFmuBinary(), {}};
  fmuCmd->add_option("--binary", fmuBinaries.linux64, "The FMU's Linux binary")
      ->capture_default_str();
  fmuCmd->add_option("--win64", fmuBinaries.win64,
                     "Also this Windows binary (plugstore.dll, built with MinGW-w64)");
  scenarioOptions(fmuCmd);

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const int code = app.exit(e);
    return code == 0 ? 0 : kBadScenario;
  }

  if (*sweepCmd) return handOver("sweep", sweepCmd->remaining());
  if (*fitCmd) return handOver("fit", fitCmd->remaining());

  try {
    if (*describe && !describeWhat.empty()) {
      std::cout << describeName(describeWhat);
      return 0;
    }
    if (*describe) {
      if (onlyParameters || onlyInputs || onlyOutputs) {
        choice = {onlyParameters, onlyInputs, onlyOutputs};
      }
      std::cout << (markdown ? describeMarkdown() : describeText(choice));
      return 0;
    }
    if (*proforma) {
      writeText(output, proformaXml());
      return 0;
    }
    if (*plotCmd) return plot(csvPath, output, title, plotNames, plotInitialRow);

    const Scenario scenario = loadScenario(scenarioPath, !unchecked, overrides, allowUnusual);
    for (const Scenario* u : storesOf(scenario)) {
      if (quiet && *run) break;
      for (const Diagnostic& d : u->notes) std::cerr << formatDiagnostic(d) << "\n";
    }
    std::vector<std::string> notes;
    for (const Scenario* u : storesOf(scenario)) {
      for (const std::string& n : stepNotes(*u)) {
        notes.push_back(u->name.empty() ? n : "unit " + u->name + ": " + n);
      }
    }
    if (*fmuCmd) {
      const FmuFiles files = fmuFiles(scenario);
      for (const std::string& n : files.notes) std::cerr << "note: " << n << "\n";
      const fs::path fmuPath = output.empty()
                                   ? fs::path(fs::path(scenarioPath).stem().string() + ".fmu")
                                   : fs::path(output);
      std::vector<RunFile> reads = filesRead(scenario);
      for (const fs::path& b : {fmuBinaries.linux64, fmuBinaries.win64}) {
        if (!b.empty()) reads.push_back({"an FMU binary", b});
      }
      if (const std::string clash = outputCollision(reads, {{"-o", fmuPath}}); !clash.empty()) {
        std::cerr << "plugstore: " << clash << "\n";
        return kBadScenario;
      }
      writeFmu(files, fmuBinaries, fmuPath);
      std::cerr << "wrote " << fmuPath.string() << "\n";
      return 0;
    }
    if (*check) {
      std::cerr << scenarioPath << ": ";
      if (!scenario.units.empty()) std::cerr << scenario.units.size() << " units, ";
      std::cerr << scenario.steps() << " steps, " << columnCount(scenario)
                << " output columns: fine\n";
      for (const std::string& n : notes) std::cerr << "note: " << n << "\n";
      return 0;
    }
    if (*deck) {
      if (!output.empty() && output != "-") {
        const std::string clash = outputCollision(filesRead(scenario), {{"-o", output}});
        if (!clash.empty()) {
          std::cerr << "plugstore: " << clash << "\n";
          return kBadScenario;
        }
      }
      Scenario forHost = scenario;
      if (!deckLabel.empty()) {
        // Written as it stands: the folder lies on the host's machine, not here.
        if (deckLabel.size() > 300 || deckLabel.find('"') != std::string::npos) {
          std::cerr << "plugstore: --label must be at most 300 characters without '\"'\n";
          return kBadScenario;
        }
        // Every unit that uses the scenario's folder; a unit with a folder of
        // its own keeps it.
        for (Scenario& u : forHost.units) {
          if (u.label1 == scenario.label1) u.label1 = deckLabel;
        }
        forHost.label1 = deckLabel;
      }
      writeText(output, writeDeck(forHost));
      for (const Scenario* u : storesOf(scenario)) {
        if (u->initialProfile.empty()) continue;
        // The host reads the profile from the folder of label 1 as well.
        const fs::path ini = writeStartProfile(
            u->label1, startProfileText(profilePlugs(u->initialProfile, u->parameters)));
        std::cerr << "wrote " << ini.string() << " (store.initialProfile for label 1"
                  << (deckLabel.empty() ? ""
                                        : "; copy it to " + deckLabel + " on the host's machine")
                  << ")\n";
      }
      return 0;
    }

    if (!quiet) {
      for (const std::string& n : notes) std::cerr << "note: " << n << "\n";
    }
    RunOptions options;
    options.library = library;
    options.csv = output.empty() ? fs::path(scenarioPath).stem().string() + ".csv" : output;
    // No output may replace a file the run reads, or another output.
    std::vector<RunFile> writes = {{"-o", options.csv}};
    for (const RunFile& f : filesBesideCsv(scenario, options.csv)) writes.push_back(f);
    if (!summaryPath.empty() && summaryPath != "-") writes.push_back({"--summary", summaryPath});
    if (!plotPath.empty()) writes.push_back({"--plot", plotPath});
    if (const std::string clash = outputCollision(filesRead(scenario), writes); !clash.empty()) {
      std::cerr << "plugstore: " << clash << "\n";
      return kBadScenario;
    }
    options.units = units;
    // The plot reads a CSV of its own beside the picture (the CSV's columns
    // and the flows it draws by), so that the CSV asked for stays as it is.
    if (!plotPath.empty()) {
      const fs::path png(plotPath);
      options.plotCsv = png.parent_path() / ("." + png.filename().string() + ".csv");
    }
    const RemovedAtEnd plotCsv{options.plotCsv};
    options.progress = !quiet;
    options.stopSignal = []() { return static_cast<int>(stopRequest); };
    stopOnSignals();
    // Quiet means quiet: the component's own lines on standard output too
    // (the start-profile reader names the file it reads).
    std::fflush(stdout);
    const int kept = quiet ? dup(STDOUT_FILENO) : -1;
    if (kept >= 0) {
      const int null = open("/dev/null", O_WRONLY);
      if (null >= 0) {
        dup2(null, STDOUT_FILENO);
        close(null);
      }
    }
    const RunReport report = runScenario(scenario, options);
    if (kept >= 0) {
      std::cout.flush();
      std::fflush(stdout);
      dup2(kept, STDOUT_FILENO);
      close(kept);
    }
    const Verdict verdict = judge(report, allowWarnings);
    if (!quiet || report.exitStatus() != 0) {
      std::cerr << summaryText(scenario, report);
      if (!report.csvWritten) {
        std::cerr << "nothing written: " << options.csv.string() << " is left as it was\n";
      } else {
        std::cerr << "wrote " << options.csv.string() << " (" << report.csvRows << " rows, "
                  << columnCount(scenario) << " outputs"
                  << (report.result.steps < scenario.steps() ? ", the steps completed" : "")
                  << ")\n";
        const std::vector<const Scenario*> stores = storesOf(scenario);
        for (std::size_t i = 0; i < stores.size(); ++i) {
          const RunReport& r = report.units.empty() ? report : report.units[i];
          if (r.totals.empty()) continue;
          std::cerr << "wrote " << r.totals.string() << " (" << r.totalsRows << " "
                    << periodName(stores[i]->totals) << " rows)\n";
        }
      }
    }
    if (!summaryPath.empty()) {
      try {
        writeText(summaryPath, summaryJson(scenario, report, verdict));
      } catch (const OutputError& e) {
        if (!verdict.reason.empty()) std::cerr << verdict.reason << "\n";
        std::cerr << "plugstore: " << e.what() << "\n";
        return kOutputFailed;
      }
    }
    if (!report.outputError.empty()) {
      std::cerr << verdict.reason << "\n";
      return kOutputFailed;
    }
    if (report.exitStatus() != 0) return report.exitStatus();
    int status = verdict.status;
    if (!plotPath.empty()) {
      std::string title =
          scenario.title.empty() ? fs::path(scenarioPath).stem().string() : scenario.title;
      // A solar store's title carries the run's solar fraction.
      const ReportFigures figures =
          reportFigures(scenario, report.account, runDemand(report.tapping, report.loads));
      if (scenario.units.empty() && figures.solarFraction) {
        char share[64];
        std::snprintf(share, sizeof share, " (solar fraction %.1f %%)",
                      100.0 * *figures.solarFraction);
        title += share;
      }
      const int plotted = plot(options.plotCsv.string(), plotPath, title, namesForPlot(scenario),
                               scenario.initialRow);
      if (plotted != 0 && status == 0) status = plotted;
    }
    // The verdict comes last, so that it is the line a user sees.
    if (!verdict.reason.empty()) std::cerr << verdict.reason << "\n";
    return status;
  } catch (const ScenarioError& e) {
    std::cerr << e.what() << "\n";
    return kBadScenario;
  } catch (const OutputError& e) {
    std::cerr << "plugstore: " << e.what() << "\n";
    return kOutputFailed;
  } catch (const std::exception& e) {
    std::cerr << "plugstore: " << e.what() << "\n";
    return kBadScenario;
  }
}
