#include "ab/pair_unit.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <set>
#include <sstream>

#include "standin/kernel.h"

namespace ab {

namespace fs = std::filesystem;

// ---------------------------------------------------------------- Comparison

void Comparison::differ(const std::string& what) {
  ++differences_;
  if (static_cast<int>(first_.size()) < shown_) first_.push_back(what);
}

std::string Comparison::summary() const {
  std::ostringstream o;
  o << calls_ << " calls compared (outputs, info, messages, text channels, dump files): ";
  o << messages_ << " messages, " << textBytes_ << " bytes of text";
  long dumps = 0;
  for (const auto& [name, n] : dumps_) dumps += n;
  o << ", " << dumps << " dump files in " << dumps_.size() << " names\n";
  if (differences_ == 0) {
    o << "identical\n";
    return o.str();
  }
  o << differences_ << " differences; the first:\n";
  for (const std::string& d : first_) o << "  " << d << "\n";
  return o.str();
}

// ---------------------------------------------------------------- TextCapture

TextCapture::TextCapture() {
  savedOut_ = dup(1);
  savedErr_ = dup(2);
  for (std::FILE*& f : files_) f = std::tmpfile();
}

TextCapture::~TextCapture() {
  for (std::FILE* f : files_) {
    if (f != nullptr) std::fclose(f);
  }
  if (savedOut_ >= 0) close(savedOut_);
  if (savedErr_ >= 0) close(savedErr_);
}

void TextCapture::begin(int side) {
  std::fflush(stdout);
  std::fflush(stderr);
  const int fd = fileno(files_[side]);
  dup2(fd, 1);
  dup2(fd, 2);
}

void TextCapture::end() {
  std::fflush(stdout);
  std::fflush(stderr);
  dup2(savedOut_, 1);
  dup2(savedErr_, 2);
}

std::string TextCapture::take(int side) {
  const int fd = fileno(files_[side]);
  struct stat st {};
  if (fstat(fd, &st) != 0 || st.st_size <= read_[side]) return {};
  std::string text(static_cast<std::size_t>(st.st_size - read_[side]), '\0');
  const ssize_t n = pread(fd, text.data(), text.size(), read_[side]);
  text.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
  read_[side] += static_cast<long>(text.size());
  return text;
}

// ---------------------------------------------------------------- PairUnit

namespace {

std::string number(double v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.17g", v);
  return buf;
}

bool sameBits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

std::string kindOfCall(const int* info, double time) {
  std::string kind = "iterative or initial call";
  if (info[6] == -2) {
    kind = "version signing";
  } else if (info[7] == -1) {
    kind = "end of simulation";
  } else if (info[12] > 0) {
    kind = "end of step";
  } else if (info[6] == -1) {
    kind = "start of simulation";
  }
  return kind + " at " + number(time) + " h";
}

std::string fileText(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream o;
  o << in.rdbuf();
  return o.str();
}

std::string replaced(std::string text, const std::string& from, const std::string& to) {
  for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at)) {
    text.replace(at, from.size(), to);
    at += to.size();
  }
  return text;
}

std::set<std::string> filesIn(const fs::path& dir) {
  std::set<std::string> names;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(dir, ec)) {
    if (e.is_regular_file()) names.insert(e.path().filename().string());
  }
  return names;
}

}  // namespace

PairUnit::PairUnit(standin::Component& a, standin::Component& b, const fs::path& work,
                   const std::string& name, fs::path profileFolder, Comparison& cmp)
    : dirA_(work / name / "a"),
      dirB_(work / name / "b"),
      profileFolder_(std::move(profileFolder)),
      a_(a, dirA_.string()),
      b_(b, dirB_.string()),
      cmp_(cmp) {}

int PairUnit::call(const standin::HostClock& clock, double time, double* xin, double* out,
                   double* par, int* info) {
  if (!started_) {
    started_ = true;
    fs::create_directories(dirA_);
    fs::create_directories(dirB_);
    const fs::path profile = profileFolder_ / "startProfile.ini";
    if (!profileFolder_.empty() && fs::exists(profile)) {
      fs::copy_file(profile, dirA_ / "startProfile.ini", fs::copy_options::overwrite_existing);
      fs::copy_file(profile, dirB_ / "startProfile.ini", fs::copy_options::overwrite_existing);
    }
  }
  ++calls_;
  cmp_.countCall();
  std::array<double, standin::kInputs> xinB{};
  std::array<double, standin::kParameters> parB{};
  std::array<int, standin::kInfoSize> infoB{};
  std::copy_n(xin, xinB.size(), xinB.begin());
  std::copy_n(par, parB.size(), parB.begin());
  std::copy_n(info, infoB.size(), infoB.begin());
  const std::array<int, standin::kInfoSize> infoBefore = infoB;

  text_.begin(0);
  const int ra = a_.call(clock, time, xin, out, par, info);
  text_.end();
  text_.begin(1);
  const int rb = b_.call(clock, time, xinB.data(), outB_.data(), parB.data(), infoB.data());
  text_.end();

  const std::string at =
      "call " + std::to_string(calls_) + " (" + kindOfCall(infoBefore.data(), time) + ")";
  if (ra != rb) cmp_.differ(at + ": returned " + std::to_string(ra) + " / " + std::to_string(rb));
  for (std::size_t i = 0; i < outB_.size(); ++i) {
    if (!sameBits(out[i], outB_[i])) {
      cmp_.differ(at + ": output " + std::to_string(i + 1) + " A " + number(out[i]) + " B " +
                  number(outB_[i]));
    }
  }
  for (std::size_t i = 0; i < infoB.size(); ++i) {
    if (info[i] != infoB[i]) {
      cmp_.differ(at + ": info(" + std::to_string(i + 1) + ") A " + std::to_string(info[i]) +
                  " B " + std::to_string(infoB[i]));
    }
  }
  for (std::size_t i = 0; i < xinB.size(); ++i) {
    if (!sameBits(xin[i], xinB[i])) cmp_.differ(at + ": input " + std::to_string(i + 1));
  }
  for (std::size_t i = 0; i < parB.size(); ++i) {
    if (!sameBits(par[i], parB[i])) cmp_.differ(at + ": parameter " + std::to_string(i + 1));
  }
  compareRecords(at);
  // The start-profile reader names its folder, which is each one's own.
  const std::string textA = replaced(text_.take(0), dirA_.string(), "LABEL1");
  const std::string textB = replaced(text_.take(1), dirB_.string(), "LABEL1");
  cmp_.countText(textA.size());
  if (textA != textB) cmp_.differ(at + ": text A \"" + textA + "\" B \"" + textB + "\"");
  compareDumps(at);
  return ra;
}

void PairUnit::compareRecords(const std::string& at) {
  standin::UnitRecord& ra = a_.record();
  standin::UnitRecord& rb = b_.record();
  if (ra.messages.size() != rb.messages.size()) {
    cmp_.differ(at + ": " + std::to_string(ra.messages.size()) + " / " +
                std::to_string(rb.messages.size()) + " messages");
  } else {
    for (std::size_t i = 0; i < ra.messages.size(); ++i) {
      const standin::Message& x = ra.messages[i];
      const standin::Message& y = rb.messages[i];
      if (x.errorCode != y.errorCode || x.text != y.text || x.severity != y.severity ||
          x.unit != y.unit || x.type != y.type) {
        cmp_.differ(at + ": message A " + x.severity + " \"" + x.text + "\" B " + y.severity +
                    " \"" + y.text + "\"");
      }
    }
  }
  cmp_.countMessages(ra.messages.size());
  ra.messages.clear();
  rb.messages.clear();
  standin::kernel().messages.clear();
  if (ra.fatal != rb.fatal) cmp_.differ(at + ": fatal in one library only");

  const auto& ba = ra.badParameters;
  const auto& bb = rb.badParameters;
  const std::size_t n = std::min(ba.size(), bb.size());
  if (ba.size() != bb.size()) cmp_.differ(at + ": rejected parameters differ in number");
  for (std::size_t i = badSeen_; i < n; ++i) {
    if (ba[i].number != bb[i].number || ba[i].severity != bb[i].severity ||
        ba[i].text != bb[i].text) {
      cmp_.differ(at + ": rejected parameter A " + std::to_string(ba[i].number) + " B " +
                  std::to_string(bb[i].number));
    }
  }
  badSeen_ = n;
}

void PairUnit::compareDumps(const std::string& at) {
  const std::set<std::string> inA = filesIn(dirA_);
  const std::set<std::string> inB = filesIn(dirB_);
  if (inA != inB) {
    cmp_.differ(at + ": the label-1 folders hold different files");
    return;
  }
  for (const std::string& name : inA) {
    if (name == "startProfile.ini") continue;
    cmp_.countDump(name);
    if (fileText(dirA_ / name) != fileText(dirB_ / name)) {
      cmp_.differ(at + ": dump file " + name + " differs");
    }
  }
}

}  // namespace ab
