// How many sub-steps the heat part of a call needs. A flowing heat
// exchanger is coupled to the plugs around it by a fixed-point iteration
// that sees the plugs' temperatures of the previous solution: when the heat
// it can exchange in one step (UA x step) approaches the capacitance of
// those plugs, the iteration swings instead of converging, and well before
// that the implicit step lets the store warm up against the coil long
// before it would have. The ratio of the two, per plug, sets the count.
#include <algorithm>
#include <cmath>

#include "solver/solver.h"

namespace plugstore {
namespace {

std::size_t at(int i) { return static_cast<std::size_t>(i); }

// UA (W/K) of CV c expected in this call: a nominal UA without power laws is
// known exactly; otherwise the value the CV had at the end of the last step.
double expectedCvUA(const HxRecord& hx, int c) {
  const bool constantUA = hx.uaModel == 1 && std::fabs(hx.expFlow) < 1e-15 &&
                          std::fabs(hx.expDeltaT) < 1e-15 && std::fabs(hx.expTemp) < 1e-15;
  if (constantUA) return hx.uaNominal / hx.numberOfHxCv / 3.6;
  return hx.uaCvOld[at(c)];
}

}  // namespace

bool subStepArraysFit(const HxRecord& hx) {
  if (!hxArraysFit(hx)) return false;
  const auto cvs = at(hx.numberOfHxCv) + 1;
  return hx.tCvCall.size() >= cvs && hx.tCvAttempt.size() >= cvs && hx.uaCvOld.size() >= cvs;
}

SubStepNeed couplingSubSteps(const State& st, double dt) {
  SubStepNeed need;
  const PlugTable& t = st.plugs;
  const int nHx = hxInUse(st.store);
  bool flowing = false;
  for (int k = 0; k < nHx; ++k) {
    const HxRecord& hx = st.hx[at(k)];
    flowing = flowing || (hx.mDotHx >= kMDotMin && subStepArraysFit(hx));
  }
  if (!flowing || !(dt > 0.0)) return need;

  // UA x dt that each plug sees from the flowing Hx, over its capacitance.
  int p = t.first();
  for (int guard = 0; guard < kPlugRecords && t[p].Cap > 0.0; ++guard, p = t[p].iUp) {
    const Plug& plug = t[p];
    double uaSeen = 0.0;
    int strongest = 0;
    double strongestUA = 0.0;
    for (int k = 0; k < nHx; ++k) {
      const HxRecord& hx = st.hx[at(k)];
      if (hx.mDotHx < kMDotMin || !subStepArraysFit(hx)) continue;
      if (!(plug.zDown < hx.zHxHigh && hx.zHxLow < plug.zUp)) continue;
      double uaHx = 0.0;
      for (int c = 1; c <= hx.numberOfHxCv && hx.zCv[at(c)] < plug.zUp; ++c) {
        const int32_t cvBottom = hx.zCv[at(c)];
        const int32_t cvTop = hx.zCv[at(c + 1)];
        const int64_t overlap = int64_t{std::min(cvTop, plug.zUp)} - std::max(cvBottom, plug.zDown);
        if (overlap <= 0 || cvTop <= cvBottom) continue;
        uaHx += expectedCvUA(hx, c) * static_cast<double>(overlap) / (cvTop - cvBottom);
      }
      uaSeen += uaHx;
      if (uaHx > strongestUA) {
        strongestUA = uaHx;
        strongest = k + 1;
      }
    }
    const double ratio = uaSeen * dt / plug.Cap;
    if (ratio > need.ratio) {
      need.ratio = ratio;
      need.hx = strongest;
    }
  }
  if (need.ratio > kCouplingRatio) {
    const double k = std::ceil(need.ratio / kSubStepRatio);
    need.k = k < SubStepWork::kMaxSubSteps ? static_cast<int>(k) : SubStepWork::kMaxSubSteps;
  }
  return need;
}

}  // namespace plugstore
