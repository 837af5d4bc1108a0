#include "support/recording_host.h"

#include <algorithm>

namespace plugstore::test {

void RecordingHost::messages(int errorCode, std::string_view text, std::string_view severity,
                             int unit, int type) {
  messagesSent.push_back({errorCode, std::string(text), std::string(severity), unit, type});
}

void RecordingHost::typeck(int option, int* /*info*/, int nInputs, int nParameters,
                           int nDerivatives) {
  ++typeckCalls;
  typeckArgs = {option, nInputs, nParameters, nDerivatives};
}

void RecordingHost::foundBadParameter(int parameterNumber, std::string_view severity,
                                      std::string_view text) {
  badParameters.push_back({parameterNumber, std::string(severity), std::string(text)});
}

void RecordingHost::setStorageSize(int /*size*/, int* /*info*/) { ++setStorageCalls; }

void RecordingHost::label(std::array<char, 300>& label, int /*unit*/, int labelIndex) {
  label.fill(' ');
  if (labelIndex != 1) return;
  std::copy_n(label1.begin(), std::min(label1.size(), label.size()), label.begin());
}

int RecordingHost::countMessages(std::string_view part, std::string_view severity) const {
  return static_cast<int>(
      std::count_if(messagesSent.begin(), messagesSent.end(), [&](const RecordedMessage& m) {
        return m.text.find(part) != std::string::npos &&
               (severity.empty() || m.severity == severity);
      }));
}

bool RecordingHost::hasBadParameter(int number) const {
  return std::any_of(badParameters.begin(), badParameters.end(),
                     [&](const RecordedBadParameter& b) { return b.number == number; });
}

void RecordingHost::clear() {
  messagesSent.clear();
  badParameters.clear();
  debugLines.clear();
  stdoutLines.clear();
}

}  // namespace plugstore::test
