// An output file written under a temporary name beside its final one and
// renamed into place when complete. A reader never finds a half-written
// file under the final name, and a run that fails before it has anything to
// keep leaves an existing file as it was.
#pragma once

#include <cstdio>
#include <filesystem>
#include <string>

namespace plugstore::runner {

class AtomicFile {
 public:
  // Opens the temporary file; throws std::runtime_error when it cannot.
  explicit AtomicFile(std::filesystem::path path);
  ~AtomicFile();  // a file neither committed nor discarded is discarded
  AtomicFile(const AtomicFile&) = delete;
  AtomicFile& operator=(const AtomicFile&) = delete;

  [[nodiscard]] std::FILE* get() const { return file_; }
  [[nodiscard]] const std::filesystem::path& path() const { return path_; }
  [[nodiscard]] bool open() const { return file_ != nullptr; }

  // Flushes, syncs and renames to the final name; throws std::runtime_error
  // (and leaves the final name as it was) when a write failed.
  void commit();
  // Removes the temporary file.
  void discard();

 private:
  std::filesystem::path path_;
  std::filesystem::path temporary_;
  std::FILE* file_ = nullptr;
};

// The whole of `text` into `path` by way of a temporary file; false when it
// could not be written.
bool writeFileAtomically(const std::filesystem::path& path, const std::string& text);

}  // namespace plugstore::runner
