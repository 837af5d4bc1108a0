// PLACEHOLDER, to be replaced by the plug-flow work.
#include "host/driver.h"
namespace plugstore {
void runTimeStep(State&, HostServices&) {}
}  // namespace plugstore
