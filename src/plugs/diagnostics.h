// Diagnostics of the plug table: consistency check and text dumps.
#pragma once

#include <string_view>

#include "host/host_services.h"
#include "store/state.h"

namespace plugstore {

// 1 when the highest plug ends at the top and the capacitances add up.
int checkPlugConsistency(const State& st, HostServices& host);

// Writes the chain to <dataPath>/<label>.txt when dumpSwitch is -1, or to
// <dataPath>/<label>_unit<N>.txt when st.dumpFileUnit is N, not 0.
void dumpPlugTable(const State& st, int dumpUnit, std::string_view label, int dumpSwitch);

}  // namespace plugstore
