// Values a scenario starts from before its own settings: a valid store of
// 300 l, 1.5 m high, at 20 degC, with light losses, sensors and zones evenly
// spread, no port, no heat exchanger and no heat input in use. The heat
// exchanger blocks hold a plain smooth-tube coil, so that a scenario that
// sets hx.count and the heights of a coil has a working one.
#pragma once

#include <array>

#include "store/state.h"

namespace plugstore::runner {

std::array<double, kNumParameters> defaultParameters();

// Every input 0, but the ambient temperature 20 degC.
std::array<double, kNumInputs> defaultInputs();

}  // namespace plugstore::runner
