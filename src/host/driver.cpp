#include "host/driver.h"

#include <algorithm>
#include <cmath>

#include "plugs/diagnostics.h"
#include "plugs/flow.h"
#include "solver/solver.h"
#include "store/plug_table.h"

namespace plugstore {

namespace {

// Plug-table dumps are taken only from this simulation time (hours) on.
constexpr double kDumpFromTime = 1e10;

// An attempt that has to give up is started again with this many times as
// many sub-steps.
constexpr int kRetryFactor = 4;

std::size_t at(int i) { return static_cast<std::size_t>(i); }

// A heat input acts when it sits inside the store and delivers heat.
bool anyHeatInput(const Store& s) {
  for (int i = 0; i < kNumHeatInputs; ++i) {
    const auto ui = static_cast<std::size_t>(i);
    if (s.zHeatA[ui] > 0.0 && s.qHeatA[ui] != 0.0) return true;
    if (s.zHeatB[ui] > 0.0 && s.qHeatB[ui] != 0.0) return true;
  }
  return false;
}

// Conduction, losses, heat exchangers and heat inputs; without any of them
// the plugs keep the temperatures the flow left.
bool heatRuns(const Store& s) {
  return s.lambda > 0.0 || s.sumUApar > 0.0 || hxInUse(s) > 0 || anyHeatInput(s);
}

bool anyPortFlows(const State& st) {
  for (const DirectPort& port : st.ports) {
    if (portActive(port)) return true;
  }
  return false;
}

template <typename F>
void forEachPlug(State& st, F f) {
  PlugTable& t = st.plugs;
  int p = t.first();
  for (int guard = 0; guard < kPlugRecords && t[p].Cap > 0.0; ++guard) {
    const int up = t[p].iUp;
    f(p, t[p]);
    p = up;
  }
}

// The CV fluid temperatures a sub-step leaves become the next one's start.
void advanceCvTemperatures(State& st) {
  for (int k = 0; k < hxInUse(st.store); ++k) {
    HxRecord& hx = st.hx[at(k)];
    if (!subStepArraysFit(hx)) continue;
    for (int b = 1; b <= hx.numberOfHxCv; ++b) {
      hx.tCvOld[at(b)] = (hx.tNode[at(b)] + hx.tNode[at(b + 1)]) / 2.0;
    }
  }
}

template <typename Member>
void copyCvArray(State& st, Member to, Member from) {
  for (int k = 0; k < hxInUse(st.store); ++k) {
    HxRecord& hx = st.hx[at(k)];
    if (!subStepArraysFit(hx)) continue;
    for (int b = 1; b <= hx.numberOfHxCv; ++b) (hx.*to)[at(b)] = (hx.*from)[at(b)];
  }
}

// From here on the call is cut into sub-steps: its results are summed.
void beginSpread(State& st) {
  SubStepWork& w = st.sub;
  if (w.spread) return;
  w.spread = true;
  w.first = true;
  w.sums = SubStepWork::Sums{};
  copyCvArray(st, &HxRecord::tCvCall, &HxRecord::tCvOld);
}

// Before a heat sub-step of a cut call: the plug heat flows reached so far,
// by record, so that the sub-step's own flows add to them.
void keepPlugFlows(State& st) {
  SubStepWork& w = st.sub;
  const bool first = w.first;
  forEachPlug(st, [&w, first](int p, const Plug& plug) {
    w.qV[at(p)] = first ? 0.0 : plug.qV;
    w.qL[at(p)] = first ? 0.0 : plug.qL;
    w.qA[at(p)] = first ? 0.0 : plug.qA;
    w.sL[at(p)] = first ? 0.0 : plug.sL;
  });
}

void addPlugFlows(State& st, double share) {
  const SubStepWork& w = st.sub;
  forEachPlug(st, [&w, share](int p, Plug& plug) {
    plug.qV = w.qV[at(p)] + share * plug.qV;
    plug.qL = w.qL[at(p)] + share * plug.qL;
    plug.qA = w.qA[at(p)] + share * plug.qA;
    plug.sL = w.sL[at(p)] + plug.sL;
  });
}

// A trial that gave up leaves the plugs as the sub-step found them.
void undoSubStep(State& st) {
  const SubStepWork& w = st.sub;
  const bool spread = w.spread;
  forEachPlug(st, [&w, spread](int p, Plug& plug) {
    plug.Temp = plug.TempStart;
    if (spread) plug.qV = w.qV[at(p)];
  });
}

void addSubStepResults(State& st, double share) {
  SubStepWork::Sums& s = st.sub.sums;
  const SolverWork& w = st.solver;
  s.sumQV += share * w.sumQV;
  s.sumQLoss += share * w.sumQLoss;
  s.sLossStep += w.sumSL;
  for (int k = 0; k < hxInUse(st.store); ++k) {
    for (std::size_t r = 0; r < kHxStepResults.size(); ++r) {
      s.hx[at(k)][r] += share * st.hx[at(k)].*kHxStepResults[r];
    }
  }
}

// Mixing after the heat: a plug left warmer than the one above merges.
void mixAfterHeat(State& st, HostServices& host) {
  dumpPlugTable(st, st.dumpUnit, "70_afterDiffuse", st.sw.dumpSwitch);
  if ((st.store.cleanSwitch & 1) != 0) sortPlugs(st, host, 0);
  dumpPlugTable(st, st.dumpUnit, "80_afterMix", st.sw.dumpSwitch);
}

// Solver and mixing over h seconds, `share` of the call's step; false when
// a trial gave up.
bool heatSubStep(State& st, HostServices& host, double h, double share, bool trial) {
  SubStepWork& w = st.sub;
  if (w.spread) keepPlugFlows(st);
  const int n = chainOrder(st);
  st.store.nPlugsSolver = n;
  st.solver.trial = trial;
  const bool done = solveCondHx(st, host, n, h);
  st.solver.trial = false;
  if (!done) {
    undoSubStep(st);
    return false;
  }
  if (w.spread) {
    addPlugFlows(st, share);
    addSubStepResults(st, share);
    w.first = false;
  }
  mixAfterHeat(st, host);
  return true;
}

// The heat part over h seconds, `share` of the call's step, in k equal
// sub-steps; an attempt in which a sub-step gives up is started again with
// more of them.
void heatPart(State& st, HostServices& host, double h, double share, int k) {
  SubStepWork& w = st.sub;
  for (;;) {
    const bool last = k >= SubStepWork::kMaxSubSteps;
    if (k > 1) {
      beginSpread(st);
      w.attempt = st.plugs;
      w.attemptSums = w.sums;
      copyCvArray(st, &HxRecord::tCvAttempt, &HxRecord::tCvOld);
    }
    const bool firstBefore = w.first;
    bool done = true;
    for (int j = 1; j <= k && done; ++j) {
      st.solver.remaining = k - j + 1;
      done = heatSubStep(st, host, h / k, share / k, !last);
      if (done && j < k) advanceCvTemperatures(st);
    }
    if (done) {
      w.sums.heatSubSteps += k;
      return;
    }
    if (w.reason == 0 || w.reason == 1) w.reason = st.solver.limitAvoidable ? 2 : 3;
    if (k > 1) {
      st.plugs = w.attempt;
      w.sums = w.attemptSums;
      w.first = firstBefore;
      copyCvArray(st, &HxRecord::tCvOld, &HxRecord::tCvAttempt);
    }
    // A plug that left the range asks for as many sub-steps as keep its own
    // rise within reach of the limit; a swinging coupling for a few times more.
    const double growth = st.solver.limitAvoidable
                              ? std::max<double>(kRetryFactor, st.solver.limitGrowth)
                              : kRetryFactor;
    k = static_cast<int>(std::min<double>(k * growth, SubStepWork::kMaxSubSteps));
  }
}

// The whole call, flow included, in k sub-steps that each move 1/k of every
// port's fluid, so that fluid passing a coil exchanges heat on its way.
void flowAndHeatInSubSteps(State& st, HostServices& host, int k) {
  SubStepWork& w = st.sub;
  beginSpread(st);
  w.ports = st.ports;
  const double dt = st.store.dtSec;
  for (int j = 1; j <= k; ++j) {
    for (std::size_t d = 0; d < st.ports.size(); ++d) {
      DirectPort& port = st.ports[d];
      port.zIn = w.ports[d].zIn;
      port.zOut = w.ports[d].zOut;
      port.capFlow = w.ports[d].capFlow / k;
    }
    if (j > 1) dumpPlugTable(st, st.dumpUnit, "00_start", st.sw.dumpSwitch);
    calculateFlow(st, host);
    for (std::size_t d = 0; d < st.ports.size(); ++d) {
      if (portActive(st.ports[d])) w.sums.tOut[d] += st.ports[d].tOut / k;
    }
    heatPart(st, host, dt / k, 1.0 / k, 1);
    if (j < k) advanceCvTemperatures(st);
  }
  for (std::size_t d = 0; d < st.ports.size(); ++d) {
    DirectPort& port = st.ports[d];
    port.capFlow = w.ports[d].capFlow;
    if (portActive(port)) port.tOut = w.sums.tOut[d];
  }
}

// A cut call reports its whole step: the Hx results become the means over
// the sub-steps, and the CV fluid goes back to the start of the step, so
// that another iteration of the host starts from the same state.
void finishSpread(State& st, HostServices& host) {
  SubStepWork& w = st.sub;
  for (int k = 0; k < hxInUse(st.store); ++k) {
    HxRecord& hx = st.hx[at(k)];
    if (!subStepArraysFit(hx)) continue;
    for (std::size_t r = 0; r < kHxStepResults.size(); ++r) {
      hx.*kHxStepResults[r] = w.sums.hx[at(k)][r];
    }
  }
  hxResults(st);
  copyCvArray(st, &HxRecord::tCvOld, &HxRecord::tCvCall);

  if (w.noticed) return;
  w.noticed = true;
  const double hours = st.store.dtSec / 3600.0 / w.sums.heatSubSteps;
  TextLine text;
  text << "Time step cut into " << static_cast<int>(w.sums.heatSubSteps)
       << " sub-steps of the heat part (" << std::round(hours * 1e6) / 1e6 << " h) at time "
       << st.store.time << " h: ";
  if (w.reason == 1) {
    text << "heat exchanger " << static_cast<int>(w.reasonHx)
         << " exchanges UA x step = " << std::round(w.ratio * 100.0) / 100.0
         << " times the capacitance of the plugs around it";
  } else if (w.reason == 2) {
    text << "a plug would otherwise leave 0.1 ... 100 degC";
  } else {
    text << "the coupling of heat exchangers and plugs would otherwise not converge";
  }
  text << ". Later cut steps are not reported.";
  report(st, host, "NOTICE", text.view());
}

}  // namespace

void runTimeStep(State& st, HostServices& host) {
  Store& s = st.store;
  SubStepWork& w = st.sub;
  w.spread = false;
  w.limitReported = false;
  w.reason = 0;
  st.sw.dumpSwitch = s.time >= kDumpFromTime ? -1 : 0;
  dumpPlugTable(st, st.dumpUnit, "00_start", st.sw.dumpSwitch);
  st.bal.dtSec = s.dtSec;

  // Fluid that flows past a strongly coupled coil has to exchange heat on
  // its way: then the flow, too, moves in sub-steps.
  if (heatRuns(s) && anyPortFlows(st)) {
    const SubStepNeed need = couplingSubSteps(st, s.dtSec);
    if (need.k > 1) {
      w.reason = 1;
      w.reasonHx = need.hx;
      w.ratio = need.ratio;
      flowAndHeatInSubSteps(st, host, need.k);
      finishSpread(st, host);
      return;
    }
  }

  calculateFlow(st, host);
  if (!heatRuns(s)) {
    // (The heat part counts the plugs it solves for itself.)
    s.nPlugsSolver = countPlugs(st.plugs);
    // No heat flows in this call: none of an earlier call may be reported.
    forEachPlug(st, [](int, Plug& plug) { plug.qV = plug.qL = plug.qA = plug.sL = 0.0; });
    mixAfterHeat(st, host);
    return;
  }
  const SubStepNeed need = couplingSubSteps(st, s.dtSec);
  if (need.k > 1) {
    w.reason = 1;
    w.reasonHx = need.hx;
    w.ratio = need.ratio;
  }
  heatPart(st, host, s.dtSec, 1.0, need.k);
  if (w.spread) finishSpread(st, host);
}

}  // namespace plugstore
