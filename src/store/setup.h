// Set-up of the store at the initial call and the heat-exchanger CV memory.
#pragma once

#include "host/host_services.h"
#include "store/state.h"

namespace plugstore {

// Builds the initial plug table (uniform or from the start profile), the
// energy quantities, the Hx control volumes and the start-of-step copies.
void initialiseStore(State& st, HostServices& host);

// The state reached becomes the start of the next time step: Temp0, the
// saved plug table, E_old, S_old, Ex_old, tWallOld and tCvOld.
void saveStartOfStep(State& st);

// Allocates and zeroes the eight CV arrays of Hx 1 ... nHx.
void setMemory(State& st, HostServices& host);

// Releases the CV arrays of every Hx record (end of simulation).
void releaseHxMemory(State& st);

// Height-weighted mean store temperature around every CV of one Hx.
void copyTankDataToHEx(State& st, HostServices& host, HxRecord& hx);

}  // namespace plugstore
