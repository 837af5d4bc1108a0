// PLACEHOLDER, to be replaced by the parameter/input/output work.
#include "host/parameters.h"
namespace plugstore {
void readParameters(State&, HostServices&, const double*) {}
bool checkParameters(State&, HostServices&, const double*) { return true; }
void readInputs(State&, HostServices&, const double*) {}
void writeOutputs(const State&, HostServices&, double*) {}
}  // namespace plugstore
