// Sorting, height adjustment and clean-up of the plug stack.
#include <cmath>
#include <cstdint>
#include <limits>

#include "plugs/flow.h"
#include "store/plug_table.h"

namespace plugstore {

namespace {

// Water is densest near 4 degC: above it warmer fluid rises, below it colder.
constexpr double kDensityMaxTemp = 4.0;
// Differences up to this are no inversion.
constexpr double kInversionTolerance = 0.01;
// A plug top at or above this means the capacitances exceed the store's.
constexpr int32_t kHeightWarningBound = 1001001;

// Truncated plug height; saturated, so that capacitances far beyond the
// store's cannot wrap the integer heights round.
int32_t truncatedHeight(double h) {
  constexpr double kMax = std::numeric_limits<int32_t>::max();
  if (!(h > 0.0)) return 0;
  return h >= kMax ? std::numeric_limits<int32_t>::max() : static_cast<int32_t>(h);
}

}  // namespace

bool unstablePair(double tLow, double tHigh) {
  if (tLow >= kDensityMaxTemp) return tHigh + kInversionTolerance < tLow;
  return tHigh < kDensityMaxTemp && tLow < tHigh - kInversionTolerance;
}

void sortPlugs(State& st, HostServices& host, int mode) {
  (void)host;
  PlugTable& t = st.plugs;
  // Every swap undoes one inversion of the density order and every merge
  // removes a plug, so the sweeps end. A sweep changes nothing below the
  // first pair it changes: the next sweep would pass those plugs again and
  // find them as stable as before, so it begins at the plug below that pair.
  if (mode == -1 && st.stableKnown && st.stableAt == t.edits) return;
  st.stableKnown = false;
  // The sweeps pass the chain in its order: they take the chain order on
  // their way (position i is p's place in the chain).
  ChainOrder& order = st.chain;
  order.table = nullptr;
  int from = kBottomSentinel;
  int fromAt = 1;
  int i = 1;
  bool changed = true;
  while (changed) {
    changed = false;
    int p = from == kBottomSentinel ? t.first() : from;
    if (t[p].Cap <= 0.0) return;
    i = fromAt;
    for (;;) {
      const int a = t[p].iUp;
      // The chain ends at the top sentinel whatever its temperature: a plug
      // hotter than it (an absurd start) must not swap places with it.
      if (a == kTopSentinel || t[a].Cap <= 0.0) break;
      if (unstablePair(t[p].Temp, t[a].Temp)) {
        if (!changed) {
          from = t[p].iDown;
          fromAt = from == kBottomSentinel ? 1 : i - 1;
        }
        if (mode == -1) {
          swapWithAbove(t, p);
          order.rec[static_cast<std::size_t>(i++)] = a;  // a took p's place
        } else {
          mergePlugs(t, p, a);
        }
        changed = true;
        continue;  // the same p against its new upper neighbour
      }
      order.rec[static_cast<std::size_t>(i++)] = p;
      p = a;
    }
    order.rec[static_cast<std::size_t>(i)] = p;  // the highest plug
  }
  order.n = i;
  order.table = &t;
  order.edits = t.edits;
  order.whole = true;
  if (mode == 0) {
    st.stableKnown = true;
    st.stableAt = t.edits;
  }
}

void adjustHeights(State& st, HostServices& host) {
  PlugTable& t = st.plugs;
  const Store& s = st.store;
  // New heights change no link: the order of the chain holds.
  const int n = chainOrder(st);
  for (int i = 1; i <= n; ++i) {
    Plug& q = t[st.chain.at(i)];
    const int32_t h = truncatedHeight(s.zTop * q.Cap / s.capTot);
    q.zDown = t[q.iDown].zUp;
    if (q.iUp == kTopSentinel) {
      q.zUp = s.zTop;
    } else {
      const int64_t up = int64_t{q.zDown} + int64_t{h};
      constexpr int64_t kMax = std::numeric_limits<int32_t>::max();
      q.zUp = static_cast<int32_t>(up > kMax ? kMax : up);
    }
    if (q.zUp >= kHeightWarningBound) {
      report(st, host, "WARNING",
             "Total of plug capacitances in store is larger than total capacitance of store");
    }
  }
}

void cleanPlugs(State& st, HostServices& host, int32_t minPlugHeight, int32_t maxPlugHeight,
                double minDeltaT) {
  PlugTable& t = st.plugs;
  // The walk passes the chain in its order and takes the chain order on its
  // way: i is the place of s in the chain, the places below it are taken.
  ChainOrder& order = st.chain;
  order.table = nullptr;
  int i = 1;
  // s merges the plug below it into itself and moves on; it sinks one place
  // unless the merge was refused (the bottom sentinel).
  const auto absorbBelow = [&t, &order, &i](int s, int d) {
    const bool refused = t[d].Cap <= -0.5;
    mergePlugs(t, s, d);
    if (!refused) --i;
    order.rec[static_cast<std::size_t>(i++)] = s;
    return t[s].iUp;
  };
  int s = t.first();
  // A plug that has just absorbed a thin neighbour is not split again: its
  // halves would be thin and merged back for ever.
  bool justAbsorbed = false;
  while (t[s].Cap > 0.0) {
    const int32_t h = t[s].zUp - t[s].zDown;
    const int d = t[s].iDown;
    const int u = t[s].iUp;
    if (!justAbsorbed && h > maxPlugHeight) {
      splitPlug(st, host, s, t[s].zDown + h / 2);
      continue;
    }
    justAbsorbed = false;
    if (std::fabs(t[s].Temp - t[d].Temp) < minDeltaT &&
        int64_t{t[s].zUp} - int64_t{t[d].zDown} <= maxPlugHeight) {
      s = absorbBelow(s, d);
    } else if (h < minPlugHeight) {
      if (std::fabs(t[s].Temp - t[u].Temp) <= std::fabs(t[s].Temp - t[d].Temp)) {
        // u takes s's place; refused at the top sentinel, where s stays.
        if (t[u].Cap <= -0.5) order.rec[static_cast<std::size_t>(i++)] = s;
        mergePlugs(t, u, s);
        s = u;
        justAbsorbed = true;
      } else {
        s = absorbBelow(s, d);
      }
    } else {
      order.rec[static_cast<std::size_t>(i++)] = s;
      s = u;
    }
  }
  order.n = i - 1;
  order.table = &t;
  order.edits = t.edits;
  order.whole = true;
}

}  // namespace plugstore
