// What an FMU of the store carries besides its binary: the value references
// of its variables, and the settings file in its resources folder with the
// scenario's parameters, input values, time grid and unit. The command that
// writes FMUs and the FMU's binary both use this one definition.
#pragma once

#include <array>
#include <string>
#include <string_view>

#include "standin/protocol.h"

namespace plugstore::fmu {

// The binary is one for every FMU: the modelIdentifier, and the file name of
// binaries/<platform>/plugstore.so (.dll).
inline constexpr std::string_view kModelIdentifier = "plugstore";
inline constexpr std::string_view kSettingsFile = "plugstore.txt";

// Value references: time is 0, parameter n is n, input n is 1000 + n,
// output n is 2000 + n (n as the host numbers them, from 1).
inline constexpr unsigned kTimeReference = 0;
inline constexpr unsigned kInputBase = 1000;
inline constexpr unsigned kOutputBase = 2000;

struct Settings {
  std::string guid;
  double start = 0.0;  // h
  double step = 1.0;   // h, the time step of the component's initial call
  int iterations = 1;  // iterative calls per communication step
  int unit = 1;
  std::array<double, standin::kParameters> parameters{};
  std::array<double, standin::kInputs> inputs{};  // until the master sets them
};

// The settings file's text: one "key value" line each, values that read
// back exactly, names of the parameters and inputs after them.
std::string settingsText(const Settings& s);

// Reads the text; an empty result means it is fine, else it says what is
// wrong.
std::string readSettings(std::string_view text, Settings& s);

}  // namespace plugstore::fmu
