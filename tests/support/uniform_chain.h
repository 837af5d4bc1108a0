// A chain of equal plugs of any length, and the shape checks of a chain.
#pragma once

#include <cstdint>
#include <vector>

#include "store/state.h"

namespace plugstore::test {

// n plugs at `temp`, zTop div n high, the highest taking the remainder.
inline void buildUniformChain(State& st, int n, double temp, double capTot) {
  PlugTable& t = st.plugs;
  t = PlugTable{};
  t[kBottomSentinel].Temp = kBottomSentinelTemp;
  t[kTopSentinel].Temp = kTopSentinelTemp;
  for (int s : {kBottomSentinel, kTopSentinel}) t[s].Cap = t[s].CapSolver = -1.0;
  t[kTopSentinel].iUp = kTopSentinel;
  st.store.capTot = capTot;
  for (int i = 1; i <= n; ++i) {
    Plug& p = t[i];
    p.zDown = (i - 1) * (kZTop / n);
    p.zUp = i == n ? kZTop : i * (kZTop / n);
    p.Cap = p.CapSolver = capTot * (p.zUp - p.zDown) / kZTop;
    p.Temp = p.Temp0 = temp;
    p.iDown = i - 1;
    p.iUp = i == n ? kTopSentinel : i + 1;
  }
  t[kBottomSentinel].iUp = n > 0 ? 1 : kTopSentinel;
  t[kTopSentinel].iDown = n;
}

inline double chainCap(const State& st) {
  double sum = 0.0;
  for (int p = st.plugs.first(); st.plugs[p].Cap > 0.0; p = st.plugs[p].iUp) sum += st.plugs[p].Cap;
  return sum;
}

// Heights (zUp - zDown) bottom to top; empty when the bands leave a gap or
// do not start at 0.
inline std::vector<int32_t> chainHeights(const State& st) {
  std::vector<int32_t> out;
  int32_t z = 0;
  for (int p = st.plugs.first(); st.plugs[p].Cap > 0.0; p = st.plugs[p].iUp) {
    if (st.plugs[p].zDown != z) return {};
    out.push_back(st.plugs[p].zUp - z);
    z = st.plugs[p].zUp;
  }
  return out;
}

}  // namespace plugstore::test
