// One unit of a deck served by two component libraries at once: every call
// goes to library A with the host's arrays and to library B with copies of
// them, and everything the two give back is compared.
#pragma once

#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "standin/protocol.h"

namespace ab {

// What the comparison found, over all units and calls.
class Comparison {
 public:
  explicit Comparison(int shown) : shown_(shown) {}
  // A difference at one call; the first `shown` are kept for the summary.
  void differ(const std::string& what);
  void countCall() { ++calls_; }
  void countMessages(std::size_t n) { messages_ += n; }
  void countDump(const std::string& file) { ++dumps_[file]; }
  void countText(std::size_t bytes) { textBytes_ += bytes; }
  [[nodiscard]] bool identical() const { return differences_ == 0; }
  [[nodiscard]] std::string summary() const;

 private:
  int shown_;
  long calls_ = 0;
  long differences_ = 0;
  std::size_t messages_ = 0;
  std::size_t textBytes_ = 0;
  std::map<std::string, long> dumps_;  // file name -> times compared
  std::vector<std::string> first_;
};

// Standard output and standard error of the process, caught in a file of
// their own for each library while it is called.
class TextCapture {
 public:
  TextCapture();
  ~TextCapture();
  TextCapture(const TextCapture&) = delete;
  TextCapture& operator=(const TextCapture&) = delete;
  void begin(int side);  // 0: A, 1: B
  void end();
  // What side `side` wrote since the last call of this.
  std::string take(int side);

 private:
  std::FILE* files_[2] = {nullptr, nullptr};
  long read_[2] = {0, 0};
  int savedOut_ = -1;
  int savedErr_ = -1;
};

class PairUnit final : public standin::Unit {
 public:
  // `work` holds the label-1 folders of both libraries (work/name/a and
  // work/name/b); the start-profile file of `profileFolder`, if any, is
  // copied into both at the first call.
  PairUnit(standin::Component& a, standin::Component& b, const std::filesystem::path& work,
           const std::string& name, std::filesystem::path profileFolder, Comparison& cmp);
  int call(const standin::HostClock& clock, double time, double* xin, double* out, double* par,
           int* info) override;
  [[nodiscard]] standin::UnitRecord& record() override { return a_.record(); }

 private:
  void compareRecords(const std::string& at);
  void compareDumps(const std::string& at);

  std::filesystem::path dirA_;
  std::filesystem::path dirB_;
  std::filesystem::path profileFolder_;
  standin::LibraryUnit a_;
  standin::LibraryUnit b_;
  Comparison& cmp_;
  TextCapture text_;
  bool started_ = false;
  long calls_ = 0;
  // Library B's own arrays, kept between calls as the host keeps A's.
  std::array<double, standin::kOutputs> outB_{};
  std::size_t badSeen_ = 0;
};

}  // namespace ab
