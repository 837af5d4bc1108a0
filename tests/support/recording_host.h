// A host for model tests: serves time step, start time and label 1 as set,
// and records every message, bad parameter and text line.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "host/host_services.h"
#include "store/state.h"

namespace plugstore::test {

struct RecordedMessage {
  int errorCode = 0;
  std::string text;
  std::string severity;
  int unit = 0;
  int type = 0;
};

struct RecordedBadParameter {
  int number = 0;
  std::string severity;
  std::string text;
};

class RecordingHost final : public HostServices {
 public:
  double timeStepHours = 1.0;
  double startTimeHours = 0.0;
  std::string label1;
  int nextUnit = 30;
  int typeckCalls = 0;
  std::array<int, 4> typeckArgs{};  // option, inputs, parameters, derivatives
  int setStorageCalls = 0;

  std::vector<RecordedMessage> messagesSent;
  std::vector<RecordedBadParameter> badParameters;
  std::vector<std::string> debugLines;
  std::vector<std::string> stdoutLines;

  void messages(int errorCode, std::string_view text, std::string_view severity, int unit,
                int type) override;
  void typeck(int option, int* info, int nInputs, int nParameters, int nDerivatives) override;
  void foundBadParameter(int parameterNumber, std::string_view severity,
                         std::string_view text) override;
  void setStorageSize(int size, int* info) override;
  int nextAvailableLogicalUnit() override { return nextUnit++; }
  void label(std::array<char, 300>& label, int unit, int labelIndex) override;
  double simulationTimeStep() override { return timeStepHours; }
  double simulationStartTime() override { return startTimeHours; }
  int timestepIteration() override { return 0; }
  void debugLine(std::string_view line) override { debugLines.emplace_back(line); }
  void stdoutLine(std::string_view line) override { stdoutLines.emplace_back(line); }

  // Number of messages whose text contains `part` (and, if given, severity).
  [[nodiscard]] int countMessages(std::string_view part, std::string_view severity = {}) const;
  [[nodiscard]] bool hasBadParameter(int number) const;
  void clear();
};

}  // namespace plugstore::test
