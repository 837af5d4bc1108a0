// Hand-built stores and heat exchangers for the solver tests.
#pragma once

#include <cstdint>

#include "store/state.h"

namespace plugstore::test {

// Store geometry and the constants the parameter reading would set; no
// losses, no barrier, no Hx, no heat input.
inline void setStore(State& st, double volume, double height, double lambda) {
  Store& s = st.store;
  s.volume = volume;
  s.height = height;
  s.lambda = lambda;
  s.A = volume / height;
  s.zTop = kZTop;
  s.iteMaxHx = 5;
  s.iteMaxNoHx = 2;
  s.relaxHx = 0.8;
  s.relaxNoHx = 1.0;
  s.unit = 12;
  s.type = 8642;
}

// CV arrays of n CVs between zLow and zHigh (the last boundary at zHigh),
// every temperature at t, as the set-up leaves a uniform store.
inline void makeHx(HxRecord& hx, int n, int32_t zLow, int32_t zHigh, double t) {
  const auto cvs = static_cast<std::size_t>(n) + 1;
  hx.numberOfHxCv = n;
  hx.cvExtent = n;
  hx.zHxLow = zLow;
  hx.zHxHigh = zHigh;
  hx.dzCv = n > 0 ? (zHigh - zLow) / n : 0;
  hx.tStore.assign(cvs, t);
  hx.uaCv.assign(cvs, 0.0);
  hx.qCv.assign(cvs, 0.0);
  hx.tCvOld.assign(cvs, t);
  hx.tWall.assign(cvs, t);
  hx.tWallOld.assign(cvs, t);
  hx.tNode.assign(cvs + 1, t);
  hx.zCv.assign(cvs + 1, 0);
  hx.zCv[1] = zLow;
  for (std::size_t b = 1; b < cvs; ++b) hx.zCv[b + 1] = hx.zCv[b] + hx.dzCv;
  hx.zCv[cvs] = zHigh;
}

// A coil with a constant nominal UA (kJ/(h K)) and water as its fluid.
inline void constantUA(HxRecord& hx, double uaNominal, double volume) {
  hx.uaModel = 1;
  hx.uaNominal = uaNominal;
  hx.expFlow = 0.0;
  hx.expDeltaT = 0.0;
  hx.expTemp = 0.0;
  hx.cpHx = 4180.0;
  hx.rhoHx = 1000.0;
  hx.volumeHx = volume;
}

}  // namespace plugstore::test
