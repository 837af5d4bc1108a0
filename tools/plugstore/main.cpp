// plugstore: simulations of the store component from scenario files.
//
//   plugstore run SCENARIO.toml [-o OUT.csv] [--plot OUT.png]   simulate
//   plugstore check SCENARIO.toml                                read and check only
//   plugstore deck SCENARIO.toml [-o FILE]                       the unit for a host input file
//   (run, check and deck take -D name=value to replace a setting of the file)
//   plugstore describe [--markdown]                              the catalog of names
//   plugstore plot OUT.csv [-o OUT.png]                          picture of a run
//
// Exit status: 0 done, 1 the component stopped the simulation (fatal message
// or rejected parameter), 2 a bad scenario or command line.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "plugstore/deck.h"
#include "plugstore/describe.h"
#include "plugstore/initial_profile.h"
#include "plugstore/run.h"
#include "plugstore/scenario.h"
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

int plot(const std::string& csv, const std::string& png, const std::string& title) {
  std::string command =
      quoted(PLUGSTORE_PYTHON) + " " + quoted(PLUGSTORE_PLOT_SCRIPT) + " " + quoted(csv);
  if (!png.empty()) command += " -o " + quoted(png);
  if (!title.empty()) command += " --title " + quoted(title);
  const int status = std::system(command.c_str());
  return status == 0 ? 0 : kBadScenario;
}

bool writeText(const std::string& path, const std::string& text) {
  if (path.empty() || path == "-") {
    std::cout << text;
    return static_cast<bool>(std::cout);
  }
  std::ofstream out(path, std::ios::binary);
  out << text;
  return static_cast<bool>(out);
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"Simulations of the plug-flow store component (Type 8642) from scenario files"};
  app.require_subcommand(1);

  std::string scenarioPath;
  std::string output;
  std::string plotPath;
  std::string library = standin::defaultComponentPath();
  bool quiet = false;
  bool unchecked = false;
  std::vector<std::string> overrides;
  auto defineOption = [&overrides](CLI::App* command) {
    command
        ->add_option("-D,--define", overrides,
                     "name=value: a parameter, an input or simulation.KEY, replacing the "
                     "scenario's (repeatable)")
        ->allow_extra_args(false);
  };

  CLI::App* run = app.add_subcommand("run", "Run a scenario and write its outputs as CSV");
  run->add_option("scenario", scenarioPath, "Scenario file (TOML)")->required();
  run->add_option("-o,--output", output, "CSV file to write (default: SCENARIO-NAME.csv here)");
  run->add_option("--plot", plotPath, "Also draw the run into this PNG file");
  run->add_option("--lib", library, "Component library to load")->capture_default_str();
  run->add_flag("-q,--quiet", quiet, "No progress line and no summary");
  run->add_flag("--unchecked", unchecked,
                "Skip the runner's own parameter and input checks: the component judges");
  defineOption(run);

  CLI::App* check = app.add_subcommand("check", "Read and check a scenario without running it");
  check->add_option("scenario", scenarioPath, "Scenario file (TOML)")->required();
  defineOption(check);

  CLI::App* deck =
      app.add_subcommand("deck", "Print the unit's block for a host input file (TYPE 8642)");
  deck->add_option("scenario", scenarioPath, "Scenario file (TOML)")->required();
  deck->add_option("-o,--output", output, "File to write (default: standard output)");
  defineOption(deck);

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

  std::string csvPath;
  std::string title;
  CLI::App* plotCmd = app.add_subcommand("plot", "Draw a run's CSV into a PNG picture");
  plotCmd->add_option("csv", csvPath, "CSV written by plugstore run")->required();
  plotCmd->add_option("-o,--output", output, "PNG file (default: the CSV's name with .png)");
  plotCmd->add_option("--title", title, "Title of the picture");

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const int code = app.exit(e);
    return code == 0 ? 0 : kBadScenario;
  }

  try {
    if (*describe) {
      if (onlyParameters || onlyInputs || onlyOutputs) {
        choice = {onlyParameters, onlyInputs, onlyOutputs};
      }
      std::cout << (markdown ? describeMarkdown() : describeText(choice));
      return 0;
    }
    if (*plotCmd) return plot(csvPath, output, title);

    const Scenario scenario = loadScenario(scenarioPath, !unchecked, overrides);
    if (*check) {
      std::cerr << scenarioPath << ": " << scenario.steps() << " steps, " << scenario.outputs.size()
                << " output columns: fine\n";
      return 0;
    }
    if (*deck) {
      if (!writeText(output, writeDeck(scenario))) {
        std::cerr << "plugstore: cannot write " << output << "\n";
        return kBadScenario;
      }
      if (!scenario.initialProfile.empty()) {
        // The host reads the profile from the folder of label 1 as well.
        const fs::path ini = writeStartProfile(
            scenario.label1,
            startProfileText(profilePlugs(scenario.initialProfile, scenario.parameters)));
        std::cerr << "wrote " << ini.string() << " (store.initialProfile for label 1)\n";
      }
      return 0;
    }

    RunOptions options;
    options.library = library;
    options.csv = output.empty() ? fs::path(scenarioPath).stem().string() + ".csv" : output;
    options.progress = !quiet;
    const RunReport report = runScenario(scenario, options);
    if (!quiet || report.exitStatus() != 0) {
      std::cerr << summaryText(scenario, report);
      std::cerr << "wrote " << options.csv.string() << " (" << report.result.steps << " rows, "
                << scenario.outputs.size() << " outputs)\n";
    }
    if (report.exitStatus() != 0) return report.exitStatus();
    if (!plotPath.empty()) {
      return plot(options.csv.string(), plotPath,
                  scenario.title.empty() ? fs::path(scenarioPath).stem().string() : scenario.title);
    }
    return 0;
  } catch (const ScenarioError& e) {
    std::cerr << e.what() << "\n";
    return kBadScenario;
  } catch (const std::exception& e) {
    std::cerr << "plugstore: " << e.what() << "\n";
    return kBadScenario;
  }
}
