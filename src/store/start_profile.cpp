#include "store/start_profile.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

#include "store/profile_reader.h"

namespace plugstore {

namespace {

// A backslash is an ordinary file-name character on POSIX systems, so the
// folder and the file name are joined with the platform's own separator.
#ifdef _WIN32
constexpr char kPathSeparator = '\\';
#else
constexpr char kPathSeparator = '/';
#endif

constexpr std::string_view kProfileFileName = "startProfile.ini";
constexpr std::size_t kFieldWidth = 300;

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using FileHandle = std::unique_ptr<std::FILE, FileCloser>;

// Lines of an open file. A read error of the stream is the I/O status.
class FileLines final : public ProfileLines {
 public:
  explicit FileLines(std::FILE* f) : f_(f) {}

  int next(std::string_view& line) override {
    buf_.clear();
    for (;;) {
      const int c = std::getc(f_);
      if (c == EOF) {
        if (std::ferror(f_) != 0) return kReadIoError;
        if (buf_.empty()) return kReadEnd;
        break;
      }
      if (c == '\n') break;
      buf_.push_back(static_cast<char>(c));
    }
    if (!buf_.empty() && buf_.back() == '\r') buf_.pop_back();
    line = buf_;
    return kReadOk;
  }

 private:
  std::FILE* f_;
  std::string buf_;
};

// A text shown at a field width of at least 300 characters, blank padded.
struct Field {
  std::array<char, kFieldWidth + kProfileFileName.size() + 2> text{};
  std::size_t len = 0;

  explicit Field(std::string_view s) {
    text.fill(' ');
    len = std::min(s.size(), text.size());
    for (std::size_t i = 0; i < len; ++i) text[i] = s[i] == '\0' ? ' ' : s[i];
    len = std::max(len, kFieldWidth);
  }
  [[nodiscard]] std::string_view view() const { return {text.data(), len}; }
};

}  // namespace

void readStartProfile(State& st, HostServices& host) {
  const std::string_view folder = trimTrailingBlanks({st.store.dataPath.data(), kFieldWidth});

  // folder, separator, file name and the terminating zero for fopen
  std::array<char, kFieldWidth + 1 + kProfileFileName.size() + 1> path{};
  std::size_t n = 0;
  for (char c : folder) path[n++] = c;
  path[n++] = kPathSeparator;
  for (char c : kProfileFileName) path[n++] = c;
  const std::string_view fullPath(path.data(), n);

  host.stdoutLine(listLine("dataPath=", Field({st.store.dataPath.data(), kFieldWidth}).view(),
                           " myIniFileWithPath=", Field(fullPath).view())
                      .view());

  FileHandle file(std::fopen(path.data(), "r"));
  if (!file) {
    // An empty store would be no start at all: the run stops here.
    TextLine msg;
    msg << "Start profile file cannot be opened: " << fullPath;
    fatalStop(st, host, "FATAL", msg.view());
  }
  {
    FileLines lines(file.get());
    readProfileRecords(st, host, lines, fullPath);
  }
  file.reset();
  checkProfileChain(st, host);
}

}  // namespace plugstore
