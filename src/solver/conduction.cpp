// The implicit conduction and loss system of the plug stack.
#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>

#include "solver/solver.h"
#include "store/plug_table.h"

namespace plugstore {
namespace {

constexpr double kTempLow = 0.1;     // degC
constexpr double kTempHigh = 100.0;  // degC

std::size_t at(int i) { return static_cast<std::size_t>(i); }

// True when shorter sub-steps can keep plug i, which left the range in this
// solution, inside it: its start was inside, and the plugs it would mix with
// (those above a plug that became too hot, as warm water rises; those below
// one that became too cold) have room for the heat beyond the limit, also
// for the heat of the sub-steps still to come in this call. Sets the growth
// of sub-steps that would keep the plug's own rise within its room.
bool roomToMix(SolverWork& w, int n, int i) {
  const double t0 = w.tStartArr[at(i)];
  if (t0 < kTempLow || t0 > kTempHigh) return false;
  const bool hot = w.tNew[at(i)] > kTempHigh;
  const double limit = hot ? kTempHigh : kTempLow;
  double room = 0.0;
  double heat = 0.0;
  for (int j = i; j >= 1 && j <= n; j += hot ? 1 : -1) {
    room += (limit - w.tNew[at(j)]) * w.capArr[at(j)];
    heat += (w.tNew[at(j)] - w.tStartArr[at(j)]) * w.capArr[at(j)];
  }
  if (!hot) {
    room = -room;
    heat = -heat;
  }
  const double later = heat * (w.remaining - 1);
  if (!(room - later >= 0.0)) return false;
  const double rise = std::fabs(w.tNew[at(i)] - t0);
  const double margin = std::fabs(limit - t0);
  w.limitGrowth = margin > 0.0 ? std::ceil(2.0 * rise / margin) : 4.0;
  return true;
}

}  // namespace

double plugLossUA(const State& st, int p) {
  const Store& s = st.store;
  const PlugTable& t = st.plugs;
  const Plug& plug = t[p];
  const int32_t z1 = s.zTop / 3;
  const int32_t z2 = (2 * s.zTop) / 3;
  // The three zones are each divided by z1, so a plug covering the top zone
  // (one unit higher) gets a little more than uaSide3.
  const double zone = static_cast<double>(z1);
  double ua = 0.0;
  const int32_t o1 = std::min(plug.zUp, z1) - std::max(plug.zDown, 0);
  if (o1 > 0) ua += static_cast<double>(o1) / zone * s.uaSide1;
  const int32_t o2 = std::min(plug.zUp, z2) - std::max(plug.zDown, z1);
  if (o2 > 0) ua += static_cast<double>(o2) / zone * s.uaSide2;
  const int32_t o3 = std::min(plug.zUp, s.zTop) - std::max(plug.zDown, z2);
  if (o3 > 0) ua += static_cast<double>(o3) / zone * s.uaSide3;
  if (t[plug.iUp].Cap <= 0.0) {
    ua += s.uaTop;
  } else if (t[plug.iDown].Cap <= 0.0) {
    ua += s.uaBottom;
  }
  return ua;
}

double interfaceConductance(const State& st, int c, int h) {
  const Store& s = st.store;
  const Plug& pc = st.plugs[c];
  const Plug& ph = st.plugs[h];
  if (s.barrierMode < 0 || s.barrierMode > 2) return 0.0;  // conduction switched off
  const double lambdaA = s.lambda * s.A;
  if (!(lambdaA > 0.0)) return 0.0;  // no conductivity, no conduction, barrier or not

  // Centre distance of the two plugs. Two plugs of zero height at the same
  // level would have none; they are taken one height unit apart, the
  // smallest distance the height scale resolves.
  const int32_t span = std::max(ph.zUp - pc.zDown, 1);
  const double dx = static_cast<double>(span) * s.height / (2.0 * s.zTop);

  bool barrier = false;
  if (s.barrierMode == 1) {
    const int32_t zc = (pc.zDown + pc.zUp) / 2;
    const int32_t zh = (ph.zUp + ph.zDown) / 2;
    barrier = zc <= s.zBarrier && s.zBarrier < zh;
  } else if (s.barrierMode == 2) {
    barrier = pc.Temp <= s.tBarrier && s.tBarrier < ph.Temp;
  }
  if (!barrier) return lambdaA / dx;
  // A barrier without conductance insulates completely.
  if (!(s.uaBarrier > 0.0)) return 0.0;
  return 1.0 / (1.0 / s.uaBarrier + dx / lambdaA);
}

void solveTridiagonal(int n, std::span<const double> tOld, std::span<const double> qSrc,
                      std::span<const double> uaArr, std::span<const double> tAmbArr,
                      std::span<const double> kCond, std::span<const double> capArr,
                      std::span<double> diag, std::span<double> rhs, std::span<double> t) {
  if (n <= 0) return;
  // Diagonal and right-hand side; the off-diagonals are -kCond.
  for (int i = 1; i <= n; ++i) {
    double d = capArr[at(i)] + uaArr[at(i)];
    if (i > 1) d += kCond[at(i - 1)];
    if (i < n) d += kCond[at(i)];
    diag[at(i)] = d;
    rhs[at(i)] = capArr[at(i)] * tOld[at(i)] + uaArr[at(i)] * tAmbArr[at(i)] + qSrc[at(i)];
  }
  for (int i = 2; i <= n; ++i) {
    const double m = -kCond[at(i - 1)] / diag[at(i - 1)];
    diag[at(i)] = diag[at(i)] - m * -kCond[at(i - 1)];
    rhs[at(i)] = rhs[at(i)] - m * rhs[at(i - 1)];
  }
  t[at(n)] = rhs[at(n)] / diag[at(n)];
  for (int i = n - 1; i >= 1; --i) {
    t[at(i)] = (rhs[at(i)] - -kCond[at(i)] * t[at(i + 1)]) / diag[at(i)];
  }
}

namespace {

bool sameBits(double a, double b) {
  return std::bit_cast<uint64_t>(a) == std::bit_cast<uint64_t>(b);
}

}  // namespace

void solveKeptTridiagonal(SolverWork& w, int n) {
  if (n <= 0) return;
  SolverWork::Elimination& e = w.kept;
  for (int i = 1; i <= n; ++i) {
    double d = w.capArr[at(i)] + w.uaArr[at(i)];
    if (i > 1) d += w.kCond[at(i - 1)];
    if (i < n) d += w.kCond[at(i)];
    w.diag[at(i)] = d;
    w.rhs[at(i)] =
        w.capArr[at(i)] * w.tStartArr[at(i)] + w.uaArr[at(i)] * w.tAmbArr[at(i)] + w.qSrc[at(i)];
  }
  // Rows 1 ... same eliminate as in the solve before.
  int same = 0;
  const int known = std::min(n, static_cast<int>(e.n));
  while (same < known) {
    const int i = same + 1;
    if (!sameBits(w.diag[at(i)], e.diagIn[at(i)])) break;
    if (i > 1 && !sameBits(w.kCond[at(i - 1)], e.kBelow[at(i)])) break;
    same = i;
  }
  if (same == 0) {
    e.diagIn[1] = w.diag[1];
    e.diagOut[1] = w.diag[1];
    same = 1;
  }
  for (int i = 2; i <= same; ++i) w.diag[at(i)] = e.diagOut[at(i)];
  w.diag[1] = e.diagOut[1];
  for (int i = same + 1; i <= n; ++i) {
    e.diagIn[at(i)] = w.diag[at(i)];
    e.kBelow[at(i)] = w.kCond[at(i - 1)];
    const double m = -w.kCond[at(i - 1)] / w.diag[at(i - 1)];
    w.diag[at(i)] = w.diag[at(i)] - m * -w.kCond[at(i - 1)];
    e.m[at(i)] = m;
    e.diagOut[at(i)] = w.diag[at(i)];
  }
  e.n = n;
  for (int i = 2; i <= n; ++i) w.rhs[at(i)] = w.rhs[at(i)] - e.m[at(i)] * w.rhs[at(i - 1)];
  w.tNew[at(n)] = w.rhs[at(n)] / w.diag[at(n)];
  for (int i = n - 1; i >= 1; --i) {
    w.tNew[at(i)] = (w.rhs[at(i)] - -w.kCond[at(i)] * w.tNew[at(i + 1)]) / w.diag[at(i)];
  }
}

namespace {

// The store's quantities that the loss UA and the conductances use; when
// one of them differs, bit for bit, from those the kept terms came from,
// none of the kept terms holds.
void checkTermsInputs(State& st) {
  const Store& s = st.store;
  SolverWork& w = st.solver;
  const std::array<double, SolverWork::kTermsInputs> now = {s.uaSide1,
                                                            s.uaSide2,
                                                            s.uaSide3,
                                                            s.uaTop,
                                                            s.uaBottom,
                                                            s.lambda,
                                                            s.A,
                                                            s.height,
                                                            static_cast<double>(s.zTop),
                                                            s.uaBarrier,
                                                            static_cast<double>(s.barrierMode),
                                                            static_cast<double>(s.zBarrier)};
  bool same = w.termsEpoch != 0;
  for (std::size_t i = 0; i < now.size() && same; ++i) {
    same = std::bit_cast<uint64_t>(now[i]) == std::bit_cast<uint64_t>(w.termsInputs[i]);
  }
  if (same) return;
  w.termsInputs = now;
  ++w.termsEpoch;
  if (w.termsEpoch == 0) {  // wrapped: the epochs kept by the records may come back
    w.terms.fill({});
    w.termsEpoch = 1;
  }
}

// plugLossUA of record p, kept while its heights and its place at an end of
// the chain stay the same.
double keptLossUA(State& st, int p) {
  const PlugTable& t = st.plugs;
  const Plug& plug = t[p];
  SolverWork& w = st.solver;
  SolverWork::PlugTerms& k = w.terms[static_cast<std::size_t>(p)];
  const int32_t end = t[plug.iUp].Cap <= 0.0 ? 1 : (t[plug.iDown].Cap <= 0.0 ? 2 : 0);
  if (k.lossEpoch != w.termsEpoch || k.zDown != plug.zDown || k.zUp != plug.zUp || k.end != end) {
    k.lossUA = plugLossUA(st, p);
    k.zDown = plug.zDown;
    k.zUp = plug.zUp;
    k.end = end;
    k.lossEpoch = w.termsEpoch;
  }
  return k.lossUA;
}

// interfaceConductance of record c and the plug above it, kept while the
// heights of both stay the same; a temperature barrier makes it depend on
// the temperatures, and then it is worked out every time. Without a barrier
// at a height it depends on the span from the bottom of c to the top of the
// plug above alone, and holds while that stays the same: plugs that move
// up or down together keep it.
double keptConductance(State& st, int c) {
  const PlugTable& t = st.plugs;
  const Plug& pc = t[c];
  const Plug& ph = t[pc.iUp];
  const int32_t mode = st.store.barrierMode;
  if (mode == 2) return interfaceConductance(st, c, pc.iUp);
  SolverWork& w = st.solver;
  SolverWork::PlugTerms& k = w.terms[static_cast<std::size_t>(c)];
  if (mode != 1) {
    const int64_t span = int64_t{ph.zUp} - int64_t{pc.zDown};
    if (k.condEpoch != w.termsEpoch || k.spanCond != span) {
      k.conductance = interfaceConductance(st, c, pc.iUp);
      k.spanCond = span;
      k.zDownCond = k.zUpCond = k.zDownAbove = k.zUpAbove = -1;  // no heights kept
      k.condEpoch = w.termsEpoch;
    }
    return k.conductance;
  }
  if (k.condEpoch != w.termsEpoch || k.zDownCond != pc.zDown || k.zUpCond != pc.zUp ||
      k.zDownAbove != ph.zDown || k.zUpAbove != ph.zUp) {
    k.conductance = interfaceConductance(st, c, pc.iUp);
    k.zDownCond = pc.zDown;
    k.zUpCond = pc.zUp;
    k.zDownAbove = ph.zDown;
    k.zUpAbove = ph.zUp;
    k.spanCond = -1;  // no span kept
    k.condEpoch = w.termsEpoch;
  }
  return k.conductance;
}

// The system of the n plugs: conductances and loss UA only when `heights`
// (the plugs are new to it), the conductances also when a temperature
// barrier makes them depend on the plug temperatures.
void assemble(State& st, HostServices& host, double dt, bool heights) {
  const Store& s = st.store;
  SolverWork& w = st.solver;
  const PlugTable& t = st.plugs;
  const ChainOrder& order = st.chain;
  const int n = order.n;
  const double area = s.A;
  const bool conductances = heights || s.barrierMode == 2;
  if (heights) checkTermsInputs(st);
  double sumUA = 0.0;  // in the order of the plugs

  for (int i = 1; i <= n; ++i) {
    const int c = order.at(i);
    const Plug& pc = t[c];
    if (conductances && i < n) w.kCond[at(i)] = keptConductance(st, c) / area;
    w.qSrc[at(i)] = pc.qV / area;
    if (heights) {
      w.lossUA[at(i)] = keptLossUA(st, c);
      w.uaArr[at(i)] = w.lossUA[at(i)] / area;
      sumUA += w.lossUA[at(i)];
    }
    w.capArr[at(i)] = pc.CapSolver / (dt * area);
    w.tAmbArr[at(i)] = s.tAmb;
  }
  if (heights) w.sumUA = sumUA;
  const double sumUApar = s.uaBottom + s.uaSide1 + s.uaSide2 + s.uaSide3 + s.uaTop;
  if (std::fabs(sumUApar - w.sumUA) > 0.001) {
    host.stdoutLine(listLine("ERROR IN SUM UA", sumUApar, " sumUA=", w.sumUA).view());
  }
}

void solveAndLimit(State& st, HostServices& host);

}  // namespace

void assembleAndSolve(State& st, HostServices& host, int n, double dt) {
  takeChainOrder(st.plugs, n, st.chain);
  solveConduction(st, host, dt, false);
}

void solveConduction(State& st, HostServices& host, double dt, bool again) {
  assemble(st, host, dt, !again);
  solveAndLimit(st, host);
}

namespace {

void solveAndLimit(State& st, HostServices& host) {
  SolverWork& w = st.solver;
  PlugTable& t = st.plugs;
  const int n = st.chain.n;
  solveKeptTridiagonal(w, n);

  // A non-finite temperature would pass the limits and the convergence test.
  if (n > 0 && !allFinite(&w.tNew[1], n)) {
    w.solverStatus = 2;
    fatalStop(st, host, "Fatal", "PLUG FLOW MODEL HAS DIVERGED");
  }

  // A plug that would leave the range is limited. While the heat sub-step
  // may still be retried in shorter sub-steps, the plug began it inside the
  // range and the plugs it would mix with (warm water rises, cold water
  // sinks) can take its excess heat, the solution stops instead: shorter
  // sub-steps let the heat spread before the plug reaches a limit.
  // A trial that stops there sends no warning for the plugs below: they are
  // solved again.
  w.limitAvoidable = false;
  w.limited = false;
  int stopAt = 0;
  for (int i = 1; w.trial && i <= n && stopAt == 0; ++i) {
    const double temp = w.tNew[at(i)];
    if ((temp < kTempLow || temp > kTempHigh) && roomToMix(w, n, i)) stopAt = i;
  }
  for (int i = 1; i <= n; ++i) {
    const int c = st.chain.at(i);
    double temp = w.tNew[at(i)];
    if (temp < kTempLow || temp > kTempHigh) {
      if (i == stopAt) {
        w.limitAvoidable = true;
        return;
      }
      // A step cut into sub-steps warns once, not once per sub-step.
      SubStepWork& sub = st.sub;
      if (stopAt == 0 && !(sub.spread && sub.limitReported)) {
        report(st, host, "Warning", "T OF STORE IS OUT OF RANGE [0-100]");
        sub.limitReported = sub.spread;
      }
      temp = std::clamp(temp, kTempLow, kTempHigh);
      w.limited = true;
    }
    t[c].Temp = temp;
    t[c].TempIter = temp;
    w.tIter[at(i)] = temp;
  }
}

}  // namespace

}  // namespace plugstore
