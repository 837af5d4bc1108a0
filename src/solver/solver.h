// Coupled solution of conduction, losses, heat inputs and heat exchangers.
#pragma once

#include "host/host_services.h"
#include "store/state.h"

namespace plugstore {

void solveCondHx(State& st, HostServices& host, int n, double dt);

}  // namespace plugstore
