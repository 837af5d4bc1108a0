// `plugstore fmu`: a scenario's store as an FMI 2.0 co-simulation FMU, the
// zip a master loads: modelDescription.xml, the binary of every platform at
// hand, the settings file and start profile in resources/, and a page of
// documentation.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "plugstore/scenario.h"

namespace plugstore::runner {

// The text files of an FMU of the scenario's store.
struct FmuFiles {
  std::string modelDescription;
  std::string settings;            // resources/plugstore.txt
  std::string startProfile;        // resources/startProfile.ini; empty: none
  std::string documentation;       // documentation/index.html
  std::vector<std::string> notes;  // what the FMU leaves to the master
};

// Throws ScenarioError for a scenario that cannot be one FMU (several
// units, a start profile that cannot be found).
FmuFiles fmuFiles(const Scenario& s);

struct FmuBinaries {
  std::filesystem::path linux64;  // plugstore.so
  std::filesystem::path win64;    // plugstore.dll; empty: none
};

// The default place of the Linux binary: fmu/plugstore.so beside the program.
std::filesystem::path defaultFmuBinary();

// Writes the FMU to `output` (under a temporary name, renamed when
// complete); throws std::runtime_error when it cannot.
void writeFmu(const FmuFiles& files, const FmuBinaries& binaries,
              const std::filesystem::path& output);

}  // namespace plugstore::runner
