// A stratified start written as a temperature profile: points (relative
// height, temperature), straight lines between them, the end values held
// below the first and above the last point; two points at one height make a
// step (a sharp thermocline). The runner turns the profile into the plug
// table of the component's start-profile file, startProfile.ini in the
// folder of label 1, and switches the start profile on.
#pragma once

#include <array>
#include <cstddef>
#include <filesystem>
#include <string>
#include <vector>

#include "store/state.h"

namespace plugstore::runner {

struct ProfilePoint {
  double height = 0.0;       // relative, 0 ... 1
  double temperature = 0.0;  // degC
};

// One plug of the start-profile file.
struct ProfilePlug {
  int index = 0;
  double cap = 0.0;  // kJ/K
  double temperature = 0.0;
  int32_t zDown = 0;  // height units, 1000000 the top
  int32_t zUp = 0;
};

// Why the points make no profile, or "" when they do; `point` receives the
// 0-based index of the offending point, if there is one.
std::string profileProblem(const std::vector<ProfilePoint>& points, std::size_t* point = nullptr);

// The temperature of the profile at relative height z.
double profileTemperature(const std::vector<ProfilePoint>& points, double z);

// The plugs of the profile for the store of `par`: every layer between two
// steps is cut into equal plugs, as many as the uniform store has over its
// height (store.minPlugs over the whole height), rounded up; each plug takes
// the mean temperature of the profile over its height, so that the store
// holds the energy of the profile.
std::vector<ProfilePlug> profilePlugs(const std::vector<ProfilePoint>& points,
                                      const std::array<double, kNumParameters>& par);

// The text of startProfile.ini: one line per plug, bottom first.
std::string startProfileText(const std::vector<ProfilePlug>& plugs);

// Writes `text` as startProfile.ini into `folder`, unless the file there
// holds it already; the file is written under a temporary name and renamed,
// so that a run that reads it never sees half of it. Returns the file's
// path; throws std::runtime_error when it cannot be written.
std::filesystem::path writeStartProfile(const std::filesystem::path& folder,
                                        const std::string& text);

}  // namespace plugstore::runner
