#include "standin/in_process.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "host/type8642.h"

namespace standin {

InProcessUnit::InProcessUnit(std::string label1) : state_(std::make_unique<plugstore::State>()) {
  host_.label1 = std::move(label1);
}

int InProcessUnit::call(const HostClock& clock, double time, double* xin, double* out, double* par,
                        int* info) {
  host_.clock = clock;
  return plugstore::type8642Call(*state_, host_, time, xin, out, par, info);
}

void InProcessUnit::Host::messages(int errorCode, std::string_view text, std::string_view severity,
                                   int unit, int type) {
  // As the host's kernel receives them: fixed-length texts, trailing blanks dropped.
  record.add({errorCode, std::string(plugstore::trimTrailingBlanks(text)),
              std::string(plugstore::trimTrailingBlanks(severity)), unit, type});
}

void InProcessUnit::Host::foundBadParameter(int parameterNumber, std::string_view severity,
                                            std::string_view text) {
  record.badParameters.push_back({parameterNumber,
                                  std::string(plugstore::trimTrailingBlanks(severity)),
                                  std::string(plugstore::trimTrailingBlanks(text))});
}

void InProcessUnit::Host::label(std::array<char, 300>& label, int /*unit*/, int labelIndex) {
  label.fill(' ');
  if (labelIndex != 1) return;
  std::memcpy(label.data(), label1.data(), std::min(label.size(), label1.size()));
}

// The same channels as the component library's: debug lines to standard
// error, standard output as itself.
void InProcessUnit::Host::debugLine(std::string_view line) {
  std::fwrite(line.data(), 1, line.size(), stderr);
  std::fputc('\n', stderr);
}

void InProcessUnit::Host::stdoutLine(std::string_view line) {
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fputc('\n', stdout);
}

}  // namespace standin
