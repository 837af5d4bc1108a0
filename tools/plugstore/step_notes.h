// Where the scenario's time step is long for its store, foreseen from the
// parameters and the largest scheduled inputs: the sub-steps the component
// will cut steps into for a strongly coupled coil or a heat input that can
// drive a thin plug past 100 degC, and the ports' turnover per step. Notes,
// not faults: the scenario runs as it is.
#pragma once

#include <string>
#include <vector>

#include "plugstore/scenario.h"

namespace plugstore::runner {

std::vector<std::string> stepNotes(const Scenario& s);

}  // namespace plugstore::runner
