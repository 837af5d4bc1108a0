#include "host/outputs.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

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

void portFlows(State& st) {
  Balance& b = st.bal;
  const double tRefK = st.store.T_refK;
  b.dEinpTot = 0.0;
  b.sPortSum = 0.0;
  b.exPortSum = 0.0;
  for (DirectPort& port : st.ports) {
    if (!portInFlow(port)) {
      // tOut is the fluid standing at the outlet; nothing crosses the port.
      if (port.zIn >= 0) {
        const int p = plugContaining(st.plugs, static_cast<double>(port.zOut));
        if (p >= 0) port.tOut = st.plugs[p].Temp;
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

  b.E = 0.0;
  b.sumQV = 0.0;
  b.sumQLoss = 0.0;
  b.tAvg = 0.0;
  int p = t.first();
  for (int k = 0; k < kPlugRecords && t[p].Cap > 0.0; ++k, p = t[p].iUp) {
    const Plug& q = t[p];
    const double tK = q.Temp + 273.15;
    b.sumQV += q.qV;
    b.sumQLoss += q.qL;
    b.tAvg += q.Temp * q.Cap / s.capTot;
    b.E += (tK - tRefK) * q.Cap;
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

  b.S = 0.0;
  b.eLossStep = 0.0;
  b.sLossStep = 0.0;
  p = t.first();
  for (int k = 0; k < kPlugRecords && t[p].Cap > 0.0; ++k, p = t[p].iUp) {
    const Plug& q = t[p];
    const double tK = q.Temp + 273.15;
    b.S += q.Cap * std::log(tK / tRefK);
    b.eLossStep += q.qL * dt;
    b.sLossStep += q.sL;
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

void profileSensorsZones(State& st) {
  Store& s = st.store;
  Balance& b = st.bal;
  const PlugTable& t = st.plugs;

  const double step = s.zTop * 0.05;
  for (int i = 0; i < kNumProfilePoints; ++i) {
    const auto ui = static_cast<std::size_t>(i);
    s.zProfile[ui] = step * 0.5 + i * step;
    s.tProfile[ui] = temperatureAtHeight(st, s.zProfile[ui], true);
  }

  for (int i = 0; i < kNumSensors; ++i) {
    const auto ui = static_cast<std::size_t>(i);
    b.tSensor[ui] = vectorLinearInterpolation(kNumProfilePoints, s.zProfile.data(),
                                              s.tProfile.data(), s.zSensor[ui], false);
  }

  b.tZone.fill(0.0);
  if (countPlugs(t) > 0) {
    int p = t.first();
    for (int k = 0; k < kPlugRecords && t[p].Cap > 0.0; ++k, p = t[p].iUp) {
      for (int i = 0; i < kNumZones; ++i) {
        const auto ui = static_cast<std::size_t>(i);
        // 64-bit: zone heights come from the parameters unchecked.
        const int64_t overlap = int64_t{std::min(s.zZoneHigh[ui], t[p].zUp)} -
                                int64_t{std::max(s.zZoneLow[ui], t[p].zDown)};
        if (overlap > 0) b.tZone[ui] += t[p].Temp * static_cast<double>(overlap);
      }
    }
  }
  for (int i = 0; i < kNumZones; ++i) {
    const auto ui = static_cast<std::size_t>(i);
    const int64_t width = int64_t{s.zZoneHigh[ui]} - int64_t{s.zZoneLow[ui]};
    b.tZone[ui] = b.tZone[ui] / static_cast<double>(std::max<int64_t>(width, 1));
  }
}

}  // namespace

void calculateOutputs(State& st, HostServices& host) {
  if (st.sw.debugLogSwitch == 1) host.debugLine("DB(STRATVAN): CALCULATE OUTPUTS");
  portFlows(st);
  mainBalance(st, host);
  derivedQuantities(st);
  profileSensorsZones(st);
}

double temperatureAtHeight(const State& st, double z, bool interpolate) {
  const PlugTable& t = st.plugs;
  if (t[t.first()].Cap <= 0.0) return 0.0;
  const int p = plugContaining(t, z);
  if (p < 0) return 0.0;
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

double vectorLinearInterpolation(int n, const double* x, const double* y, double xv, bool warn) {
  (void)warn;  // no caller asks for a warning
  if (n < 1) return 0.0;
  // 1-based access, as the bisection counts its points from 1.
  auto xs = [x](int i) { return x[i - 1]; };
  auto ys = [y](int i) { return y[i - 1]; };
  if (xv > xs(n)) return ys(n);
  if (xv < xs(1)) return ys(1);
  if (n == 1) return ys(1);
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
  return (xv - xs(lo)) * (ys(hi) - ys(lo)) / (xs(hi) - xs(lo)) + ys(lo);
}

}  // namespace plugstore
