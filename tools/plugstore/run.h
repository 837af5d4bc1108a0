// Running a scenario: the host's call protocol over the component library,
// loaded as a host loads it, with the scenario's inputs fed at every step
// and the chosen outputs written to a CSV file; then the run's summary.
#pragma once

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "plugstore/controllers.h"
#include "plugstore/scenario.h"
#include "plugstore/tapping.h"
#include "standin/protocol.h"

namespace plugstore::runner {

struct RunOptions {
  std::string library;        // path of the component library
  std::filesystem::path csv;  // output CSV; empty: none
  bool progress = true;       // progress line on standard error for long runs
};

struct TimedMessage {
  double time = 0.0;  // h, the step whose calls sent it
  std::string severity;
  std::string text;
};

struct BadParameterReport {
  int number = 0;
  std::string severity;
  std::string text;
};

// The energy terms of the run, from the outputs: kW x step -> kWh. Heat
// into the store counts positive.
struct EnergyAccount {
  double portHeat = 0.0;       // all direct ports
  double hxHeat = 0.0;         // heat exchangers in use, to the store
  double heatInputs = 0.0;     // both banks of heat inputs
  double heatIntoPlugs = 0.0;  // heat exchangers and heat inputs as the plugs took them
  double losses = 0.0;         // to the ambient
  double storedChange = 0.0;   // change of the stored energy
  double maxAbsBalance = 0.0;  // kW, largest |main balance| of a step
  double maxAbsBalanceTime = 0.0;
  // What the terms leave unexplained; the sum of the main balance over the run.
  [[nodiscard]] double residual() const { return portHeat + heatIntoPlugs - losses - storedChange; }
};

struct RunReport {
  standin::RunResult result;
  double wallSeconds = 0.0;
  double lastTime = 0.0;  // h, end of the last step completed
  std::vector<TimedMessage> messages;
  std::vector<BadParameterReport> badParameters;
  EnergyAccount account;
  std::vector<ControllerFigures> controllers;  // in the order of the scenario
  TappingFigures tapping;
  // 0 done; 1 stopped by a fatal message or a rejected parameter.
  [[nodiscard]] int exitStatus() const { return result.exitStatus; }
};

// Throws std::runtime_error when the library cannot be loaded, or the CSV
// file or the start profile of store.initialProfile cannot be written.
RunReport runScenario(const Scenario& scenario, const RunOptions& options);

// Steps, wall time, speed, messages by severity, the energy account.
std::string summaryText(const Scenario& scenario, const RunReport& report);

// One CSV line: the time, then the chosen outputs.
std::string csvHeader(const Scenario& scenario);

}  // namespace plugstore::runner
