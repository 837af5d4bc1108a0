#include "plugs/flow.h"

#include <array>
#include <cmath>

#include "plugs/diagnostics.h"
#include "store/plug_table.h"

namespace plugstore {

namespace {

void banner(const State& st, HostServices& host, const char* text) {
  if (st.sw.debugLogSwitch == 1) host.debugLine(text);
}

void check(const State& st, HostServices& host, const char* tag) {
  if (st.sw.consistencyCheckSwitch != -1) return;
  if (checkPlugConsistency(st, host) == 0) {
    host.debugLine(listLine("TIME=", st.store.time, tag).view());
  }
}

void dump(const State& st, const char* label) {
  if (st.sw.dumpSwitch == -1) dumpPlugTable(st, st.dumpUnit, label, st.sw.dumpSwitch);
}

// Lowest plug with zUp >= z, or a record with Cap <= 0 when there is none.
int plugReachingHeight(const PlugTable& t, int32_t z) {
  int p = t.first();
  for (int k = 0; k < kPlugRecords && t[p].Cap > 0.0; ++k, p = t[p].iUp) {
    if (t[p].zUp >= z) return p;
  }
  return kTopSentinel;
}

// Splits the plug that a port height cuts, so the height becomes a boundary.
void splitAt(State& st, HostServices& host, int32_t z) {
  const int p = plugReachingHeight(st.plugs, z);
  const Plug& q = st.plugs[p];
  if (q.Cap > 0.0 && q.zDown < z && z < q.zUp) splitPlug(st, host, p, z);
}

}  // namespace

int plugAboveHeight(const PlugTable& t, int32_t z) {
  int p = t.first();
  for (int k = 0; k < kPlugRecords && t[p].Cap > 0.0; ++k, p = t[p].iUp) {
    if (t[p].zDown >= z) return p;
  }
  return kTopSentinel;
}

void separateOutlets(State& st) {
  const int32_t step = st.store.zTop / 1000;
  for (DirectPort& out : st.ports) {
    if (out.zIn < 0 || !(out.mDot > 0.0)) continue;
    const int32_t shift = out.zOut <= st.store.zTop / 2 ? step : -step;
    // The outlet moves one way only, so each inlet is passed at most once.
    bool moved = true;
    while (moved) {
      moved = false;
      for (const DirectPort& in : st.ports) {
        if (in.zIn >= 0 && out.zOut == in.zIn) {
          out.zOut += shift;
          moved = true;
        }
      }
    }
  }
}

void splitAtPortHeights(State& st, HostServices& host) {
  for (const DirectPort& port : st.ports) {
    if (portActive(port)) splitAt(st, host, port.zOut);
  }
  for (const DirectPort& port : st.ports) {
    if (portActive(port)) splitAt(st, host, port.zIn);
  }
}

void faceFlows(State& st) {
  PlugTable& t = st.plugs;
  std::array<const DirectPort*, kNumPorts> active{};  // in the order of the ports
  std::size_t nActive = 0;
  for (const DirectPort& port : st.ports) {
    if (portActive(port)) active[nActive++] = &port;
  }
  const int n = chainOrder(st);
  st.bal.nPlugsFlow = n;
  // Without an active port every face flow becomes +0.0: nothing to do when
  // they all are already.
  if (nActive == 0 && t.flowsZero) return;
  for (int i = 1; i <= n; ++i) {
    Plug& q = t[st.chain.at(i)];
    q.Flow = 0.0;
    for (std::size_t a = 0; a < nActive; ++a) {
      const DirectPort& port = *active[a];
      if (port.zIn < q.zUp) q.Flow += port.mDot;
      if (port.zOut < q.zUp) q.Flow -= port.mDot;
    }
  }
  t.flowsZero = nActive == 0;
}

void shareOutletFlows(State& st) {
  const PlugTable& t = st.plugs;
  for (DirectPort& port : st.ports) {
    if (!portActive(port)) continue;
    const int m = plugAboveHeight(t, port.zOut);
    if (t[m].Cap <= 0.0) continue;  // nothing above the outlet: left as it is
    const double flowTop = t[m].Flow;
    const double flowBelow = t[t[m].iDown].Flow;
    if (-flowTop >= port.mDot - 1e-10) {
      port.capAbove = port.capFlow;
    } else if (flowBelow >= port.mDot - 1e-10) {
      port.capAbove = 0.0;
    } else {
      port.capAbove = std::fabs(flowTop / (flowTop - flowBelow)) * port.capFlow;
    }
  }
}

void drawPorts(State& st, HostServices& host) {
  for (DirectPort& port : st.ports) {
    if (!portActive(port)) continue;
    const int m = plugAboveHeight(st.plugs, port.zOut);
    if (st.plugs[m].Cap > 0.0) {
      port.tOut = drawAtOutlet(st, host, port.capAbove, port.capFlow - port.capAbove, m);
    } else {
      // An outlet above every plug (a reversed port at the very top): the
      // fluid can only come from below, and it must be taken so the store
      // keeps its capacitance when the returned fluid goes in.
      port.tOut = drawAtOutlet(st, host, 0.0, port.capFlow, kTopSentinel);
    }
  }
}

void calculateFlow(State& st, HostServices& host) {
  banner(st, host, "DB(STRATVAN): FLOW CALCULATION BEGIN");

  separateOutlets(st);
  // Without an active port the stages 2a/2b, 3, 4 and the insertion find
  // nothing to do (each of them looks at the active ports only).
  bool anyActive = false;
  for (const DirectPort& port : st.ports) anyActive = anyActive || portActive(port);
  if (anyActive) splitAtPortHeights(st, host);
  faceFlows(st);
  banner(st, host, "DB(STRATVAN): FLOW CALCULATION AFTER FLOW DIR");
  dump(st, "10_afterFlowDir");
  check(st, host, "AFTER FLOW DIR");

  if (anyActive) shareOutletFlows(st);
  banner(st, host, "DB(STRATVAN): FLOW CALCULATION AFTER STORE");
  check(st, host, "AFTER STORE");

  if (anyActive) drawPorts(st, host);
  banner(st, host, "DB(STRATVAN): FLOW CALCULATION AFTER REMOVE");
  dump(st, "20_afterRemove");

  for (int d = 0; d < kNumPorts && anyActive; ++d) {
    if (portActive(st.ports[static_cast<std::size_t>(d)])) insertAtInlet(st, host, d);
  }
  banner(st, host, "DB(STRATVAN): FLOW CALCULATION AFTER INSERT");
  dump(st, "30_afterInsert");

  sortPlugs(st, host, -1);
  dump(st, "40_afterSort");
  banner(st, host, "DB(STRATVAN): FLOW CALCULATION AFTER SORT");

  adjustHeights(st, host);
  dump(st, "50_afterAdjust");
  check(st, host, " AFTER ADJUST");
  banner(st, host, "DB(STRATVAN): FLOW CALCULATION AFTER ADJUST");

  if (st.store.cleanSwitch == -1) {
    cleanPlugs(st, host, st.store.minPlugHeight, st.store.maxPlugHeight, st.store.minDeltaT);
  }
  dump(st, "60_afterClean");
  check(st, host, " CHECK PLUG CONSISTENCY AFTER CLEAN");
  banner(st, host, "DB(STRATVAN): FLOW CALCULATION AFTER CLEAN");
}

}  // namespace plugstore
