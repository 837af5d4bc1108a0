#include "store/setup.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <new>
#include <stdexcept>

#include "store/plug_table.h"
#include "store/start_profile.h"

namespace plugstore {
namespace {

// A CV must be at least one height unit high, so no Hx can use more CVs
// than the store has height units; a larger count is refused before any
// memory is asked for (it would otherwise try to zero gigabytes).
constexpr int32_t kMaxCvExtent = kZTop;

// Sum of two integer heights held within the int32 range, so that CV
// boundaries built from out-of-range parameters stay defined.
int32_t addHeights(int32_t a, int32_t b) {
  const int64_t s = static_cast<int64_t>(a) + static_cast<int64_t>(b);
  if (s > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
  if (s < std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(s);
}

template <typename T>
void releaseArray(std::vector<T>& v) {
  std::vector<T>().swap(v);
}

void releaseArrays(HxRecord& hx) {
  releaseArray(hx.tStore);
  releaseArray(hx.uaCv);
  releaseArray(hx.qCv);
  releaseArray(hx.tCvOld);
  releaseArray(hx.tNode);
  releaseArray(hx.tWall);
  releaseArray(hx.tWallOld);
  releaseArray(hx.zCv);
  releaseArray(hx.tCvCall);
  releaseArray(hx.tCvAttempt);
  releaseArray(hx.uaCvOld);
  hx.cvExtent = -1;
}

// Gives a 1-based array of `extent` elements (extent + 1 held, element 0
// unused), all zero. The old block is released first, so a changed extent
// never holds both.
template <typename T>
void allocateArray(std::vector<T>& v, int32_t extent) {
  releaseArray(v);
  v.assign(static_cast<std::size_t>(extent) + 1U, T{});
}

template <typename T>
void zeroArray(std::vector<T>& v) {
  std::fill(v.begin(), v.end(), T{});
}

void resetPlugTable(PlugTable& t) {
  for (int i = 1; i < kTopSentinel; ++i) {
    t[i].Cap = 0.0;
    t[i].CapSolver = 0.0;
  }
  t.freeFrom = 1;
  t.touch();
  Plug& bottom = t[kBottomSentinel];
  bottom.Temp = kBottomSentinelTemp;
  bottom.Cap = -1.0;
  bottom.CapSolver = -1.0;
  bottom.iUp = 1;
  Plug& top = t[kTopSentinel];
  top.Temp = kTopSentinelTemp;
  top.Cap = -1.0;
  top.CapSolver = -1.0;
  top.iUp = kTopSentinel;
}

// Energy, entropy and exergy of the plugs read from the start profile.
void profileEnergy(State& st) {
  PlugTable& t = st.plugs;
  const double tRefK = st.store.T_refK;
  double E = 0.0;
  double S = 0.0;
  int p = t.first();
  int highest = kBottomSentinel;
  // The file may describe any links: the walk stays inside the pool and
  // takes at most as many plugs as it holds.
  for (int n = 0; n < kTopSentinel - 1 && p > 0 && p < kTopSentinel && t[p].Cap > 0.0; ++n) {
    const double tK = t[p].Temp + 273.15;
    E += (tK - tRefK) * t[p].Cap;
    S += t[p].Cap * std::log(tK / tRefK);
    highest = p;
    p = t[p].iUp;
  }
  t[kTopSentinel].iDown = highest;
  st.bal.E = E;
  st.bal.S = S;
  st.bal.Ex = E - tRefK * S;
}

// Highest record index of the chain (0 for an empty one).
int highestRecordInChain(const PlugTable& t) {
  int highest = 0;
  int p = t.first();
  for (int n = countPlugs(t); n > 0; --n) {
    highest = std::max(highest, p);
    p = t[p].iUp;
  }
  return highest;
}

void uniformStore(State& st) {
  PlugTable& t = st.plugs;
  const Store& s = st.store;
  // zTop div maxPlugHeight is minPlugs for the valid counts. A count that
  // failed the checks may give no plug height (0 or negative): no plug. The
  // pool holds 399 plugs, so no more are made.
  int32_t n = s.maxPlugHeight > 0 ? s.zTop / s.maxPlugHeight : 0;
  n = std::min<int32_t>(n, kTopSentinel - 1);
  for (int32_t k = 1; k <= n; ++k) {
    Plug& p = t[k];
    p.Cap = s.capTot / n;
    p.CapSolver = p.Cap;
    p.Temp = s.T_init;
    p.Temp0 = s.T_init;
    p.zDown = ((k - 1) * s.zTop) / n;
    p.zUp = (k * s.zTop) / n;
    p.qV = 0.0;
    p.qL = 0.0;
    p.qA = 0.0;
    p.iDown = k - 1;
    p.iUp = k == n ? kTopSentinel : k + 1;
  }
  t[kTopSentinel].iDown = n;
  st.bal.E = (s.T_init - s.T_ref) * s.capTot;
  st.bal.S = s.capTot * std::log((s.T_init + 273.15) / s.T_refK);
  st.bal.Ex = st.bal.E - s.T_refK * st.bal.S;
}

void initialHxState(State& st, HostServices& host, HxRecord& hx, bool fromProfile) {
  const int32_t n = hx.cvExtent;
  if (n < 0) return;
  const auto un = static_cast<std::size_t>(n);
  const double tInit = st.store.T_init;
  hx.tNode[1] = tInit;
  hx.zCv[1] = hx.zHxLow;
  for (std::size_t b = 1; b <= un; ++b) hx.zCv[b + 1] = addHeights(hx.zCv[b], hx.dzCv);
  if (fromProfile) {
    copyTankDataToHEx(st, host, hx);
    for (std::size_t b = 1; b <= un; ++b) {
      hx.tNode[b + 1] = hx.tStore[b];
      hx.tCvOld[b] = hx.tStore[b];
    }
  } else {
    for (std::size_t b = 1; b <= un; ++b) {
      hx.tStore[b] = tInit;
      hx.tCvOld[b] = tInit;
      hx.tNode[b + 1] = tInit;
    }
  }
  for (std::size_t b = 1; b <= un; ++b) {
    hx.qCv[b] = 0.0;
    hx.tWall[b] = (hx.tCvOld[b] + hx.tStore[b]) / 2.0;
  }
  // The truncated step must not move the upper end of the Hx.
  hx.zCv[un + 1] = hx.zHxHigh;
}

}  // namespace

void initialiseStore(State& st, HostServices& host) {
  resetPlugTable(st.plugs);
  const bool fromProfile = st.store.startProfileSwitch == 1;
  if (fromProfile) {
    readStartProfile(st, host);
    profileEnergy(st);
  } else {
    uniformStore(st);
  }
  st.plugs.touch();  // the chain was built record by record

  setMemory(st, host);
  for (int k = 0; k < hxInUse(st.store); ++k) {
    initialHxState(st, host, st.hx[static_cast<std::size_t>(k)], fromProfile);
  }

  // The first save copies the whole table; from then on the two tables
  // differ only in the records that have held plugs.
  st.plugHighWater = kTopSentinel - 1;
  saveStartOfStep(st);
  st.plugHighWater = highestRecordInChain(st.plugs);
}

void saveStartOfStep(State& st) {
  PlugTable& t = st.plugs;
  const int n = chainOrder(st);
  for (int i = 1; i <= n; ++i) {
    Plug& plug = t[st.chain.at(i)];
    plug.Temp0 = plug.Temp;
  }
  copyPlugs(st.savedPlugs, st.plugs, st.plugHighWater);
  st.plugsAsSaved = true;

  st.bal.E_old = st.bal.E;
  st.bal.S_old = st.bal.S;
  st.bal.Ex_old = st.bal.Ex;

  for (int k = 0; k < hxInUse(st.store); ++k) {
    HxRecord& hx = st.hx[static_cast<std::size_t>(k)];
    for (int32_t b = 1; b <= hx.cvExtent; ++b) {
      const auto ub = static_cast<std::size_t>(b);
      hx.tWallOld[ub] = hx.tWall[ub];
      hx.tCvOld[ub] = (hx.tNode[ub] + hx.tNode[ub + 1]) / 2.0;
      hx.uaCvOld[ub] = hx.uaCv[ub];
    }
  }
}

void setMemory(State& st, HostServices& host) {
  for (int k = 0; k < hxInUse(st.store); ++k) {
    HxRecord& hx = st.hx[static_cast<std::size_t>(k)];
    const int32_t n = hx.numberOfHxCv;
    if (n < 1) host.debugLine(listLine(" setMemory FATAL error numberOfHxCv=", n).view());
    const int32_t extent = std::max<int32_t>(n, 0);
    if (extent > kMaxCvExtent) {
      releaseArrays(hx);
      TextLine text;
      text << "setMemory: cannot allocate the control volumes of heat exchanger " << (k + 1)
           << ", numberOfHxCv=" << n << " is larger than " << kMaxCvExtent;
      fatalStop(st, host, "FATAL", text.view());
    }
    if (extent == hx.cvExtent) {
      zeroArray(hx.tStore);
      zeroArray(hx.uaCv);
      zeroArray(hx.qCv);
      zeroArray(hx.tCvOld);
      zeroArray(hx.tNode);
      zeroArray(hx.tWall);
      zeroArray(hx.tWallOld);
      zeroArray(hx.zCv);
      zeroArray(hx.tCvCall);
      zeroArray(hx.tCvAttempt);
      zeroArray(hx.uaCvOld);
      continue;
    }
    bool failed = false;
    try {
      allocateArray(hx.tStore, extent);
      allocateArray(hx.uaCv, extent);
      allocateArray(hx.qCv, extent);
      allocateArray(hx.tCvOld, extent);
      allocateArray(hx.tWall, extent);
      allocateArray(hx.tWallOld, extent);
      allocateArray(hx.tNode, extent + 1);
      allocateArray(hx.zCv, extent + 1);
      allocateArray(hx.tCvCall, extent);
      allocateArray(hx.tCvAttempt, extent);
      allocateArray(hx.uaCvOld, extent);
      hx.cvExtent = extent;
    } catch (const std::bad_alloc&) {
      failed = true;
    } catch (const std::length_error&) {
      failed = true;
    }
    if (failed) {
      releaseArrays(hx);
      TextLine text;
      text << "setMemory: out of memory for the control volumes of heat exchanger " << (k + 1)
           << ", numberOfHxCv=" << n;
      fatalStop(st, host, "FATAL", text.view());
    }
  }
}

void releaseHxMemory(State& st) {
  for (HxRecord& hx : st.hx) releaseArrays(hx);
}

namespace {

// Each of the first n plugs of the chain begins where the one below it ends
// and is not lower than 0, as the height adjustment leaves them.
bool chainContiguous(const PlugTable& t, int n) {
  int p = t.first();
  for (int counter = 1; counter <= n; ++counter) {
    const Plug& plug = t[p];
    if (plug.zDown > plug.zUp || (counter < n && t[plug.iUp].zDown != plug.zUp)) return false;
    p = plug.iUp;
  }
  return true;
}

// Every CV of hx is higher than 0 and lies above the one before it.
bool cvsRise(const HxRecord& hx, std::size_t n) {
  for (std::size_t b = 1; b <= n; ++b) {
    if (!(hx.zCv[b] < hx.zCv[b + 1])) return false;
  }
  return true;
}

}  // namespace

void copyTankDataToHEx(State& st, HostServices& host, HxRecord& hx) {
  const PlugTable& t = st.plugs;
  const int nPlugs = countPlugs(t);
  const auto n = static_cast<std::size_t>(std::max<int32_t>(hx.cvExtent, 0));
  // In a contiguous chain the plugs that end at or below a CV's bottom, and
  // are passed over for it, lie below those of the next CV up: the search
  // for the next CV begins where this one's began.
  const bool resume = cvsRise(hx, n) && chainContiguous(t, nPlugs);
  int from = t.first();
  int fromCounter = 1;
  for (std::size_t b = 1; b <= n; ++b) {
    const double cvBottom = hx.zCv[b];
    const double cvTop = hx.zCv[b + 1];
    // Overlaps are shares of this CV's own height: the highest CV ends at
    // zHxHigh and is up to n - 1 units higher than the step dzCv.
    const double cvHeight = cvTop - cvBottom;
    double sum = 0.0;
    bool inside = false;
    int p = t.first();
    int counter = 1;
    if (resume) {
      while (fromCounter < nPlugs && !(t[from].zUp > cvBottom)) {
        from = t[from].iUp;
        ++fromCounter;
      }
      p = from;
      counter = fromCounter;
    }
    for (; counter <= nPlugs; ++counter) {
      const Plug& plug = t[p];
      const double zDown = plug.zDown;
      const double zUp = plug.zUp;
      if (zUp > cvBottom) {
        double overlap = 0.0;
        if (zUp < cvTop) {
          overlap = zDown >= cvBottom ? zUp - zDown : zUp - cvBottom;
        } else if (zDown <= cvBottom) {
          hx.tStore[b] = plug.Temp;  // the CV lies inside this one plug
          inside = true;
          break;
        } else {
          overlap = cvTop - zDown;
        }
        if (overlap < 0.0) {
          // Only plug heights that no consistent chain has give this.
          report(st, host, "Fatal",
                 "copyTankDataToHEx() heat exchanger cv <= tank cv. Not controlled case");
          overlap = 0.0;
        }
        // A CV without height takes no share (no division by zero).
        if (cvHeight > 0.0) sum += plug.Temp * overlap / cvHeight;
      }
      if (counter == nPlugs) break;
      p = plug.iUp;
      if (t[p].zDown >= cvTop) break;
    }
    if (!inside) hx.tStore[b] = sum;
  }
}

}  // namespace plugstore
