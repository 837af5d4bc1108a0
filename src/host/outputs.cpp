// PLACEHOLDER, to be replaced by the plug-flow work.
#include "host/outputs.h"
namespace plugstore {
void calculateOutputs(State&, HostServices&) {}
double temperatureAtHeight(const State&, double, bool) { return 0.0; }
double vectorLinearInterpolation(int, const double*, const double*, double, bool) { return 0.0; }
}  // namespace plugstore
