// Output quantities: port flows, energy, entropy, exergy, the main balance
// and the temperature profile.
#pragma once

#include "host/host_services.h"
#include "store/state.h"

namespace plugstore {

void calculateOutputs(State& st, HostServices& host);

// Store temperature at integer relative height z.
double temperatureAtHeight(const State& st, double z, bool interpolate);

// Height of profile output i (1 ... 10), in integer units.
inline double profileOutputHeight(int i) { return 50000.0 + 100000.0 * (i - 1); }

// The profile (zProfile, tProfile) at height z, between the points that
// `read` keeps if it keeps them for z; as vectorLinearInterpolation gives it.
double profileAt(const Store& s, const ProfileRead& read, double z);

// Piecewise linear function through (x[i], y[i]), x ascending, at xv.
// Arrays are 0-based here: x[0] ... x[n - 1].
double vectorLinearInterpolation(int n, const double* x, const double* y, double xv, bool warn);

}  // namespace plugstore
