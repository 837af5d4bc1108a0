// The host's data arrays: reading of the 219 parameters and 69 inputs, the
// parameter checks of the initial call and the writing of the 202 outputs.
// All arrays are the host's, numbered from 1 in the documentation and from 0
// here (parameter n is par[n - 1]).
#pragma once

#include "host/host_services.h"
#include "store/state.h"

namespace plugstore {

// Every call: the whole parameter array into Store, ports and Hx records,
// with the three Hx height checks; an array equal to the one read before
// (that passed those checks) is not read again.
void readParameters(State& st, HostServices& host, const double* par);

// Initial call: every check is reported; true when none failed.
bool checkParameters(State& st, HostServices& host, const double* par);

// Iterative calls: inputs into ports, Hx and heat inputs, with warnings.
void readInputs(State& st, HostServices& host, const double* xin);

// Iterative calls: the outputs in their order; outputs that are never
// written keep the host's values.
void writeOutputs(const State& st, HostServices& host, double* out);

// Limits of the initial call's checks of sizes, shared with the runner's
// own checks: temperatures (degC) above kMaxTemperature belong to no store;
// physical quantities (isQuantityParameter) must be 0 or of a size from
// 1e-12 to 1e12 (outsideAnyStore is true otherwise); the exponents of the Hx
// laws (isExponentParameter) lie within +-kMaxExponent. nHx: Hx in use.
inline constexpr double kMaxTemperature = 1e4;
inline constexpr double kMaxExponent = 10.0;
bool outsideAnyStore(double value);
bool isQuantityParameter(int n, int nHx);
bool isExponentParameter(int n, int nHx);

// Whether writeOutputs writes output n (1-based) with nHx heat exchangers in
// use: 156 ... 175, 202 and the blocks of Hx beyond nHx keep the host's values.
bool outputWritten(int n, int nHx);

}  // namespace plugstore
