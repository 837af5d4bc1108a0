// An output file written under a temporary name beside its final one and
// renamed into place when complete. A reader never finds a half-written
// file under the final name, and a run that fails before it has anything to
// keep leaves an existing file as it was.
#pragma once

#include <cstdio>
#include <filesystem>
#include <stdexcept>
#include <string>

namespace plugstore::runner {

// A file that could not be written: "cannot write PATH: REASON", the reason
// as the system gives it (No space left on device, Permission denied, ...).
class OutputError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class AtomicFile {
 public:
  // Opens the temporary file; throws OutputError when it cannot. Temporary
  // files of the same name left by processes that are gone (killed by
  // SIGKILL, say) are removed first.
  explicit AtomicFile(std::filesystem::path path);
  ~AtomicFile();  // a file neither committed nor discarded is discarded
  AtomicFile(const AtomicFile&) = delete;
  AtomicFile& operator=(const AtomicFile&) = delete;

  [[nodiscard]] std::FILE* get() const { return file_; }
  [[nodiscard]] const std::filesystem::path& path() const { return path_; }
  [[nodiscard]] bool open() const { return file_ != nullptr; }

  // Whether a write has failed so far; error() then says which file and why.
  [[nodiscard]] bool failed();
  [[nodiscard]] const std::string& error() const { return error_; }

  // Flushes, syncs and renames to the final name; throws OutputError (and
  // leaves the final name as it was) when a write failed.
  void commit();
  // Removes the temporary file.
  void discard();

 private:
  void fail(int reason);

  std::filesystem::path path_;
  std::filesystem::path temporary_;
  std::FILE* file_ = nullptr;
  std::string error_;
};

// The whole of `text` into `path` by way of a temporary file; throws
// OutputError when it could not be written.
void writeFileAtomically(const std::filesystem::path& path, const std::string& text);

}  // namespace plugstore::runner
