// The files a run writes must be neither the files it reads nor each other:
// `-o draws.toml` would replace the scenario by its own CSV, `--summary` on
// the CSV's name would lose the rows. Paths are compared as they resolve,
// symbolic links followed, so that two names of one file are one file.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "plugstore/scenario.h"

namespace plugstore::runner {

// A file and what it is to the run ("-o", "the scenario", "the series").
struct RunFile {
  std::string role;
  std::filesystem::path path;
};

// The files a run of `s` reads: the scenario, its series and tapping files,
// the start-profile file the component reads with store.startProfile = 1.
std::vector<RunFile> filesRead(const Scenario& s);

// The files a run writes beside the CSV: the period totals of each store.
std::vector<RunFile> filesBesideCsv(const Scenario& s, const std::filesystem::path& csv);

// Whether the two paths name one file, after symbolic links.
bool sameFile(const std::filesystem::path& a, const std::filesystem::path& b);

// A message for the first output that is a file read or another output;
// empty when there is none.
std::string outputCollision(const std::vector<RunFile>& reads, const std::vector<RunFile>& writes);

}  // namespace plugstore::runner
