// Output quantities: port flows, energy, entropy, exergy, the main balance
// and the temperature profile.
#pragma once

#include "host/host_services.h"
#include "store/state.h"

namespace plugstore {

void calculateOutputs(State& st, HostServices& host);

// Store temperature at integer relative height z.
double temperatureAtHeight(const State& st, double z, bool interpolate);

// Piecewise linear function through (x[i], y[i]), x ascending, at xv.
// Arrays are 0-based here: x[0] ... x[n - 1].
double vectorLinearInterpolation(int n, const double* x, const double* y, double xv, bool warn);

}  // namespace plugstore
