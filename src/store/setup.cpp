// PLACEHOLDER, to be replaced by the set-up work.
#include "store/setup.h"
namespace plugstore {
void initialiseStore(State&, HostServices&) {}
void setMemory(State&, HostServices&) {}
void releaseHxMemory(State&) {}
void copyTankDataToHEx(State&, HostServices&, HxRecord&) {}
}  // namespace plugstore
