#include "store/plug_table.h"

#include <algorithm>

namespace plugstore {

int countPlugs(const PlugTable& t) {
  int n = 0;
  int p = t.first();
  // A consistent chain has at most 399 plugs; the bound keeps a damaged one
  // from walking for ever.
  while (n < kPlugRecords && p >= 0 && p < kPlugRecords && t[p].Cap > 0.0) {
    ++n;
    p = t[p].iUp;
  }
  return n;
}

void takeChainOrder(const PlugTable& t, int n, ChainOrder& order) {
  n = std::clamp(n, 0, kPlugRecords);
  if (order.holds(t) && order.n == n) return;  // the same walk would give the same
  order.table = &t;
  order.edits = t.edits;
  order.whole = false;
  int p = t.first();
  for (int i = 1; i <= n; ++i) {
    order.rec[static_cast<std::size_t>(i)] = p;
    p = t[p].iUp;
  }
  order.n = n;
}

int takeChainOrder(const PlugTable& t, ChainOrder& order) {
  int n = 0;
  int p = t.first();
  while (n < kPlugRecords && p >= 0 && p < kPlugRecords && t[p].Cap > 0.0) {
    order.rec[static_cast<std::size_t>(++n)] = p;
    p = t[p].iUp;
  }
  order.n = n;
  order.table = &t;
  order.edits = t.edits;
  order.whole = true;
  return n;
}

int chainOrder(State& st) {
  if (st.chain.whole && st.chain.holds(st.plugs)) return st.chain.n;
  return takeChainOrder(st.plugs, st.chain);
}

void copyPlugs(PlugTable& to, const PlugTable& from, int highWater) {
  const auto n = static_cast<std::size_t>(std::clamp(highWater, 0, kTopSentinel - 1)) + 1;
  std::copy_n(from.rec.begin(), n, to.rec.begin());
  to[kTopSentinel] = from[kTopSentinel];
  to.freeFrom = from.freeFrom;
  to.touch();
  to.flowsZero = from.flowsZero;  // the records of the chain were copied
}

void restorePlugs(State& st) {
  if (!st.plugsAsSaved) copyPlugs(st.plugs, st.savedPlugs, st.plugHighWater);
  st.plugsAsSaved = false;
}

int allocatePlug(State& st, HostServices& host) {
  PlugTable& t = st.plugs;
  // The records below freeFrom are in use: the lowest free record is the
  // first one from there.
  int i = std::clamp(t.freeFrom, 1, kTopSentinel);
  while (t[i].Cap > 0.0) ++i;  // stops at the latest at the top sentinel (-1)
  if (t[i].Cap == -1.0 || i >= kTopSentinel) {
    fatalStop(st, host, "FATAL", "no more plugs free!");
  }
  t.freeFrom = i + 1;
  st.plugHighWater = std::max(st.plugHighWater, i);
  return i;
}

int insertPlugAbove(State& st, HostServices& host, int below, double cap, double temp,
                    double temp0) {
  const int n = allocatePlug(st, host);
  PlugTable& t = st.plugs;
  const int above = t[below].iUp;
  t.noteJoin(n);
  Plug& p = t[n];
  p.Cap = cap;
  p.CapSolver = cap;
  t.noteCap(n);
  p.Temp = temp;
  p.Temp0 = temp0;
  p.zDown = t[below].zUp;
  p.zUp = t[below].zUp;
  p.qV = 0.0;
  p.qL = 0.0;
  p.qA = 0.0;
  p.sL = 0.0;
  p.iDown = below;
  p.iUp = above;
  t[below].iUp = n;
  t[above].iDown = n;
  return n;
}

int splitPlug(State& st, HostServices& host, int p, int32_t z) {
  const int n = allocatePlug(st, host);
  PlugTable& t = st.plugs;
  Plug& lower = t[p];
  const double f =
      static_cast<double>(z - lower.zDown) / static_cast<double>(lower.zUp - lower.zDown);
  const double cap = lower.Cap;
  const int above = lower.iUp;
  t.noteJoin(n);
  Plug& upper = t[n];
  upper.Cap = (1.0 - f) * cap;
  upper.CapSolver = upper.Cap;
  upper.Temp = lower.Temp;
  upper.Temp0 = lower.Temp0;
  upper.qV = 0.0;
  upper.qL = 0.0;
  upper.qA = 0.0;
  upper.sL = 0.0;
  upper.zDown = z;
  upper.zUp = lower.zUp;
  upper.iDown = p;
  upper.iUp = above;
  lower.Cap = f * cap;
  lower.CapSolver = lower.Cap;
  lower.zUp = z;
  lower.iUp = n;
  t[above].iDown = n;
  t.noteCap(n);
  t.noteCap(p);
  return n;
}

void mergePlugs(PlugTable& t, int kept, int absorbed) {
  Plug& k = t[kept];
  Plug& a = t[absorbed];
  if (k.Cap <= -0.5 || a.Cap <= -0.5) return;  // never merge into a sentinel
  const double cap = k.Cap + a.Cap;
  k.Temp = (k.Temp * k.Cap + a.Temp * a.Cap) / cap;
  k.Temp0 = (k.Temp0 * k.Cap + a.Temp0 * a.Cap) / cap;
  k.Cap = cap;
  k.CapSolver = cap;
  t.noteCap(kept);
  k.zUp = k.zUp > a.zUp ? k.zUp : a.zUp;
  k.zDown = k.zDown < a.zDown ? k.zDown : a.zDown;
  k.qV += a.qV;
  k.qL += a.qL;
  k.qA += a.qA;
  unlinkPlug(t, absorbed);
}

void unlinkPlug(PlugTable& t, int p) {
  const int below = t[p].iDown;
  const int above = t[p].iUp;
  t[below].iUp = above;
  t[above].iDown = below;
  t[p].Cap = 0.0;
  t[p].CapSolver = 0.0;
  t.noteCap(p);
}

void swapWithAbove(PlugTable& t, int p) {
  ++t.edits;  // the same records stay in the chain: their flows too
  const int a = t[p].iUp;
  const int below = t[p].iDown;
  const int above = t[a].iUp;
  t[below].iUp = a;
  t[a].iDown = below;
  t[a].iUp = p;
  t[p].iDown = a;
  t[p].iUp = above;
  t[above].iDown = p;
}

}  // namespace plugstore
