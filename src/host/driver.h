// The physical model of one iterative call.
#pragma once

#include "host/host_services.h"
#include "store/state.h"

namespace plugstore {

void runTimeStep(State& st, HostServices& host);

}  // namespace plugstore
