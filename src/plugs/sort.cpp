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
  // their way (position i is p's place in the chain). A kept order holds on
  // meanwhile only while nothing changed: then what is written is what it
  // held.
  ChainOrder& order = st.chain;
  int from = kBottomSentinel;
  int fromAt = 1;
  int i = 1;
  bool changed = true;
  while (changed) {
    changed = false;
    int p = from == kBottomSentinel ? t.first() : from;
    const Plug* q = &t[p];
    if (q->Cap <= 0.0) return;
    i = fromAt;
    // q is plug p and tp its temperature, carried up the chain.
    double tp = q->Temp;
    for (;;) {
      const int a = q->iUp;
      // The chain ends at the top sentinel whatever its temperature: a plug
      // hotter than it (an absurd start) must not swap places with it.
      if (a == kTopSentinel) break;
      const Plug* qa = &t[a];
      if (qa->Cap <= 0.0) break;
      if (unstablePair(tp, qa->Temp)) {
        if (!changed) {
          from = q->iDown;
          fromAt = from == kBottomSentinel ? 1 : i - 1;
        }
        if (mode == -1) {
          swapWithAbove(t, p);
          order.rec[static_cast<std::size_t>(i++)] = a;  // a took p's place
        } else {
          mergePlugs(t, p, a);
          tp = q->Temp;
        }
        changed = true;
        continue;  // the same p against its new upper neighbour
      }
      order.rec[static_cast<std::size_t>(i++)] = p;
      p = a;
      q = qa;
      tp = qa->Temp;
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
  // Read once: the stores into the plugs' heights could be into these too.
  const double zTop = s.zTop;
  const double capTot = s.capTot;
  const int32_t zTopInt = s.zTop;
  Plug* const rec = t.rec.data();
  for (int i = 1; i <= n; ++i) {
    Plug* const q = rec + st.chain.at(i);
    const int32_t h = truncatedHeight(zTop * q->Cap / capTot);
    const int32_t zDown = rec[q->iDown].zUp;
    int32_t zUp = zTopInt;
    if (q->iUp != kTopSentinel) {
      const int64_t up = int64_t{zDown} + int64_t{h};
      constexpr int64_t kMax = std::numeric_limits<int32_t>::max();
      zUp = static_cast<int32_t>(up > kMax ? kMax : up);
    }
    q->zDown = zDown;
    q->zUp = zUp;
    if (zUp >= kHeightWarningBound) {
      report(st, host, "WARNING",
             "Total of plug capacitances in store is larger than total capacitance of store");
    }
  }
}

void cleanPlugs(State& st, HostServices& host, int32_t minPlugHeight, int32_t maxPlugHeight,
                double minDeltaT) {
  PlugTable& t = st.plugs;
  // The walk passes the chain in its order and takes the chain order on its
  // way: i is the place of s in the chain, the places below it are taken (as
  // in the sort, a kept order holds on meanwhile only while nothing changed).
  ChainOrder& order = st.chain;
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
  const Plug* q = &t[s];  // plug s
  // A plug that has just absorbed a thin neighbour is not split again: its
  // halves would be thin and merged back for ever.
  bool justAbsorbed = false;
  while (q->Cap > 0.0) {
    const int32_t h = q->zUp - q->zDown;
    const int d = q->iDown;
    const int u = q->iUp;
    if (!justAbsorbed && h > maxPlugHeight) {
      splitPlug(st, host, s, q->zDown + h / 2);
      continue;
    }
    justAbsorbed = false;
    const Plug& below = t[d];
    const double dTBelow = std::fabs(q->Temp - below.Temp);
    if (dTBelow < minDeltaT && int64_t{q->zUp} - int64_t{below.zDown} <= maxPlugHeight) {
      s = absorbBelow(s, d);
    } else if (h < minPlugHeight) {
      if (std::fabs(q->Temp - t[u].Temp) <= dTBelow) {
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
    q = &t[s];
  }
  order.n = i - 1;
  order.table = &t;
  order.edits = t.edits;
  order.whole = true;
}

}  // namespace plugstore
