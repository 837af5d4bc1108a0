// The run's summary as JSON, for scripts: the time grid, steps done, wall
// time, the component's messages with counts and times, the energy account
// and the verdict on the run. Every quantity with a unit names it in "units".
#pragma once

#include <string>

#include "plugstore/run.h"
#include "plugstore/scenario.h"

namespace plugstore::runner {

std::string summaryJson(const Scenario& scenario, const RunReport& report, const Verdict& verdict);

}  // namespace plugstore::runner
