// The read loop of the start profile, kept apart from the file so that tests
// and the fuzzer can feed it text from memory.
#pragma once

#include <array>
#include <cstddef>
#include <string_view>

#include "host/host_services.h"
#include "store/state.h"

namespace plugstore {

// Read status of one record: 0 taken, -1 end of the text, 2 an I/O error of
// the file itself, kReadBadValue text that is not a number.
inline constexpr int kReadOk = 0;
inline constexpr int kReadEnd = -1;
inline constexpr int kReadIoError = 2;
inline constexpr int kReadBadValue = 1;

// A source of text lines, delivered without their line terminators.
class ProfileLines {
 public:
  virtual ~ProfileLines() = default;
  // kReadOk with the next line in `line`, kReadEnd or kReadIoError.
  virtual int next(std::string_view& line) = 0;
};

// Lines of a text held in memory, split at '\n' (a '\r' before it is dropped).
class BufferLines final : public ProfileLines {
 public:
  explicit BufferLines(std::string_view text) : text_(text) {}
  int next(std::string_view& line) override;

 private:
  std::string_view text_;
  std::size_t pos_ = 0;
};

// Free-format reading of records of eight numbers: blanks, tabs and commas
// separate values, a record may go on over several lines, empty lines are
// passed over, values after the eighth on a line are ignored, a slash ends the
// record early, `count*value` repeats a value and two commas in a row leave a
// value out. Variables not reached keep their previous contents.
class ProfileScanner {
 public:
  explicit ProfileScanner(ProfileLines& lines) : lines_(lines) {}
  int readRecord(std::array<double, 8>& values);

 private:
  int nextLine();
  ProfileLines& lines_;
  std::string_view line_;
  std::size_t pos_ = 0;
};

// The read loop: stores the records of the text into the plug table until
// the top plug, the end of the text or the record limit, with the reader's
// messages on standard output. An I/O error is fatal; `source` names the file
// in that message.
void readProfileRecords(State& st, HostServices& host, ProfileLines& lines,
                        std::string_view source);

// Fatal unless the chain from the first-plug pointer runs over distinct pool
// records in use up to the top sentinel.
void checkProfileChain(State& st, HostServices& host);

}  // namespace plugstore
