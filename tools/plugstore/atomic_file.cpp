#include "plugstore/atomic_file.h"

#include <unistd.h>

#include <stdexcept>
#include <system_error>

namespace plugstore::runner {

namespace fs = std::filesystem;

AtomicFile::AtomicFile(fs::path path) : path_(std::move(path)) {
  // Hidden, beside the final file (a rename within one folder is atomic),
  // and named by the process so that runs side by side do not meet.
  // Appended piece by piece: GCC 12 at -O3 warns falsely (-Wrestrict) on
  // "." + a temporary string.
  std::string name = ".";
  name += path_.filename().string();
  name += '.';
  name += std::to_string(getpid());
  name += ".part";
  temporary_ = path_.parent_path() / name;
  file_ = std::fopen(temporary_.string().c_str(), "wb");
  if (file_ == nullptr) throw std::runtime_error("cannot write " + path_.string());
}

AtomicFile::~AtomicFile() { discard(); }

void AtomicFile::commit() {
  if (file_ == nullptr) throw std::runtime_error("cannot write " + path_.string());
  bool ok = std::fflush(file_) == 0 && std::ferror(file_) == 0;
  ok = fsync(fileno(file_)) == 0 && ok;  // the rows are on disk before the name is
  ok = std::fclose(file_) == 0 && ok;
  file_ = nullptr;
  std::error_code e;
  if (ok) fs::rename(temporary_, path_, e);
  if (!ok || e) {
    fs::remove(temporary_, e);
    throw std::runtime_error("cannot write " + path_.string());
  }
}

void AtomicFile::discard() {
  if (file_ == nullptr) return;
  std::fclose(file_);
  file_ = nullptr;
  std::error_code ignored;
  fs::remove(temporary_, ignored);
}

bool writeFileAtomically(const fs::path& path, const std::string& text) {
  try {
    AtomicFile f(path);
    std::fwrite(text.data(), 1, text.size(), f.get());
    f.commit();
    return true;
  } catch (const std::runtime_error&) {
    return false;
  }
}

}  // namespace plugstore::runner
