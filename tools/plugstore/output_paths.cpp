#include "plugstore/output_paths.h"

#include "plugstore/names.h"
#include "plugstore/run.h"
#include "plugstore/totals.h"

namespace plugstore::runner {

namespace fs = std::filesystem;

namespace {

// The path with every symbolic link followed, also one that points to a
// file not yet there (weakly_canonical leaves such a last link as it is).
fs::path resolved(fs::path p) {
  std::error_code ec;
  p = fs::absolute(p, ec);
  for (int hops = 0; hops < 40 && fs::is_symlink(p, ec); ++hops) {
    const fs::path target = fs::read_symlink(p, ec);
    if (ec) break;
    p = target.is_absolute() ? target : p.parent_path() / target;
  }
  const fs::path canonical = fs::weakly_canonical(p, ec);
  return ec ? p.lexically_normal() : canonical;
}

}  // namespace

std::vector<RunFile> filesRead(const Scenario& s) {
  std::vector<RunFile> reads;
  if (!s.file.empty()) reads.push_back({"the scenario", s.file});
  for (const Scenario* u : storesOf(s)) {
    for (const fs::path& f : u->inputFiles) reads.push_back({"an input file of the scenario", f});
    const auto profile = static_cast<std::size_t>(parameterNumber("store.startProfile") - 1);
    if (u->parameters[profile] == 1.0 && u->initialProfile.empty()) {
      reads.push_back({"the start profile", fs::path(u->label1) / "startProfile.ini"});
    }
  }
  return reads;
}

std::vector<RunFile> filesBesideCsv(const Scenario& s, const fs::path& csv) {
  std::vector<RunFile> files;
  for (const Scenario* u : storesOf(s)) {
    if (u->totals != Period::none) {
      files.push_back({"the " + periodName(u->totals) + " totals", totalsPath(csv, *u)});
    }
    if (!u->initialProfile.empty()) {
      files.push_back(
          {"the start profile of store.initialProfile", fs::path(u->label1) / "startProfile.ini"});
    }
  }
  return files;
}

bool sameFile(const fs::path& a, const fs::path& b) {
  std::error_code ea;
  std::error_code eb;
  if (fs::exists(a, ea) && fs::exists(b, eb)) return fs::equivalent(a, b, ea);  // hard links too
  return resolved(a) == resolved(b);
}

std::string outputCollision(const std::vector<RunFile>& reads, const std::vector<RunFile>& writes) {
  for (std::size_t i = 0; i < writes.size(); ++i) {
    const RunFile& w = writes[i];
    for (const RunFile& r : reads) {
      if (sameFile(w.path, r.path)) {
        return w.role + " (" + w.path.string() + ") is " + r.role + " (" + r.path.string() +
               "), which the run reads: write it to another file";
      }
    }
    for (std::size_t j = 0; j < i; ++j) {
      if (sameFile(w.path, writes[j].path)) {
        return w.role + " (" + w.path.string() + ") and " + writes[j].role + " (" +
               writes[j].path.string() + ") name one file: give each its own";
      }
    }
  }
  return {};
}

}  // namespace plugstore::runner
