// Running a scenario: the host's call protocol over units of the component
// (by default the component library, loaded as a host loads it), with the
// scenario's inputs fed at every step and the chosen outputs written to a
// CSV file; then the run's summary.
#pragma once

#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "plugstore/account.h"
#include "plugstore/controllers.h"
#include "plugstore/links.h"
#include "plugstore/scenario.h"
#include "plugstore/tapping.h"
#include "standin/protocol.h"

namespace plugstore::runner {

struct RunOptions {
  std::string library;  // path of the component library
  // Makes the unit that runs a store of the scenario (each unit's own part
  // of it); empty: a unit of the component library at `library`.
  std::function<std::unique_ptr<standin::Unit>(const Scenario& store)> unit;
  std::filesystem::path csv;  // output CSV; empty: none
  // A second CSV for the plot: the CSV's columns and those the plot draws
  // by (flows, each Hx's heat) where the scenario leaves them out; empty: none.
  std::filesystem::path plotCsv;
  // Sees every row the CSV gets, as its time and values in full precision;
  // with it the rows are made even without a CSV.
  std::function<void(double time, std::span<const double> values)> rows;
  bool units = false;    // a second header row with the units
  bool progress = true;  // progress line on standard error for long runs
  // Asked after every step: the number of a signal that asks the run to end
  // there (SIGINT, SIGTERM), 0 to go on.
  std::function<int()> stopSignal;
};

// The exit status of a run whose CSV, totals or summary could not be written
// (a full disk, a folder without write permission).
inline constexpr int kOutputFailed = 4;

// One distinct message of the component (same severity and text), with how
// often and when it came: times are the ends of the steps whose calls sent it.
struct MessageCount {
  std::string severity;
  std::string text;
  int count = 0;
  double first = 0.0;  // h
  double last = 0.0;   // h
  // The component says "WARNING" and "Warning"; "NOTICE" is no warning.
  [[nodiscard]] bool warning() const { return severity == "WARNING" || severity == "Warning"; }
};

struct BadParameterReport {
  int number = 0;
  std::string severity;
  std::string text;
};

// With several units the report of the run holds the time, the steps, the
// CSV and the signal, and `units` one report each for the rest: messages,
// bad parameters, energy account, controllers, tapping list, period totals.
struct RunReport {
  standin::RunResult result;
  double wallSeconds = 0.0;
  double lastTime = 0.0;               // h, end of the last step completed
  std::vector<MessageCount> messages;  // distinct messages in the order they first came
  std::vector<BadParameterReport> badParameters;
  EnergyAccount account;
  std::vector<ControllerFigures> controllers;  // in the order of the scenario
  TappingFigures tapping;
  int stopSignal = 0;       // the signal that ended the run early; 0 if none did
  std::string outputError;  // the first file that could not be written, and why
  std::string runId;        // in the totals and the summary
  bool csvWritten = false;  // the CSV holds the completed steps under its final name
  int csvRows = 0;
  std::filesystem::path totals;  // the period totals beside the CSV: dhw.csv -> dhw-monthly.csv
  int totalsRows = 0;
  std::vector<RunReport> units;  // with several units, in the scenario's order
  std::vector<PortLink> links;   // loops between units: the heat they passed
  std::string unsettled;         // steps whose links did not settle, the worst; empty if none
  std::string name;              // of one of several units
  // 0 done; 1 stopped by a fatal message or a rejected parameter; 4 an
  // output that could not be written; 128 + the signal number for a run
  // ended by a signal.
  [[nodiscard]] int exitStatus() const {
    if (!outputError.empty()) return kOutputFailed;
    return stopSignal != 0 ? 128 + stopSignal : result.exitStatus;
  }
  [[nodiscard]] int warnings() const;  // of all units
};

// Whether a completed run can be trusted: status 3 when the component warned
// or linked units did not settle within a step (unless the user accepts
// warnings), the energy account does not close, or a tapping list counts
// more heat at its taps than its port took out.
struct Verdict {
  int status = 0;      // the command's exit status
  std::string reason;  // one line; empty for a run that is fine
};
inline constexpr int kNotTrustworthy = 3;
Verdict judge(const RunReport& report, bool allowWarnings);

// Throws std::runtime_error when the library cannot be loaded, OutputError
// when the CSV, the totals or the start profile of store.initialProfile
// cannot be opened. A write that fails later ends the run after its step
// (RunReport::outputError); then no file of the run takes its final name.
RunReport runScenario(const Scenario& scenario, const RunOptions& options);

// The period totals of one store beside the CSV: dhw.csv -> dhw-monthly.csv,
// or dhw-buffer-monthly.csv for the unit buffer.
std::filesystem::path totalsPath(const std::filesystem::path& csv, const Scenario& store);

// Written into the totals and the JSON summary, so that files of one run can
// be told from those of another: time and process of the run.
std::string newRunId();

// Steps, wall time, speed, messages by severity, the energy account.
std::string summaryText(const Scenario& scenario, const RunReport& report);

}  // namespace plugstore::runner
