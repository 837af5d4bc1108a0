// Rules a scenario must meet before it is run: the parameter values the
// component rejects at its initial call (reported here by name, before the
// library is loaded), and inputs that would have no effect because what
// they drive is not in use.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "plugstore/scenario.h"

namespace plugstore::runner {

struct Problem {
  int number = 0;  // parameter or input number (1-based)
  std::string message;
};

std::vector<Problem> parameterProblems(const std::array<double, kNumParameters>& par);

// Values the component takes but that are probably not meant (a specific
// heat in J instead of kJ): said, not refused.
std::vector<Problem> parameterNotes(const std::array<double, kNumParameters>& par);

std::vector<Problem> inputProblems(const std::array<double, kNumParameters>& par,
                                   const std::array<InputSource, kNumInputs>& inputs);

// The settings of a simulation's time grid and unit, as [simulation] takes
// them; each returns why a value is refused, or "" when it is fine.
std::string stepProblem(double step);
std::string iterationsProblem(double iterations);
std::string unitProblem(double unit);
// A store stepped from outside has no stop time: its start must be finite,
// and so small that a step of `step` h still moves the clock.
std::string startProblem(double start, double step);

}  // namespace plugstore::runner
