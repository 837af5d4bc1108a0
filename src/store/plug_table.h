// Operations on the plug table: a doubly linked chain of plugs between two
// sentinels, records 1 ... 399 forming the pool.
#pragma once

#include <cstdint>

#include "host/host_services.h"
#include "store/state.h"

namespace plugstore {

// Number of plugs in the chain, walking from the lowest while Cap > 0.
int countPlugs(const PlugTable& t);

// The first n plugs of the chain, in their order (n no more than
// countPlugs gives).
void takeChainOrder(const PlugTable& t, int n, ChainOrder& order);

// The whole chain in its order, as the walks that go up while Cap > 0 see
// it; returns its length.
int takeChainOrder(const PlugTable& t, ChainOrder& order);

// The whole chain of the working table in st.chain, taken again only when
// the chain has changed since it was last taken; returns its length.
int chainOrder(State& st);

// Highest plug of the chain (iDown of the top sentinel).
inline int highestPlug(const PlugTable& t) { return t[kTopSentinel].iDown; }

// Copies the records 0 ... highWater and the top sentinel of `from` into `to`
// (the other records of the two tables agree).
void copyPlugs(PlugTable& to, const PlugTable& from, int highWater);

// The working table becomes the saved one (the start of the time step),
// unless it still is.
void restorePlugs(State& st);

// First free pool record, scanning from index 1. When the pool is exhausted
// it sends "no more plugs free!" (FATAL) and unwinds: nothing is created.
int allocatePlug(State& st, HostServices& host);

// New plug of zero height at the top of `below`, linked directly above it.
int insertPlugAbove(State& st, HostServices& host, int below, double cap, double temp,
                    double temp0);

// Splits p at zDown(p) < z < zUp(p); the new upper part is returned.
int splitPlug(State& st, HostServices& host, int p, int32_t z);

// Merges the neighbour `absorbed` into `kept`; refused next to a sentinel.
void mergePlugs(PlugTable& t, int kept, int absorbed);

// Takes p out of the chain and frees its record.
void unlinkPlug(PlugTable& t, int p);

// Exchanges p with the plug above it; heights are not touched.
void swapWithAbove(PlugTable& t, int p);

}  // namespace plugstore
