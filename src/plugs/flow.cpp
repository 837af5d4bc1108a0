// PLACEHOLDER, to be replaced by the plug-flow work.
#include "plugs/flow.h"
namespace plugstore {
void calculateFlow(State&, HostServices&) {}
double drawAtOutlet(State&, HostServices&, double, double, int) { return 0.0; }
void insertAtInlet(State&, HostServices&, int) {}
void sortPlugs(State&, HostServices&, int) {}
void adjustHeights(State&, HostServices&) {}
void cleanPlugs(State&, HostServices&, int32_t, int32_t, double) {}
}  // namespace plugstore
