// The stores the stand-in host runs: a resting store, and a busy one with two
// ports, a coil on correlations and a heat input, so that every part of the
// model is at work; a second, larger unit with draws of its own.
#pragma once

#include <array>

#include "standin/protocol.h"

namespace standin {

// A valid store: 300 l, 1.5 m high, 60 degC, light losses, no ports in use.
std::array<double, kParameters> restingStore();

// Adds a draw-off port, a charging loop, a coil on correlations and a heat
// input to the resting store.
void makeBusy(std::array<double, kParameters>& p);

// The second unit: a larger, cooler store.
void makeSecondStore(std::array<double, kParameters>& p);

// Inputs of the stores at `time` (h): ambient 20 degC, and for a busy store
// its draws, charging, coil and heat input; the second unit (`second`) draws
// more, an hour later.
void storeInputs(double time, bool busy, bool second, std::array<double, kInputs>& in);

}  // namespace standin
