// Plug flow of the direct ports: draw, insert, sort, re-height and clean.
#pragma once

#include <cstdint>

#include "host/host_services.h"
#include "store/state.h"

namespace plugstore {

void calculateFlow(State& st, HostServices& host);

// Draws capAbove from `start` upwards and capBelow below it; returns the
// mixed temperature of what was drawn.
double drawAtOutlet(State& st, HostServices& host, double capAbove, double capBelow, int start);

// Inserts the fluid of active port d (0-based index) as a new plug.
void insertAtInlet(State& st, HostServices& host, int d);

// mode -1: sort (swap), mode 0: mix (merge).
void sortPlugs(State& st, HostServices& host, int mode);

void adjustHeights(State& st, HostServices& host);

void cleanPlugs(State& st, HostServices& host, int32_t minPlugHeight, int32_t maxPlugHeight,
                double minDeltaT);

}  // namespace plugstore
