#include "host/outputs.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

#include "store/plug_table.h"

namespace plugstore {

namespace {

// A port moves fluid only when it has an inlet and flows above the threshold;
// every other port is reported as a port without flow.
bool portInFlow(const DirectPort& port) { return port.zIn >= 0 && port.mDot > kMDotMin; }

// Straight line through (x1, y1) and (x2, y2) at x.
double lineAt(double x, double x1, double y1, double x2, double y2) {
  return (x - x1) * (y2 - y1) / (x2 - x1) + y1;
}

double midHeight(const Plug& p) {
  return (static_cast<double>(p.zDown) + static_cast<double>(p.zUp)) / 2.0;
}

// Lowest plug whose band contains z (boundaries included), or -1.
int plugContaining(const PlugTable& t, double z) {
  int p = t.first();
  for (int k = 0; k < kPlugRecords && t[p].Cap > 0.0; ++k, p = t[p].iUp) {
    if (static_cast<double>(t[p].zDown) <= z && z <= static_cast<double>(t[p].zUp)) return p;
  }
  return -1;
}

// The same over the chain in `order`; the position found, or 0.
int positionContaining(const PlugTable& t, const ChainOrder& order, double z) {
  for (int i = 1; i <= order.n; ++i) {
    const Plug& q = t[order.at(i)];
    if (static_cast<double>(q.zDown) <= z && z <= static_cast<double>(q.zUp)) return i;
  }
  return 0;
}

// Temperature at z in plug p, which contains it: the plug's own, or on the
// line through the middles of p and its neighbour on z's side.
double temperatureInPlug(const PlugTable& t, int p, double z, bool interpolate) {
  if (!interpolate) return t[p].Temp;
  const double midP = midHeight(t[p]);
  if (z > midP) {
    const int q = t[p].iUp;
    if (q == kTopSentinel) return t[p].Temp;
    return lineAt(z, midP, t[p].Temp, midHeight(t[q]), t[q].Temp);
  }
  const int q = t[p].iDown;
  if (q == kBottomSentinel) return t[p].Temp;
  return lineAt(z, midHeight(t[q]), t[q].Temp, midP, t[p].Temp);
}

// Whether the chain ends inside the table and neither the bottoms nor (for
// `tops`) also the tops of its plugs fall, as after every calculation of a
// call. Then the lowest plug that contains a height is never below the one
// that contains a lower height.
struct Rise {
  bool bottoms = false;
  bool tops = false;
};

Rise chainRises(const PlugTable& t, const ChainOrder& order) {
  Rise r;
  if (order.n >= kPlugRecords) return r;  // no end within the table
  bool bottoms = true;
  bool tops = true;
  if (order.n >= 1) {
    int32_t downBelow = t[order.at(1)].zDown;
    int32_t upBelow = t[order.at(1)].zUp;
    for (int i = 2; i <= order.n && bottoms; ++i) {
      const Plug& q = t[order.at(i)];
      bottoms = !(q.zDown < downBelow);
      tops = tops && !(q.zUp < upBelow);
      downBelow = q.zDown;
      upBelow = q.zUp;
    }
  }
  r.bottoms = bottoms;
  r.tops = bottoms && tops;
  return r;
}

// positionContaining from position `from` over a chain whose bottoms rise:
// a plug that ends below z does not contain it, and when the first one that
// reaches z begins above it, every later one does.
int risingPositionFrom(const PlugTable& t, const ChainOrder& order, double z, int from) {
  int i = from;
  while (i <= order.n && static_cast<double>(t[order.at(i)].zUp) < z) ++i;
  if (i > order.n || !(static_cast<double>(t[order.at(i)].zDown) <= z)) return 0;
  return i;
}

// The profile temperatures at the rising heights zProfile, in one walk up
// the chain when its bottoms rise.
void profileTemperatures(State& st, const Rise& rise) {
  Store& s = st.store;
  const PlugTable& t = st.plugs;
  const ChainOrder& order = st.chain;
  if (!(t[t.first()].Cap > 0.0) || !rise.bottoms) {
    for (std::size_t i = 0; i < s.zProfile.size(); ++i) {
      s.tProfile[i] = temperatureAtHeight(st, s.zProfile[i], true);
    }
    return;
  }
  int from = 1;
  for (std::size_t i = 0; i < s.zProfile.size(); ++i) {
    const double z = s.zProfile[i];
    const int at = risingPositionFrom(t, order, z, from);
    if (at > 0) {
      s.tProfile[i] = temperatureInPlug(t, order.at(at), z, true);
      from = at;
    } else {
      s.tProfile[i] = 0.0;  // in no plug: the next height is searched from the bottom
      from = 1;
    }
  }
}

// positionContaining from the bottom over a chain whose bottoms and tops
// rise: the plugs below the first that reaches z end below it, and when
// that one begins above z every later one does.
int risingPositionContaining(const PlugTable& t, const ChainOrder& order, double z) {
  int lo = 1;
  int hi = order.n + 1;
  while (lo < hi) {
    const int mid = lo + (hi - lo) / 2;
    if (static_cast<double>(t[order.at(mid)].zUp) >= z) {
      hi = mid;
    } else {
      lo = mid + 1;
    }
  }
  if (lo > order.n || !(static_cast<double>(t[order.at(lo)].zDown) <= z)) return 0;
  return lo;
}

void portFlows(State& st, const Rise& rise) {
  Balance& b = st.bal;
  const double tRefK = st.store.T_refK;
  b.dEinpTot = 0.0;
  b.sPortSum = 0.0;
  b.exPortSum = 0.0;
  for (DirectPort& port : st.ports) {
    if (!portInFlow(port)) {
      // tOut is the fluid standing at the outlet; nothing crosses the port.
      if (port.zIn >= 0) {
        const double z = static_cast<double>(port.zOut);
        const int at = rise.tops ? risingPositionContaining(st.plugs, st.chain, z)
                                 : positionContaining(st.plugs, st.chain, z);
        if (at > 0) port.tOut = st.plugs[st.chain.at(at)].Temp;
      }
      port.qPort = 0.0;
      port.sPort = 0.0;
      port.exPort = 0.0;
      continue;
    }
    const double c = port.mDot * port.cp;
    port.qPort = c * (port.tIn - port.tOut);
    port.sPort = c * std::log((port.tIn + 273.15) / (port.tOut + 273.15));
    port.exPort = port.qPort - tRefK * port.sPort;
    b.dEinpTot += port.qPort;
    b.sPortSum += port.sPort;
    b.exPortSum += port.exPort;
  }
}

void mainBalance(State& st, HostServices& host) {
  const Store& s = st.store;
  const PlugTable& t = st.plugs;
  Balance& b = st.bal;
  const double tRefK = s.T_refK;
  const double dt = s.dtSec;

  // Energy, heat flows, mean temperature, entropy and loss in one walk: each
  // sum runs over the plugs in the order of the chain.
  b.E = 0.0;
  b.sumQV = 0.0;
  b.sumQLoss = 0.0;
  b.tAvg = 0.0;
  b.S = 0.0;
  b.eLossStep = 0.0;
  b.sLossStep = 0.0;
  const ChainOrder& order = st.chain;
  for (int i = 1; i <= order.n; ++i) {
    const Plug& q = t[order.at(i)];
    const double tK = q.Temp + 273.15;
    b.sumQV += q.qV;
    b.sumQLoss += q.qL;
    b.tAvg += q.Temp * q.Cap / s.capTot;
    b.E += (tK - tRefK) * q.Cap;
    b.S += q.Cap * std::log(tK / tRefK);
    b.eLossStep += q.qL * dt;
    b.sLossStep += q.sL;
  }

  // A call cut into sub-steps sums its heat flows over them: plugs drawn in
  // a later sub-step took their heat with them.
  if (st.sub.spread) {
    b.sumQV = st.sub.sums.sumQV;
    b.sumQLoss = st.sub.sums.sumQLoss;
  }

  if (b.tAvg > 100.0) {
    host.debugLine("PLUG FLOW: BOILING AVERAGE TEMPERATURE OF THE STORAGE TANK REACHED");
  }

  b.sumQAcum = (b.E - b.E_old) / dt;
  b.bal = b.sumQV - b.sumQLoss - b.sumQAcum + b.dEinpTot;
  if (std::fabs(b.bal) > 1e-6 && st.sw.consistencyCheckSwitch == -1) {
    host.debugLine(listLine("TIME=", s.time, ". Error GLOBAL MAIN balance power [W] bal=", b.bal,
                            " sumQV=", b.sumQV, " sumQLoss=", b.sumQLoss, " sumQAcum=", b.sumQAcum,
                            " dEinpTot=", b.dEinpTot)
                       .view());
  }

  if (st.sub.spread) {
    b.eLossStep = b.sumQLoss * dt;
    b.sLossStep = st.sub.sums.sLossStep;
  }
}

void derivedQuantities(State& st) {
  const Store& s = st.store;
  Balance& b = st.bal;
  const double tRefK = s.T_refK;
  const double dt = s.dtSec;

  b.Ex = b.E - tRefK * b.S;
  b.sDot = (b.S - b.S_old) / dt;
  b.exDot = (b.Ex - b.Ex_old) / dt;
  b.exLossStep = b.eLossStep - tRefK * b.sLossStep;
  b.exLossDot = b.exLossStep / dt;
  b.sLossDot = b.sLossStep / dt;
  b.tMeanK = b.E / s.capTot + tRefK;
  b.tMeanOldK = b.E_old / s.capTot + tRefK;
  b.sRes = b.sDot - b.sPortSum - b.sLossDot;
  b.exRes = b.exDot - b.exPortSum - b.exLossDot;
  b.tMeanStepK = (b.tMeanK + b.tMeanOldK) * 0.5;
  b.sDotMean = s.capTot * std::log(b.tMeanK / b.tMeanOldK) / dt;
  b.exDotMean = -tRefK * b.sDotMean;
  b.sPortMean = 0.0;
  for (const DirectPort& port : st.ports) {
    if (!portInFlow(port)) continue;
    b.sPortMean += port.mDot * port.cp * std::log((port.tIn - port.tOut) / b.tMeanStepK + 1.0);
  }
  b.exPortMean = b.dEinpTot - tRefK * b.sPortMean;
  b.sResMean = b.sDotMean - b.sPortMean;
  b.exResMean = b.exDotMean - b.exPortMean;
}

// The points around xv among x(1) ... x(n), 1-based, by bisection; lo = hi
// when xv lies beyond them (or n is 1) and takes the value at lo.
ProfileRead bracket(int n, const double* x, double xv) {
  auto xs = [x](int i) { return x[i - 1]; };
  ProfileRead r;
  r.z = xv;
  r.known = true;
  if (xv > xs(n)) {
    r.lo = r.hi = n;
    return r;
  }
  if (xv < xs(1) || n == 1) {
    r.lo = r.hi = 1;
    return r;
  }
  int lo = 1;
  int hi = n;
  int i = std::min(std::max(1, static_cast<int>((n - 1) * 0.5)), n);
  for (;;) {
    if (xv < xs(i)) {
      hi = i;
    } else {
      lo = i;
    }
    if (hi - lo == 1) break;
    i = static_cast<int>(lo + (hi - lo) * 0.5);
  }
  r.lo = lo;
  r.hi = hi;
  return r;
}

double interpolate(const double* x, const double* y, const ProfileRead& r, double xv) {
  auto xs = [x](int i) { return x[i - 1]; };
  auto ys = [y](int i) { return y[i - 1]; };
  if (r.lo == r.hi) return ys(r.lo);
  return (xv - xs(r.lo)) * (ys(r.hi) - ys(r.lo)) / (xs(r.hi) - xs(r.lo)) + ys(r.lo);
}

// Read k of the profile is at height z from now on.
void keepRead(Store& s, std::size_t k, double z) {
  ProfileRead& r = s.profileReads[k];
  if (!(r.known && r.z == z && r.top == s.zTop)) {
    r = bracket(kNumProfilePoints, s.zProfile.data(), z);
    r.top = s.zTop;
  }
}

// The heights the outputs read the profile at, with their places among
// the profile points.
void keepReads(Store& s) {
  if (s.readings != 0 && s.readsAt == s.readings) return;
  for (std::size_t i = 0; i < kNumSensors; ++i) keepRead(s, i, s.zSensor[i]);
  for (int i = 1; i <= 10; ++i) {
    keepRead(s, Store::kReadOutputs + static_cast<std::size_t>(i - 1), profileOutputHeight(i));
  }
  for (std::size_t i = 0; i < kNumHeatInputs; ++i) {
    if (s.zHeatA[i] > 0.0) keepRead(s, Store::kReadHeatA + i, s.zTop * s.zHeatA[i]);
    if (s.zHeatB[i] > 0.0) keepRead(s, Store::kReadHeatB + i, s.zTop * s.zHeatB[i]);
  }
  s.readsAt = s.readings;
}

// Sum of temperature x overlap of every plug with each zone, in chain order.
// Over a rising chain the plugs that end at or below a zone's bottom, and
// those that begin at or above its top, have no part in it.
void zoneSums(const Store& s, const PlugTable& t, const ChainOrder& order, const Rise& rise,
              Balance& b) {
  const bool rising = rise.tops;
  int from = 1;
  int32_t fromLow = std::numeric_limits<int32_t>::min();
  for (std::size_t i = 0; i < kNumZones; ++i) {
    const int32_t low = s.zZoneLow[i];
    const int32_t high = s.zZoneHigh[i];
    int first = 1;
    if (rising) {
      if (low < fromLow) from = 1;
      while (from <= order.n && t[order.at(from)].zUp <= low) ++from;
      fromLow = low;
      first = from;
    }
    double sum = b.tZone[i];
    for (int k = first; k <= order.n; ++k) {
      const Plug& q = t[order.at(k)];
      if (rising && q.zDown >= high) break;
      // 64-bit: zone heights come from the parameters unchecked.
      const int64_t overlap = int64_t{std::min(high, q.zUp)} - int64_t{std::max(low, q.zDown)};
      if (overlap > 0) sum += q.Temp * static_cast<double>(overlap);
    }
    b.tZone[i] = sum;
  }
}

void profileSensorsZones(State& st, const Rise& rise) {
  Store& s = st.store;
  Balance& b = st.bal;
  const PlugTable& t = st.plugs;

  const double step = s.zTop * 0.05;
  for (int i = 0; i < kNumProfilePoints; ++i) {
    s.zProfile[static_cast<std::size_t>(i)] = step * 0.5 + i * step;
  }
  profileTemperatures(st, rise);

  keepReads(s);
  for (std::size_t i = 0; i < kNumSensors; ++i) {
    b.tSensor[i] = profileAt(s, s.profileReads[i], s.zSensor[i]);
  }

  b.tZone.fill(0.0);
  if (st.chain.n > 0) zoneSums(s, t, st.chain, rise, b);
  for (int i = 0; i < kNumZones; ++i) {
    const auto ui = static_cast<std::size_t>(i);
    const int64_t width = int64_t{s.zZoneHigh[ui]} - int64_t{s.zZoneLow[ui]};
    b.tZone[ui] = b.tZone[ui] / static_cast<double>(std::max<int64_t>(width, 1));
  }
}

}  // namespace

void calculateOutputs(State& st, HostServices& host) {
  if (st.sw.debugLogSwitch == 1) host.debugLine("DB(STRATVAN): CALCULATE OUTPUTS");
  chainOrder(st);  // the outputs change no plug
  const Rise rise = chainRises(st.plugs, st.chain);
  portFlows(st, rise);
  mainBalance(st, host);
  derivedQuantities(st);
  profileSensorsZones(st, rise);
}

double temperatureAtHeight(const State& st, double z, bool interpolate) {
  const PlugTable& t = st.plugs;
  if (t[t.first()].Cap <= 0.0) return 0.0;
  const int p = plugContaining(t, z);
  if (p < 0) return 0.0;
  return temperatureInPlug(t, p, z, interpolate);
}

double profileAt(const Store& s, const ProfileRead& read, double z) {
  if (!(read.known && read.z == z && read.top == s.zTop)) {
    return vectorLinearInterpolation(kNumProfilePoints, s.zProfile.data(), s.tProfile.data(), z,
                                     false);
  }
  return interpolate(s.zProfile.data(), s.tProfile.data(), read, z);
}

double vectorLinearInterpolation(int n, const double* x, const double* y, double xv, bool warn) {
  (void)warn;  // no caller asks for a warning
  if (n < 1) return 0.0;
  return interpolate(x, y, bracket(n, x, xv), xv);
}

}  // namespace plugstore
