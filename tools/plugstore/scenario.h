// A scenario: one simulation of the component, read from a TOML file. It
// gives the time grid, the unit's label 1, the 219 parameters and the 69
// inputs by their catalog names, and the outputs to write.
#pragma once

#include <array>
#include <filesystem>
#include <limits>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "plugstore/initial_profile.h"
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

// An output of another unit of the scenario feeding an input: its latest
// value within the step, or with lagged links the value it had after the
// last iterative call of the step before.
struct Link {
  std::string unitName;
  std::size_t unit = 0;  // index in Scenario::units
  int output = 0;        // 1-based
};

// The source of one input: a constant, a schedule or another unit's output
// (then `constant` is its value in the first step).
struct InputSource {
  double constant = 0.0;
  std::shared_ptr<const Schedule> schedule;  // null for a constant
  std::optional<Link> link;
  std::string origin;  // "default", "constant", "daily", "file.csv:column", "from UNIT.OUTPUT"
  Place place;         // where the scenario sets it; line 0 = default
  Place linkPlace;     // where the linked unit is named
  [[nodiscard]] bool given() const { return !origin.empty() && origin != "default"; }
  // The input over the time step (a, b] (hours).
  [[nodiscard]] double over(double a, double b) const {
    return schedule ? schedule->mean(a, b) : constant;
  }
};

// A signal a controller reads: an output of the component after the last
// iterative call of the previous step, or an input as the component got it in
// that step (a name that is both means the input).
struct Signal {
  std::string name;
  bool input = false;
  int number = 0;     // 1-based
  int collector = 0;  // 1-based: the temperature of that [[collector]] instead
};

enum class ControllerKind {
  kThermostat,    // on below `on`, off from `off` (reversed when on > off)
  kDifferential,  // on when hot - cold exceeds `on`, off when it falls below `off`
};

// A controller of the scenario: it sets one input of the component for
// every step from signals of the step before.
struct ControllerSetup {
  std::string name;
  ControllerKind kind = ControllerKind::kThermostat;
  int input = 0;     // the input it sets (1-based)
  Signal sensor;     // thermostat: what it measures; differential: the hot side
  Signal reference;  // differential: the cold side
  double on = 0.0;   // thermostat: degC (or the signal's unit); differential: K
  double off = 0.0;
  double value = 0.0;  // the input while on
  bool hasOffValue = false;
  double offValue = 0.0;                   // the input while off; else what the scenario gives
  std::shared_ptr<const Schedule> enable;  // on only while above 0.5; null: always
  bool initiallyOn = false;                // the state of the first step
  Place place;
};

// One tapping: at `time` the tap opens at `flow` and stays open until it has
// taken `energy` at the mixing valve's delivery temperature.
struct Tap {
  double time = 0.0;         // h
  double energy = 0.0;       // kWh, above the mains temperature
  double temperature = 0.0;  // degC the user needs; colder water is of no use
  double flow = 0.0;         // l/min at the tap
};

struct TappingSpec {
  int port = 0;            // 0: no tapping list
  double delivery = 45.0;  // degC, set point of the thermostatic mixing valve
  std::vector<Tap> taps;   // by rising time
  double period = 0.0;     // h; 0 for a list that does not repeat
  Place place;
};

// A solar collector in a loop with a heat exchanger or a port of the store
// (collector.h runs it).
struct CollectorSetup {
  std::string name;
  std::string type = "flat-plate";  // or "evacuated-tube"
  double area = 0.0;                // m2
  double eta0 = 0.0;                // optical efficiency
  double a1 = 0.0;                  // W/(m2 K)
  double a2 = 0.0;                  // W/(m2 K2)
  double iam = 0.0;                 // b0 of the incidence-angle modifier
  double capacity = 0.0;            // kJ/(m2 K), fluid and absorber
  double specificHeat = 3.8;        // kJ/(kg K) of the loop's fluid
  double flow = -1.0;               // kg/h while pumping; below 0: the loop's massFlow input
  double pipeUA = 0.0;              // W/K of the pipe from the collector to the store
  double initial = 20.0;            // degC of the node at the start
  int hx = 0;                       // the loop's heat exchanger, or
  int port = 0;                     // its port
  std::string controller;           // the pump's controller; empty: the pump always runs
  int controllerIndex = -1;         // in Scenario::controllers
  Place controllerPlace;
  InputSource irradiance;  // W/m2 on the collector's plane
  InputSource ambient;     // degC
  InputSource beam;        // W/m2 of it from the beam (weather files only)
  InputSource incidence;   // degrees (weather files only)
  bool hasIncidence = false;
  Place place;
};

// A space-heating load through a port: a demand in kW supplied at a flow
// temperature through a mixing valve, the loop's water returned to the store
// (load.cpp has the rules).
struct LoadSpec {
  std::string name;
  int port = 0;
  InputSource demand;            // kW; without it the heating curve gives the demand
  InputSource ambient;           // degC, for the heating curves; origin empty: none
  double designLoad = 0.0;       // kW at the design ambient; 0: none given
  double designAmbient = -10.0;  // degC
  double balancePoint = 15.0;    // degC: no heating from here up
  double flow = 55.0;            // degC, the flow temperature (at the design ambient)
  double flowAtBalance = std::numeric_limits<double>::quiet_NaN();      // degC; NaN: fixed flow
  double returnTemperature = std::numeric_limits<double>::quiet_NaN();  // degC; NaN: by spread
  double spread = 0.0;      // K between flow and return at the design load
  double maxFlow = 3600.0;  // kg/h through the port at most
  double maxShort = 0.01;   // share of the asked energy that may go short
  Place place;
};

// Periods of the host's clock for the totals: simulation time is the hour of
// a non-leap year (t = 0 is 1 January, 0 h).
enum class Period { none, daily, monthly, yearly };

struct Scenario {
  // With several units: each unit a Scenario of its own (its name, number,
  // label 1, parameters, inputs, outputs, controllers, tapping list), the
  // time grid and title copied from the whole. Empty for a scenario of one
  // store, which is itself the unit.
  std::vector<Scenario> units;
  std::string name;  // of a unit: prefixes its CSV columns ("buffer.port1.heat")

  std::filesystem::path file;
  std::string title;
  std::string description;

  double start = 0.0;  // h
  double stop = 24.0;  // h
  double step = 0.25;  // h
  int iterations = 1;  // iterative calls per time step
  // Inputs that take another unit's output: by default the units are called
  // again within the step until those settle within `tolerance` (relative;
  // absolute below 1), in at most `maxIterations` iterative calls, as a host
  // iterates; `laggedLinks` gives them the output of the step before instead.
  double tolerance = 0.001;
  int maxIterations = 30;
  bool laggedLinks = false;
  int unit = 1;
  std::string label1;  // absolute folder of startProfile.ini and dumps

  std::array<double, kNumParameters> parameters{};
  std::array<Place, kNumParameters> parameterPlace{};  // line 0: default value
  std::array<InputSource, kNumInputs> inputs{};
  // Columns of the CSV in their order: the component's output numbers 1 ...
  // 202, then the runner's own columns numbered from 203 (runnerColumns).
  std::vector<int> outputs;
  // Values the checks take but doubt (a specific heat in J/(kg K)): to be said.
  std::vector<Diagnostic> notes;
  double interval = 0.0;  // h: a row of means per interval; 0: a row per step
  Period totals = Period::none;
  bool initialRow = false;  // a first row with the state the store starts from
  // Names users give to ports, heat exchangers and heat inputs: "port1" -> "DHW".
  std::map<std::string, std::string> names;

  std::vector<ProfilePoint> initialProfile;  // empty: no profile to write
  Place initialProfilePlace;
  // Files the run reads besides the scenario: its series and tapping files.
  std::vector<std::filesystem::path> inputFiles;
  std::vector<ControllerSetup> controllers;  // in file order
  TappingSpec tapping;
  std::vector<CollectorSetup> collectors;  // in file order
  std::vector<LoadSpec> loads;             // [[load]], in file order

  [[nodiscard]] int steps() const;
};

// The stores of a scenario: its units, or the scenario itself when it has one
// store.
std::vector<const Scenario*> storesOf(const Scenario& s);

// The CSV columns of all its stores.
std::size_t columnCount(const Scenario& s);

// The runner's own columns: "control.NAME" for each controller (1 while on),
// then "tapping.asked", "tapping.useful" (kW) and "tapping.temperature"
// (degC at the tap) with a tapping list.
std::vector<std::string> runnerColumns(const Scenario& s);

// The inputs as the run sets them at most, for checks ahead of the run: the
// scenario's own, an input a controller sets at its value while on, and the
// port of a tapping list at its largest tap flow (kg/h).
std::array<InputSource, kNumInputs> inputsWithControl(const Scenario& s);

// The name of a CSV column number.
std::string columnName(const Scenario& s, int column);
// Its unit ("-" for none).
std::string columnUnit(const Scenario& s, int column);

// Reads, checks and returns the scenario; throws ScenarioError with every
// fault found, in file order. Without `checks` the parameter and input rules
// are skipped, so that a scenario the runner would refuse reaches the
// component and its own reports. `overrides` are "name=value" settings of
// parameters, inputs, [simulation], [tapping] or [[controller]] keys that
// replace the file's (-D). `allowUnusual` turns the faults of fluids far from
// water into notes.
Scenario loadScenario(const std::filesystem::path& file, bool checks = true,
                      const std::vector<std::string>& overrides = {}, bool allowUnusual = false);

// Same, from the text of a scenario file; `file` names it in messages and
// its folder anchors relative paths.
Scenario parseScenario(const std::string& text, const std::filesystem::path& file,
                       bool checks = true, const std::vector<std::string>& overrides = {},
                       bool allowUnusual = false);

}  // namespace plugstore::runner
