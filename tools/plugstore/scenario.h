// A scenario: one simulation of the component, read from a TOML file. It
// gives the time grid, the unit's label 1, the 219 parameters and the 69
// inputs by their catalog names, and the outputs to write.
#pragma once

#include <array>
#include <filesystem>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "plugstore/schedule.h"
#include "store/state.h"

namespace plugstore::runner {

// Where something was written: file, line and column (0 when unknown).
struct Place {
  std::string file;
  int line = 0;
  int column = 0;
};

struct Diagnostic {
  Place place;
  std::string message;
};

// One or more faults of a scenario; what() gives one "file:line:column:
// message" line for each.
class ScenarioError : public std::runtime_error {
 public:
  explicit ScenarioError(std::vector<Diagnostic> diagnostics);
  ScenarioError(Place place, const std::string& message);
  [[nodiscard]] const std::vector<Diagnostic>& diagnostics() const { return diagnostics_; }

 private:
  std::vector<Diagnostic> diagnostics_;
};

std::string formatDiagnostic(const Diagnostic& d);

// The source of one input: a constant or a schedule.
struct InputSource {
  double constant = 0.0;
  std::shared_ptr<const Schedule> schedule;  // null for a constant
  std::string origin;                        // "default", "constant", "daily", "file.csv:column"
  Place place;                               // where the scenario sets it; line 0 = default
  [[nodiscard]] bool given() const { return place.line > 0; }
  // The input over the time step (a, b] (hours).
  [[nodiscard]] double over(double a, double b) const {
    return schedule ? schedule->mean(a, b) : constant;
  }
};

// Periods of the host's clock for the totals: simulation time is the hour of
// a non-leap year (t = 0 is 1 January, 0 h).
enum class Period { none, daily, monthly, yearly };

struct Scenario {
  std::filesystem::path file;
  std::string title;
  std::string description;

  double start = 0.0;  // h
  double stop = 24.0;  // h
  double step = 0.25;  // h
  int iterations = 1;  // iterative calls per time step
  int unit = 1;
  std::string label1;  // absolute folder of startProfile.ini and dumps

  std::array<double, kNumParameters> parameters{};
  std::array<Place, kNumParameters> parameterPlace{};  // line 0: default value
  std::array<InputSource, kNumInputs> inputs{};
  std::vector<int> outputs;  // output numbers in the order of the CSV columns
  double interval = 0.0;     // h: a row of means per interval; 0: a row per step
  Period totals = Period::none;
  bool initialRow = false;  // a first row with the state the store starts from
  // Names users give to ports, heat exchangers and heat inputs: "port1" -> "DHW".
  std::map<std::string, std::string> names;

  [[nodiscard]] int steps() const;
};

// Reads, checks and returns the scenario; throws ScenarioError. Without
// `checks` the parameter and input rules are skipped, so that a scenario the
// runner would refuse reaches the component and its own reports.
Scenario loadScenario(const std::filesystem::path& file, bool checks = true);

// Same, from the text of a scenario file; `file` names it in messages and
// its folder anchors relative paths.
Scenario parseScenario(const std::string& text, const std::filesystem::path& file,
                       bool checks = true);

}  // namespace plugstore::runner
