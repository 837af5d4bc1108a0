#include "plugstore/atomic_file.h"

#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <system_error>

namespace plugstore::runner {

namespace fs = std::filesystem;

namespace {

// ".NAME.PID.part": hidden, beside the final file (a rename within one
// folder is atomic), and named by the process so that runs side by side do
// not meet. Appended piece by piece: GCC 12 at -O3 warns falsely
// (-Wrestrict) on "." + a temporary string.
std::string partName(const fs::path& path, long pid) {
  std::string name = ".";
  name += path.filename().string();
  name += '.';
  name += std::to_string(pid);
  name += ".part";
  return name;
}

// Part files of `path` whose process no longer runs: a run killed before it
// could remove its own. A process id in use again keeps its file (it may be
// another run's).
void removeStaleParts(const fs::path& path) {
  const std::string prefix = "." + path.filename().string() + ".";
  std::error_code ec;
  const fs::path folder = path.parent_path().empty() ? fs::path(".") : path.parent_path();
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (!name.starts_with(prefix) || !name.ends_with(".part")) continue;
    const std::string digits = name.substr(prefix.size(), name.size() - prefix.size() - 5);
    if (digits.empty() || digits.size() > 9 ||
        digits.find_first_not_of("0123456789") != std::string::npos) {
      continue;
    }
    const long pid = std::stol(digits);
    if (pid != getpid() && kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH &&
        it->is_regular_file(ec)) {
      std::error_code ignored;
      fs::remove(it->path(), ignored);
    }
  }
}

std::string reasonText(int reason) {
  return reason != 0 ? std::strerror(reason) : "a write failed";
}

}  // namespace

AtomicFile::AtomicFile(fs::path path) : path_(std::move(path)) {
  removeStaleParts(path_);
  temporary_ = path_.parent_path() / partName(path_, getpid());
  file_ = std::fopen(temporary_.string().c_str(), "wb");
  if (file_ == nullptr)
    throw OutputError("cannot write " + path_.string() + ": " + reasonText(errno));
}

AtomicFile::~AtomicFile() { discard(); }

void AtomicFile::fail(int reason) {
  if (error_.empty()) error_ = "cannot write " + path_.string() + ": " + reasonText(reason);
}

bool AtomicFile::failed() {
  if (error_.empty() && file_ != nullptr && std::ferror(file_) != 0) {
    // errno may have moved on since the write that failed: asked again, the
    // system gives the reason as it stands (a full disk stays full).
    int reason = errno;
    std::clearerr(file_);
    if (std::fflush(file_) != 0) reason = errno;
    fail(reason);
  }
  return !error_.empty();
}

void AtomicFile::commit() {
  if (file_ == nullptr && error_.empty()) fail(EBADF);
  if (!failed()) {
    if (std::fflush(file_) != 0) fail(errno);
    if (fsync(fileno(file_)) != 0) fail(errno);  // the rows are on disk before the name is
  }
  if (file_ != nullptr && std::fclose(file_) != 0) fail(errno);
  file_ = nullptr;
  std::error_code e;
  if (error_.empty()) {
    fs::rename(temporary_, path_, e);
    if (e) fail(e.value());
  }
  if (!error_.empty()) {
    fs::remove(temporary_, e);
    throw OutputError(error_);
  }
}

void AtomicFile::discard() {
  if (file_ == nullptr) return;
  std::fclose(file_);
  file_ = nullptr;
  std::error_code ignored;
  fs::remove(temporary_, ignored);
}

void writeFileAtomically(const fs::path& path, const std::string& text) {
  AtomicFile f(path);
  std::fwrite(text.data(), 1, text.size(), f.get());
  f.commit();
}

}  // namespace plugstore::runner
