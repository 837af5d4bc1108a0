// The host's call protocol on one store: tells the kinds of call apart and
// hands the work to the set-up, the driver and the output calculation.
#pragma once

#include "host/host_services.h"
#include "store/state.h"

namespace plugstore {

// One call of the component. Arrays as the host passes them (0-based here):
// 69 inputs, 202 outputs, 219 parameters, info with at least 13 entries.
// Never throws; returns 1.
int type8642Call(State& st, HostServices& host, double time, const double* xin, double* out,
                 const double* par, int* info);

// Version string of the component, one for the whole build.
const char* componentVersion();

}  // namespace plugstore
