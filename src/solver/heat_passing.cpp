// Heat of the immersed heat exchangers and of the heat inputs into the plugs.
#include <algorithm>
#include <array>
#include <cmath>

#include "solver/solver.h"
#include "store/plug_table.h"

namespace plugstore {
namespace {

std::size_t at(int i) { return static_cast<std::size_t>(i); }

// Height overlap of plug p with CV c of hx, and the CV's own height that the
// overlap is divided by (the highest CV ends at zHxHigh and may be a few
// units higher than the others).
struct Overlap {
  double overlap;
  double height;
};

Overlap cvOverlap(State& st, HostServices& host, const HxRecord& hx, int c, const Plug& p) {
  const int32_t cvBottom = hx.zCv[at(c)];
  const int32_t cvTop = hx.zCv[at(c + 1)];
  const int32_t cvHeight = cvTop - cvBottom;
  if (cvHeight <= 0) {
    // A CV without height sits at one level: the plug there takes all of it.
    return {(p.zDown <= cvBottom && cvBottom < p.zUp) ? 1.0 : 0.0, 1.0};
  }
  if (!(p.zDown < cvTop)) return {0.0, 1.0};
  int32_t overlap = 0;
  if (p.zUp >= cvTop && cvBottom >= p.zDown) {
    overlap = cvHeight;  // the whole CV lies inside the plug
  } else if (cvTop >= p.zUp && p.zDown >= cvBottom) {
    overlap = p.zUp - p.zDown;  // the whole plug lies inside the CV
  } else if (p.zDown >= cvBottom) {
    overlap = cvTop - p.zDown;  // the plug starts inside the CV and reaches above it
  } else if (p.zUp < cvTop) {
    overlap = p.zUp - cvBottom;  // the plug starts below the CV and ends inside it
  } else {
    fatalStop(st, host, "Fatal",
              "getQvFromHeatExchanger() Not controlled case heat exchanger cv > tank cv");
  }
  return {static_cast<double>(overlap), static_cast<double>(cvHeight)};
}

// The CVs of hx are each higher than 0, their boundaries rise and their
// heat is a finite number. Then a CV that ends at or below a plug's bottom
// gives the plug a heat of exactly 0, and the search may start above it.
bool cvsOrdered(const HxRecord& hx) {
  for (int c = 1; c <= hx.numberOfHxCv; ++c) {
    if (!(hx.zCv[at(c)] < hx.zCv[at(c + 1)]) || !std::isfinite(hx.qCv[at(c)])) return false;
  }
  return true;
}

}  // namespace

int firstCvEndingAbove(const HxRecord& hx, int32_t z) {
  int lo = 1;
  int hi = hx.numberOfHxCv + 1;
  while (lo < hi) {
    const int mid = lo + (hi - lo) / 2;
    if (hx.zCv[at(mid + 1)] > z) {
      hi = mid;
    } else {
      lo = mid + 1;
    }
  }
  return lo;
}

int plugAtHeight(const PlugTable& t, double z) {
  int p = t.first();
  for (int guard = 0; guard < kPlugRecords && p >= 0 && p < kPlugRecords && t[p].Cap > 0.0;
       ++guard) {
    if (static_cast<double>(t[p].zDown) <= z && z <= static_cast<double>(t[p].zUp)) return p;
    p = t[p].iUp;
  }
  return 0;
}

void getQvFromHeatExchanger(State& st, HostServices& host, int nHx, int n) {
  takeChainOrder(st.plugs, n, st.chain);
  passHeatToPlugs(st, host, nHx);
}

void passHeatToPlugs(State& st, HostServices& host, int nHx) {
  PlugTable& t = st.plugs;
  const ChainOrder& order = st.chain;
  SolverWork& w = st.solver;
  // No heat is left in a record out of the chain. Records above the high
  // water mark have held no plug since the set-up.
  for (int i = 1; i <= std::min(st.plugHighWater, kTopSentinel - 1); ++i) t[i].qV = 0.0;
  t[kTopSentinel].qV = 0.0;
  w.QvTank = 0.0;
  std::array<bool, kMaxHx> fits{};
  std::array<bool, kMaxHx> ordered{};
  for (int k = 0; k < nHx; ++k) {
    fits[at(k)] = hxArraysFit(st.hx[at(k)]);
    ordered[at(k)] = fits[at(k)] && cvsOrdered(st.hx[at(k)]);
  }

  // Without Hx no plug takes heat from them, and QvTank stays 0.
  for (int i = 1; nHx == 0 && i <= order.n; ++i) {
    Plug& plug = t[order.at(i)];
    plug.qV = 0.0;
    plug.CapSolver = plug.Cap;
  }
  for (int i = 1; nHx > 0 && i <= order.n; ++i) {
    Plug& plug = t[order.at(i)];
    double qVp = 0.0;
    for (int k = 0; k < nHx; ++k) {
      const HxRecord& hx = st.hx[at(k)];
      if (!fits[at(k)]) continue;
      if (!(plug.zDown < hx.zHxHigh && hx.zHxLow < plug.zUp)) continue;
      const int from = ordered[at(k)] ? firstCvEndingAbove(hx, plug.zDown) : 1;
      for (int c = from; c <= hx.numberOfHxCv && hx.zCv[at(c)] < plug.zUp; ++c) {
        // qCv is the heat the CV's fluid takes from the store.
        const Overlap o = cvOverlap(st, host, hx, c, plug);
        qVp = qVp - hx.qCv[at(c)] * o.overlap / o.height;
      }
    }
    plug.qV = qVp;
    plug.CapSolver = plug.Cap;
    w.QvTank += qVp;
  }

  // Heat inputs in the order A1, B1, A2, B2, ...; a height <= 0 is off. A
  // height above every plug ends in the bottom sentinel and heats nothing.
  const Store& s = st.store;
  const bool whole = order.whole && order.holds(t);
  auto plugAt = [&t, &order, whole](double z) {
    if (!whole) return plugAtHeight(t, z);
    // The walk of plugAtHeight over the order of the whole chain.
    for (int i = 1; i <= order.n; ++i) {
      const Plug& q = t[order.at(i)];
      if (static_cast<double>(q.zDown) <= z && z <= static_cast<double>(q.zUp)) return order.at(i);
    }
    return 0;
  };
  for (std::size_t j = 0; j < kNumHeatInputs; ++j) {
    if (s.zHeatA[j] > 0.0) t[plugAt(s.zTop * s.zHeatA[j])].qV += s.qHeatA[j];
    if (s.zHeatB[j] > 0.0) t[plugAt(s.zTop * s.zHeatB[j])].qV += s.qHeatB[j];
  }

  if (st.sw.consistencyCheckSwitch == -1) {
    w.sumQHx = 0.0;
    for (int k = 0; k < nHx; ++k) w.sumQHx += st.hx[at(k)].qLoss;
    const double pct = std::fabs((w.sumQHx - w.QvTank) / w.sumQHx) * 100.0;
    if (pct > 0.1) {
      host.debugLine(listLine("ERROR in passing Qv QvTank=", w.QvTank, " sumQHx=", w.sumQHx,
                              " %error(%)=", pct)
                         .view());
    }
  }
}

}  // namespace plugstore
