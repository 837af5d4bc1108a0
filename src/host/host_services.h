// The host as the model sees it. Model code reaches the host only through
// this interface; the exported entry point binds it to the host's kernel
// library, tests bind a recorder.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "store/state.h"

namespace plugstore {

class HostServices {
 public:
  virtual ~HostServices() = default;

  // MESSAGES: error code (always -1), text without trailing blanks, severity.
  virtual void messages(int errorCode, std::string_view text, std::string_view severity, int unit,
                        int type) = 0;
  // TYPECK(1, info, nInputs, nParameters, nDerivatives)
  virtual void typeck(int option, int* info, int nInputs, int nParameters, int nDerivatives) = 0;
  // FOUNDBADPARAMETER: 1-based parameter number.
  virtual void foundBadParameter(int parameterNumber, std::string_view severity,
                                 std::string_view text) = 0;
  virtual void setStorageSize(int size, int* info) = 0;
  virtual int nextAvailableLogicalUnit() = 0;
  // GETLABEL: fills the 300 characters of `label`, blank padded.
  virtual void label(std::array<char, 300>& label, int unit, int labelIndex) = 0;
  virtual double simulationTimeStep() = 0;
  virtual double simulationStartTime() = 0;
  virtual int timestepIteration() = 0;

  // Text channels that are not host messages: the debug channel (logical
  // unit 20, written but never opened by the component) and standard output.
  virtual void debugLine(std::string_view line) = 0;
  virtual void stdoutLine(std::string_view line) = 0;
};

// A fixed-size text line, so that composing a message never allocates.
// `<<` appends without separator (message texts); `item()` appends with one
// blank before every item but the first (free-format diagnostic lines).
class TextLine {
 public:
  static constexpr std::size_t kCapacity = 2048;

  TextLine& operator<<(std::string_view text);
  TextLine& operator<<(const char* text) { return *this << std::string_view(text); }
  TextLine& operator<<(int value);
  TextLine& operator<<(double value);

  template <typename T>
  TextLine& item(const T& value) {
    if (len_ > 0) *this << " ";
    return *this << value;
  }

  [[nodiscard]] std::string_view view() const { return {buf_.data(), len_}; }

 private:
  std::array<char, kCapacity> buf_{};
  std::size_t len_ = 0;
};

// Builds a free-format line from its items: listLine("TIME=", t, " Error").
template <typename... Items>
TextLine listLine(const Items&... items) {
  TextLine line;
  (line.item(items), ...);
  return line;
}

// Thrown by fatalStop and caught by the entry point: no further calculation
// follows a fatal message.
struct FatalStop {};

// Sends a message through MESSAGES with the unit and type kept in Store.
void report(const State& st, HostServices& host, std::string_view severity, std::string_view text);

// Sends the message, marks the simulation as stopped and unwinds the call.
[[noreturn]] void fatalStop(State& st, HostServices& host, std::string_view severity,
                            std::string_view text);

// Text of a blank-padded fixed field without its trailing blanks.
std::string_view trimTrailingBlanks(std::string_view text);

// Parameter-to-integer conversion towards zero, defined for every double:
// NaN and values outside the int32 range give INT32_MIN, as the processor's
// own conversion does.
int32_t truncateToInt(double value);

// True when x[0] ... x[n - 1] are all finite numbers.
bool allFinite(const double* x, int n);

}  // namespace plugstore
