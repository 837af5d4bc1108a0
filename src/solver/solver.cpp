// Fixed-point iteration that couples the heat exchangers with the implicit
// conduction and loss solve, and the loss and balance terms after it.
#include "solver/solver.h"

#include <algorithm>
#include <cmath>

#include "store/plug_table.h"
#include "store/setup.h"

namespace plugstore {
namespace {

std::size_t at(int i) { return static_cast<std::size_t>(i); }

void iterationLine(const State& st, HostServices& host) {
  if (st.sw.debugLogSwitch != 1) return;
  host.debugLine(
      listLine("DB(STRATVAN): SOLVER COND+HX nIte", st.solver.ite, "ERROR", st.solver.errSolver)
          .view());
}

// Without heat exchangers the next iteration solves the system of this one
// again: the heat inputs, the capacitances, the loss UA and (without a
// temperature barrier) the conductances are the same, and with a
// relaxation of 1 its iterate is this one's. When this solution limited no
// plug and wrote no line, the next iteration changes nothing and converges.
bool nextIterationRepeats(const State& st) {
  const SolverWork& w = st.solver;
  const Store& s = st.store;
  const double sumUApar = s.uaBottom + s.uaSide1 + s.uaSide2 + s.uaSide3 + s.uaTop;
  return hxInUse(s) == 0 && s.hxActive == 0 && s.relaxNoHx == 1.0 && s.barrierMode != 2 &&
         !w.limited && w.ite < s.iteMaxNoHx && st.sw.debugLogSwitch != 1 &&
         st.sw.consistencyCheckSwitch != -1 && !(std::fabs(sumUApar - w.sumUA) > 0.001);
}

}  // namespace

// Logarithmic mean temperature difference and effectiveness of every Hx.
void hxResults(State& st) {
  for (int k = 0; k < hxInUse(st.store); ++k) {
    HxRecord& hx = st.hx[at(k)];
    if (hx.mDotHx > kMDotMin) {
      hx.lmtd = logMeanTempDiff(hx.tInHx, hx.tOutHx, hx.tStoreMean);
      const double approach = hx.tInHx - hx.tStoreMean;
      hx.effectiveness = std::fabs(approach) < 0.1 ? 0.0 : (hx.tInHx - hx.tOutHx) / approach;
    } else {
      hx.lmtd = 0.0;
      hx.effectiveness = 0.0;
    }
  }
}

namespace {

// Loss, accumulation and loss entropy of every plug, and the power balance.
void plugResults(State& st, HostServices& host, int n, double dt) {
  PlugTable& t = st.plugs;
  const double tAmb = st.store.tAmb;
  double sumQV = 0.0;
  double sumQLoss = 0.0;
  double sumQAcum = 0.0;
  double sumSL = 0.0;
  for (int i = 1; i <= n; ++i) {
    Plug& plug = t[st.chain.at(i)];
    const double uaLoss = st.solver.lossUA[at(i)];
    plug.qL = (plug.Temp - tAmb) * uaLoss;
    plug.qA = (plug.Temp - plug.TempStart) * plug.CapSolver / dt;
    plug.sL = dt * plug.qL / (plug.TempStart - plug.qV * dt / plug.CapSolver + 273.15);
    sumQV += plug.qV;
    sumQLoss += plug.qL;
    sumQAcum += plug.qA;
    sumSL += plug.sL;
  }
  st.solver.sumQV = sumQV;
  st.solver.sumQLoss = sumQLoss;
  st.solver.sumSL = sumSL;
  const double bal = sumQV - sumQLoss - sumQAcum;
  const double scale = std::max({std::fabs(sumQV), std::fabs(sumQLoss), std::fabs(sumQAcum)});
  const double errPct = std::fabs(bal * 100.0 / scale);
  if (errPct > 1.0 && st.sw.consistencyCheckSwitch == -1 && bal > 1e-6) {
    host.debugLine(listLine("Error GLOBAL balance power  [W]  bal=", bal, " sumQV=", sumQV,
                            " sumQLoss=", sumQLoss, " sumQAcum=", sumQAcum)
                       .view());
  }
}

}  // namespace

double logMeanTempDiff(double t1, double t2, double tRef) {
  const double d1 = t1 - tRef;
  const double d2 = t2 - tRef;
  if (d1 == d2 || d1 < 1e-15 || d2 < 1e-15 || d1 * d2 < 1e-15) return 0.0;
  return (d1 - d2) / std::log(d1 / d2);
}

double maxAbsChange(std::span<const double> a, std::span<const double> b, int n) {
  double m = 0.0;
  for (int i = 1; i <= n; ++i) m = std::max(m, std::fabs(a[at(i)] - b[at(i)]));
  return m;
}

bool solveCondHx(State& st, HostServices& host, int n, double dt) {
  SolverWork& w = st.solver;
  PlugTable& t = st.plugs;
  n = std::clamp(n, 0, SolverWork::kSize - 1);
  const bool hxActive = st.store.hxActive != 0;
  const int iteMax = hxActive ? st.store.iteMaxHx : st.store.iteMaxNoHx;
  const double relax = hxActive ? st.store.relaxHx : st.store.relaxNoHx;
  const int nHx = hxInUse(st.store);
  w.ite = 0;
  w.solverStatus = 0;

  // The solver changes temperatures and heat flows only, never the chain.
  takeChainOrder(t, n, st.chain);
  for (int i = 1; i <= n; ++i) {
    Plug& plug = t[st.chain.at(i)];
    plug.TempStart = plug.Temp;
    w.tStartArr[at(i)] = plug.Temp;
    w.tIter[at(i)] = plug.Temp;
    w.tPrev[at(i)] = plug.Temp;  // that of the first iteration
  }
  if (st.sw.debugLogSwitch == 1) host.debugLine("DB(STRATVAN): START SOLVER COND+HX");

  double errBefore = 0.0;  // change of the iteration before
  while (w.ite < iteMax) {
    ++w.ite;
    if (w.ite > 1) std::copy_n(w.tIter.begin(), n + 1, w.tPrev.begin());

    // The Hx see the plugs' unrelaxed temperatures of the last solve.
    for (int k = 0; k < nHx; ++k) {
      HxRecord& hx = st.hx[at(k)];
      if (!hxArraysFit(hx)) continue;
      copyTankDataToHEx(st, host, hx);
      stepBystep(st, host, hx, dt);
    }
    passHeatToPlugs(st, host, nHx);
    solveConduction(st, host, dt, w.ite > 1);
    if (w.limitAvoidable) return false;

    // Only the iterate is relaxed; the plugs keep the solution itself. The
    // largest change is that of maxAbsChange, taken in the same pass.
    double change = 0.0;
    if (relax == 1.0) {
      // 1 x t + 0 x tPrev is t: the solution lies within 0.1 ... 100 degC
      // and tPrev is finite (a plug that began the call at a value that is
      // not would have made the solution diverge).
      for (int i = 1; i <= n; ++i) {
        change = std::max(change, std::fabs(w.tPrev[at(i)] - w.tIter[at(i)]));
      }
    } else {
      for (int i = 1; i <= n; ++i) {
        const double relaxed = relax * w.tIter[at(i)] + (1.0 - relax) * w.tPrev[at(i)];
        w.tIter[at(i)] = relaxed;
        change = std::max(change, std::fabs(w.tPrev[at(i)] - relaxed));
      }
    }
    w.errSolver = change;

    if (kTolSolver > w.errSolver) {
      w.solverStatus = 1;
      iterationLine(st, host);
      break;
    }
    if (w.errSolver > kDivergenceLimit) {
      w.solverStatus = 2;
      fatalStop(st, host, "Fatal", "PLUG FLOW MODEL HAS DIVERGED");
    }
    if (w.ite >= iteMax) {
      w.solverStatus = 3;
      // The change no longer shrinks: the coupling is too strong for the
      // step and swings or creeps; shorter sub-steps converge.
      if (w.trial && w.errSolver > kTolSolver && w.errSolver > kContraction * errBefore) {
        return false;
      }
      if (st.sw.consistencyCheckSwitch == -1) {
        host.debugLine(listLine("STORAGE+QV MAX NUM ITERATION with ite =", w.ite,
                                " ERROR=", w.errSolver, " relax=", relax)
                           .view());
      }
      iterationLine(st, host);
      break;
    }
    w.solverStatus = 0;
    iterationLine(st, host);
    errBefore = w.errSolver;
    if (nextIterationRepeats(st)) {
      // It would solve the same system to the same temperatures: a change
      // of 0, converged.
      ++w.ite;
      w.errSolver = 0.0;
      w.solverStatus = 1;
      break;
    }
  }

  hxResults(st);
  plugResults(st, host, n, dt);
  return true;
}

}  // namespace plugstore
