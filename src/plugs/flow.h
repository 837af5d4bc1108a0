// Plug flow of the direct ports: draw, insert, sort, re-height and clean.
#pragma once

#include <cstdint>

#include "host/host_services.h"
#include "store/state.h"

namespace plugstore {

// The whole flow calculation of one call, stages 1 to 8 with their
// diagnostics.
void calculateFlow(State& st, HostServices& host);

// The stages of calculateFlow, in their order. Ports are handled 1 to 10 and
// every search starts at the lowest plug.
//
// A port moves fluid in this call when it has an inlet and flows above the
// threshold of one kilogram per hour.
inline bool portActive(const DirectPort& port) { return port.zIn >= 0 && port.mDot > kMDotMin; }
// Stage 1: moves every outlet off the inlet heights in steps of 1000 units
// towards the middle of the store.
void separateOutlets(State& st);
// Stage 2a/2b: splits the plugs cut by an outlet, then by an inlet height.
void splitAtPortHeights(State& st, HostServices& host);
// Stage 2c: net upward mass flow through every plug's top face; stores the
// plug count in the balance record.
void faceFlows(State& st);
// Stage 3: capAbove of every active port.
void shareOutletFlows(State& st);
// Stage 4: draws every active port's capFlow and sets its tOut.
void drawPorts(State& st, HostServices& host);

// Lowest plug with zDown >= z, or a record with Cap <= 0 when there is none.
int plugAboveHeight(const PlugTable& t, int32_t z);

// Draws capAbove from `start` upwards and capBelow below it; returns the
// mixed temperature of what was drawn.
double drawAtOutlet(State& st, HostServices& host, double capAbove, double capBelow, int start);

// Inserts the fluid of active port d (0-based index) as a new plug.
void insertAtInlet(State& st, HostServices& host, int d);

// True when plug temperature tLow below tHigh is a density inversion.
bool unstablePair(double tLow, double tHigh);

// mode -1: sort (swap), mode 0: mix (merge).
void sortPlugs(State& st, HostServices& host, int mode);

void adjustHeights(State& st, HostServices& host);

void cleanPlugs(State& st, HostServices& host, int32_t minPlugHeight, int32_t maxPlugHeight,
                double minDeltaT);

}  // namespace plugstore
