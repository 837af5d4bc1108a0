#include "host/parameters.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <numbers>

#include "host/outputs.h"

namespace plugstore {
namespace {

// Host arrays are numbered from 1.
double at(const double* a, int n) { return a[n - 1]; }
void setOut(double* out, int n, double v) { out[n - 1] = v; }

// Relative height (0 ... 1) to integer height units.
int32_t relToInt(double rel) { return truncateToInt(rel * 1000000.0); }

// 1000000 div n. A plug count of 0 has no plug height: it gives 0 rather
// than a division by zero (such counts fail the checks of the initial call).
// Every other int32, INT32_MIN included, divides without overflow.
int32_t heightPerPlug(int32_t n) { return n == 0 ? 0 : kZTop / n; }

// Integer CV step of an Hx, (zHxHigh - zHxLow) div n, or 0 without CVs. The
// difference is taken in 64 bits so that heights from out-of-range parameters
// cannot overflow; the step is then held within the int32 range.
int32_t cvStep(int32_t low, int32_t high, int32_t n) {
  if (n < 1) return 0;
  const int64_t step = (static_cast<int64_t>(high) - static_cast<int64_t>(low)) / n;
  if (step > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
  if (step < std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(step);
}

constexpr int hxFirstParameter(int k) { return 86 + 19 * (k - 1); }  // k = 1 ... 6

bool hxInletOutOfRange(const HxRecord& hx) { return hx.zInPar < 0.0 || hx.zInPar > 1.0; }
bool hxOutletOutOfRange(const HxRecord& hx) { return hx.zOutPar < 0.0 || hx.zOutPar > 1.0; }
// Heights typed 0.001 apart (0.029 and 0.03) differ by a hair less than 0.001
// in binary; the round-off margin lets them pass as the exact difference does.
bool hxEndsTooClose(const HxRecord& hx) {
  return std::fabs(hx.zOutPar - hx.zInPar) < 0.001 - 1e-12;
}

void readHx(HxRecord& hx, HostServices& host, const double* par, int p) {
  hx.zInPar = at(par, p);
  if (hxInletOutOfRange(hx)) {
    host.foundBadParameter(p, "Fatal", "Inlet heights are out of range for Hx");
  }
  hx.zOutPar = at(par, p + 1);
  if (hxOutletOutOfRange(hx)) {
    host.foundBadParameter(p + 1, "Fatal", "Outlet heights are out of range for Hx");
  }
  hx.zInHx = hx.zInPar;
  hx.zOutHx = hx.zOutPar;
  if (hxEndsTooClose(hx)) {
    host.foundBadParameter(
        p + 1, "Fatal",
        "Outlet heights is too close to inlet height for Hx. Use a wider range of at least 0.001");
  }
  hx.dIn = at(par, p + 2);
  hx.dOut = at(par, p + 3);
  hx.lengthHx = at(par, p + 4);
  hx.lambdaWall = at(par, p + 5);
  hx.glycolConc = at(par, p + 6);
  hx.volumeHx = std::fabs(at(par, p + 7));
  hx.cpHx = at(par, p + 8) * 1000.0;
  hx.rhoHx = at(par, p + 9);
  hx.numberOfHxCv = truncateToInt(at(par, p + 10));
  hx.uaModel = truncateToInt(at(par, p + 11));
  hx.cUser = at(par, p + 12);
  hx.nUser = at(par, p + 13);
  hx.expFlow = at(par, p + 14);
  hx.expDeltaT = at(par, p + 15);
  hx.expTemp = at(par, p + 16);
  hx.uaNominal = at(par, p + 17);
  hx.unusedPar = at(par, p + 18);

  if (hx.uaModel == 0) hx.volumeHx = hx.dIn * hx.dIn * std::numbers::pi / 4.0 * hx.lengthHx;
  const bool inletLower = hx.zInPar <= hx.zOutPar;
  hx.zHxLow = relToInt(inletLower ? hx.zInPar : hx.zOutPar);
  hx.zHxHigh = relToInt(inletLower ? hx.zOutPar : hx.zInPar);
  hx.dzCv = cvStep(hx.zHxLow, hx.zHxHigh, hx.numberOfHxCv);
  hx.flowUp = hx.zOutHx > hx.zInHx ? -1 : 0;
}

class Checker {
 public:
  explicit Checker(HostServices& host) : host_(host) {}
  void fail(int parameter, std::string_view text) {
    host_.foundBadParameter(parameter, "Fatal", text);
    ok_ = false;
  }
  void noteFailed() { ok_ = false; }
  [[nodiscard]] bool ok() const { return ok_; }

 private:
  HostServices& host_;
  bool ok_ = true;
};

// Port d (1-based) is used unless both connections are at -1.
bool portUsed(const DirectPort& port) { return !(port.zA == -kZTop && port.zB == -kZTop); }

}  // namespace

// Physical quantities of a store lie far inside these sizes; beyond them
// their products (capacitances, areas, heat flows) could leave the range of
// the arithmetic. Heights, counts and switches have checks of their own.
bool outsideAnyStore(double value) {
  const double a = std::fabs(value);
  return a != 0.0 && (a < 1e-12 || a > 1e12);
}

// Store, loss and barrier quantities, and those of the Hx blocks in use:
// diameters to volume and fluid, outside constant, nominal UA.
bool isQuantityParameter(int n, int nHx) {
  if (n <= 6 || n == 9 || (n >= 11 && n <= 16) || n == 83 || n == 84) return true;
  if (n < 86 || n >= 86 + 19 * nHx) return false;
  const int j = (n - 86) % 19;
  return (j >= 2 && j <= 9) || j == 12 || j == 17;
}

// A power law raises flows, temperature differences and Rayleigh numbers to
// these exponents: within +-10 the powers stay finite for any store.
bool isExponentParameter(int n, int nHx) {
  if (n < 86 || n >= 86 + 19 * nHx) return false;
  const int j = (n - 86) % 19;
  return j >= 13 && j <= 16;
}

namespace {

// The host passes the same parameters at every call; reading them again
// gives the same fields, except those that a call changes after reading
// them: the ports' and the Hx' effective ends.
bool sameParameters(State& st, const double* par) {
  if (!st.parametersCurrent) return false;
  // Bit for bit: -0 is not 0, and a NaN is the same NaN.
  // NOLINTNEXTLINE(bugprone-suspicious-memory-comparison): the bits are what counts
  if (std::memcmp(par, st.parametersRead.data(), sizeof(double) * kNumParameters) != 0) {
    return false;
  }
  for (DirectPort& port : st.ports) {
    port.zIn = port.zA;
    port.zOut = port.zB;
  }
  for (int k = 0; k < hxInUse(st.store); ++k) {
    HxRecord& hx = st.hx[static_cast<std::size_t>(k)];
    hx.zInHx = hx.zInPar;
    hx.zOutHx = hx.zOutPar;
    hx.flowUp = hx.zOutHx > hx.zInHx ? -1 : 0;
  }
  return true;
}

}  // namespace

void readParameters(State& st, HostServices& host, const double* par) {
  if (sameParameters(st, par)) return;
  Store& s = st.store;
  ++s.readings;
  s.volume = at(par, 1);
  s.density = at(par, 2);
  s.cpStore = at(par, 3) * 1000.0;
  s.lambda = at(par, 4);
  s.height = at(par, 5);
  s.T_init = at(par, 6);
  s.maxPlugs = truncateToInt(at(par, 7));
  s.minPlugHeight = heightPerPlug(s.maxPlugs);
  s.minPlugs = truncateToInt(at(par, 8));
  s.maxPlugHeight = heightPerPlug(s.minPlugs);
  s.minDeltaT = at(par, 9);
  s.startProfileSwitch = truncateToInt(at(par, 10));
  s.T_ref = at(par, 11);
  s.T_refK = s.T_ref + 273.15;
  s.uaBottom = at(par, 12);
  s.uaSide1 = at(par, 13);
  s.uaSide2 = at(par, 14);
  s.uaSide3 = at(par, 15);
  s.uaTop = at(par, 16);
  s.sumUApar = s.uaBottom + s.uaSide1 + s.uaSide2 + s.uaSide3 + s.uaTop;

  s.zTop = kZTop;
  s.iteMaxHx = 5;
  s.iteMaxNoHx = 2;
  s.relaxHx = 0.8;
  s.relaxNoHx = 1.0;
  s.cleanSwitch = -1;
  s.capTot = s.volume * s.density * at(par, 3) * 1000.0;
  s.A = s.volume / s.height;

  for (int d = 1; d <= kNumPorts; ++d) {
    DirectPort& port = st.ports[static_cast<std::size_t>(d - 1)];
    const int p = 21 + 4 * (d - 1);
    port.zA = relToInt(at(par, p));
    port.zB = relToInt(at(par, p + 1));
    port.zIn = port.zA;
    port.zOut = port.zB;
    port.cp = at(par, 3) * 1000.0;
    port.inletMode = at(par, p + 3) > 0.5 ? -1 : 0;
  }

  for (int i = 0; i < kNumSensors; ++i)
    s.zSensor[static_cast<std::size_t>(i)] = relToInt(at(par, 61 + i));
  for (int i = 0; i < kNumZones; ++i) {
    s.zZoneLow[static_cast<std::size_t>(i)] = relToInt(at(par, 71 + 2 * i));
    s.zZoneHigh[static_cast<std::size_t>(i)] = relToInt(at(par, 72 + 2 * i));
  }
  s.barrierMode = truncateToInt(at(par, 81));
  s.zBarrier = relToInt(at(par, 82));
  s.tBarrier = at(par, 83);
  s.uaBarrier = at(par, 84);
  s.nHx = truncateToInt(at(par, 85));

  // The table has six records: a larger count is reported at the initial
  // call and reads no further than the sixth block.
  for (int k = 1; k <= hxInUse(s); ++k) {
    readHx(st.hx[static_cast<std::size_t>(k - 1)], host, par, hxFirstParameter(k));
  }

  for (int i = 0; i < kNumHeatInputs; ++i) {
    s.zHeatA[static_cast<std::size_t>(i)] = at(par, 200 + i);
    s.zHeatB[static_cast<std::size_t>(i)] = at(par, 210 + i);
  }

  // Bad Hx heights are reported at every reading: those parameters are read
  // again at every call.
  st.parametersCurrent = true;
  for (int k = 1; k <= hxInUse(s); ++k) {
    const HxRecord& hx = st.hx[static_cast<std::size_t>(k - 1)];
    if (hxInletOutOfRange(hx) || hxOutletOutOfRange(hx) || hxEndsTooClose(hx)) {
      st.parametersCurrent = false;
    }
  }
  std::copy_n(par, kNumParameters, st.parametersRead.begin());
}

bool checkParameters(State& st, HostServices& host, const double* par) {
  const Store& s = st.store;
  Checker c(host);

  // 1. Port heights. A used port needs A above the bottom and B inside the
  // store; B below the bottom would draw fluid from outside the store.
  for (int d = 1; d <= kNumPorts; ++d) {
    const DirectPort& port = st.ports[static_cast<std::size_t>(d - 1)];
    if (!portUsed(port)) continue;
    if (port.zA <= 0) {
      c.fail(21 + 4 * (d - 1), "Inlet or outlet heights are out of range");
    } else if (port.zB >= kZTop || port.zB < 0) {
      c.fail(22 + 4 * (d - 1), "Inlet or outlet heights are out of range");
    }
  }
  // 2 ... 12.
  if (s.nHx > kMaxHx) c.fail(85, "The number of immersed heat exchangers is larger than 6");
  if (s.volume <= 0.0) c.fail(1, "Storage volume can not be negative");
  if (s.density <= 0.0) c.fail(2, "Density can not be negative");
  if (s.cpStore <= 0.0) c.fail(3, "Specific capacity can not be negative");
  if (s.lambda < 0.0) c.fail(4, "Thermal conductivity can not be negative");
  if (s.height <= 0.0) c.fail(5, "The height of the storage can not be negative");
  if (s.minPlugs < 10 || s.minPlugs > 400) {
    c.fail(8, "The minimum number of plugs are either too low or too high");
  }
  if (s.maxPlugs < 10 || s.maxPlugs <= s.minPlugs || s.maxPlugs > 400) {
    c.fail(7, "The maximum number of plugs is either too low or too high");
  }
  if (s.minDeltaT < 0.0) {
    c.fail(9, "The minimum temperature difference between two plugs can not be negative");
  }
  if (s.T_ref <= -273.15) c.fail(11, "The reference temperature is below 273.15 K");
  // No water store starts beyond these; far beyond them the plugs would be
  // hotter than the top of the chain.
  if (s.T_init <= -273.15 || s.T_init > kMaxTemperature) {
    c.fail(6, "The initial temperature is at or below absolute zero or above 10000 degC");
  }
  if (s.T_ref > kMaxTemperature) c.fail(11, "The reference temperature is above 10000 degC");
  for (int i = 1; i <= 5; ++i) {
    if (at(par, 11 + i) < 0.0) c.fail(11 + i, "Ua can not be negative");
  }

  // A heat input above the top lies in no plug: its heat would vanish.
  for (int i = 0; i < kNumHeatInputs; ++i) {
    if (s.zHeatA[static_cast<std::size_t>(i)] > 1.0) {
      c.fail(200 + i, "Height of heat input is above the top of the store (more than 1)");
    }
  }
  for (int i = 0; i < kNumHeatInputs; ++i) {
    if (s.zHeatB[static_cast<std::size_t>(i)] > 1.0) {
      c.fail(210 + i, "Height of heat input is above the top of the store (more than 1)");
    }
  }
  // Every CV of an Hx needs at least one height unit, or its step is 0.
  for (int k = 1; k <= hxInUse(s); ++k) {
    const HxRecord& hx = st.hx[static_cast<std::size_t>(k - 1)];
    const int64_t span = static_cast<int64_t>(hx.zHxHigh) - static_cast<int64_t>(hx.zHxLow);
    if (hx.numberOfHxCv > span) {
      c.fail(hxFirstParameter(k) + 10,
             "More control volumes for Hx than height units between its inlet and outlet");
    }
  }
  for (int n = 1; n <= kNumParameters; ++n) {
    if (!std::isfinite(at(par, n))) {
      c.fail(n, "Parameter is not a finite number (NaN or infinite)");
    } else if (isQuantityParameter(n, hxInUse(s)) && outsideAnyStore(at(par, n))) {
      c.fail(n, "Parameter is out of range: its size must be 0 or from 1E-12 to 1E+12");
    } else if (isExponentParameter(n, hxInUse(s)) && std::fabs(at(par, n)) > kMaxExponent) {
      c.fail(n, "Exponent of a heat-transfer law is out of range (-10 ... 10)");
    }
  }

  // The Hx height checks were reported by the parameter reading of this
  // call; a failed one stops the set-up as well.
  for (int k = 1; k <= hxInUse(s); ++k) {
    const HxRecord& hx = st.hx[static_cast<std::size_t>(k - 1)];
    if (hxInletOutOfRange(hx) || hxOutletOutOfRange(hx) || hxEndsTooClose(hx)) c.noteFailed();
  }
  return c.ok();
}

namespace {

// Inputs beyond these sizes belong to no store, and their products with
// capacitances, areas and time steps could leave the range of the
// arithmetic: they stop the store as a NaN input does.
constexpr double kMaxHeatInput = 1e9;  // kW

[[noreturn]] void inputOutOfRange(State& st, HostServices& host, int n, std::string_view what,
                                  double value, std::string_view limit) {
  TextLine text;
  text << "Input " << n << " is out of range: " << what << " " << value << ", " << limit;
  fatalStop(st, host, "FATAL", text.view());
}

void checkTemperature(State& st, HostServices& host, int n, std::string_view what, double t) {
  if (t <= -273.15) inputOutOfRange(st, host, n, what, t, "at or below absolute zero");
  if (t > kMaxTemperature) inputOutOfRange(st, host, n, what, t, "above 10000 degC");
}

}  // namespace

void readInputs(State& st, HostServices& host, const double* xin) {
  // A broken input would spread NaN through the whole store: stop instead.
  // (x - x is 0 for a finite x, NaN for an infinity or a NaN.)
  const bool finite = allFinite(xin, kNumInputs);
  for (int n = 1; !finite && n <= kNumInputs; ++n) {
    if (!std::isfinite(at(xin, n))) {
      TextLine text;
      text << "Input " << n << " is not a finite number (NaN or infinite)";
      fatalStop(st, host, "FATAL", text.view());
    }
  }
  for (int n = 50; n <= 69; ++n) {
    if (std::fabs(at(xin, n)) > kMaxHeatInput) {
      inputOutOfRange(st, host, n, "heat input of", at(xin, n), "beyond 1E+09 kW");
    }
  }
  checkTemperature(st, host, 31, "ambient temperature of", at(xin, 31));

  Store& s = st.store;
  s.throughput = 0.0;
  for (int d = 1; d <= kNumPorts; ++d) {
    DirectPort& port = st.ports[static_cast<std::size_t>(d - 1)];
    const double m = at(xin, 3 * d - 1) / 3600.0;
    port.tIn = at(xin, 3 * d - 2);
    port.tInRev = at(xin, 3 * d);
    if (std::fabs(m) < kMDotMin) {
      port.mDot = 0.0;
      port.zIn = port.zA;
      port.zOut = port.zB;
    } else if (m < 0.0) {
      port.mDot = std::fabs(m);
      port.tIn = port.tInRev;
      port.zIn = port.zB;
      port.zOut = port.zA;
    } else {
      port.mDot = m;
      port.zIn = port.zA;
      port.zOut = port.zB;
    }
    if (port.mDot >= kMDotMin) {
      if (port.tIn < 0.1) {
        TextLine text;
        text << "Very low Temperature input (limited to 0.1) for one direct port = " << d;
        report(st, host, "WARNING", text.view());
        port.tIn = 0.1;
      } else if (port.tIn > 95.0) {
        TextLine text;
        text << "Very high Temperature input (limited to 95) for one direct port = " << d;
        report(st, host, "WARNING", text.view());
        port.tIn = 95.0;
      }
    }
    port.capFlow = port.cp * port.mDot * s.dtSec;
    s.throughput += port.capFlow;
  }
  if (s.throughput > 0.5 * s.capTot) {
    report(st, host, "WARNING",
           "More than half of the total capacitance of the store turned over by direct fluid "
           "inputs - choose smaller timesteps,smaller mass flow rates or larger store");
  }

  s.tAmb = at(xin, 31);

  s.hxActive = 0;
  for (int k = 1; k <= hxInUse(s); ++k) {
    HxRecord& hx = st.hx[static_cast<std::size_t>(k - 1)];
    const int i = 32 + 3 * (k - 1);
    const double m = at(xin, i + 1) / 3600.0;
    const double t = at(xin, i);
    const double tRev = at(xin, i + 2);
    if (std::fabs(m) < kMDotMin) {
      hx.mDotHx = 0.0;
      hx.zInHx = hx.zInPar;
      hx.zOutHx = hx.zOutPar;
      hx.tInHx = t;
    } else if (m < 0.0) {
      hx.mDotHx = std::fabs(m);
      hx.zInHx = hx.zOutPar;
      hx.zOutHx = hx.zInPar;
      hx.tInHx = tRev;
      hx.flowReversed = -1;
      s.hxActive = -1;
    } else {
      hx.mDotHx = m;
      hx.zInHx = hx.zInPar;
      hx.zOutHx = hx.zOutPar;
      hx.tInHx = t;
      hx.flowReversed = 0;
      s.hxActive = -1;
    }
    hx.flowUp = hx.zOutHx > hx.zInHx ? -1 : 0;
    if (hx.mDotHx > 0.0)
      checkTemperature(st, host, i + (m < 0.0 ? 2 : 0), "Hx inlet temperature of", hx.tInHx);
  }

  s.sumQHeatA = 0.0;
  s.sumQHeatB = 0.0;
  for (int i = 1; i <= kNumHeatInputs; ++i) {
    const auto u = static_cast<std::size_t>(i - 1);
    s.qHeatA[u] = 1000.0 * at(xin, 49 + i);
    s.qHeatB[u] = 1000.0 * at(xin, 59 + i);
    s.sumQHeatA += s.qHeatA[u];
    s.sumQHeatB += s.qHeatB[u];
  }
}

bool outputWritten(int n, int nHx) {
  if (n < 1 || n > kNumOutputs || n == 202 || (n >= 156 && n <= 175)) return false;
  if (n >= 96 && n <= 155) return (n - 96) / 10 < nHx;
  return true;
}

void writeOutputs(const State& st, HostServices& host, double* out) {
  const Store& s = st.store;
  const Balance& b = st.bal;
  for (int d = 1; d <= kNumPorts; ++d) {
    const DirectPort& port = st.ports[static_cast<std::size_t>(d - 1)];
    setOut(out, 2 * d - 1, port.tOut);
    setOut(out, 2 * d, port.mDot * 3600.0);
  }
  if (st.sw.debugLogSwitch == 1) host.debugLine("DB(STRATVAN): SET OUTPUTS");

  for (int i = 1; i <= 10; ++i) {
    const auto k = Store::kReadOutputs + static_cast<std::size_t>(i - 1);
    setOut(out, 20 + i, profileAt(s, s.profileReads[k], profileOutputHeight(i)));
  }
  for (int d = 1; d <= kNumPorts; ++d) {
    const DirectPort& port = st.ports[static_cast<std::size_t>(d - 1)];
    setOut(out, 30 + d, port.qPort / 1000.0);
    setOut(out, 40 + d, port.sPort / 1000.0);
    setOut(out, 50 + d, port.exPort / 1000.0);
  }
  setOut(out, 61, b.E / 1e6);
  setOut(out, 62, b.S / 1e6);
  setOut(out, 63, b.Ex / 1e6);
  setOut(out, 64, b.bal / 1000.0);
  setOut(out, 65, b.E / s.capTot + s.T_ref);
  setOut(out, 66, b.nPlugsFlow);
  setOut(out, 67, b.dtSec / 3600.0);
  setOut(out, 68, b.sumQLoss / 1000.0);
  setOut(out, 69, b.sLossStep / (b.dtSec * 1000.0));
  setOut(out, 70, b.exLossStep / (b.dtSec * 1000.0));
  for (int i = 1; i <= kNumSensors; ++i)
    setOut(out, 70 + i, b.tSensor[static_cast<std::size_t>(i - 1)]);
  setOut(out, 81, b.sRes / 1000.0);
  setOut(out, 82, b.sResMean / 1000.0);
  setOut(out, 83, b.sDot / 1000.0);
  setOut(out, 84, b.sDotMean / 1000.0);
  setOut(out, 85, b.sPortSum / 1000.0);
  setOut(out, 86, b.sPortMean / 1000.0);
  setOut(out, 87, b.sLossDot / 1000.0);
  setOut(out, 88, 0.0);
  setOut(out, 89, b.exRes / 1000.0);
  setOut(out, 90, b.exResMean / 1000.0);
  for (int i = 1; i <= kNumZones; ++i)
    setOut(out, 90 + i, b.tZone[static_cast<std::size_t>(i - 1)]);

  for (int k = 1; k <= hxInUse(s); ++k) {
    const HxRecord& hx = st.hx[static_cast<std::size_t>(k - 1)];
    const int o = 96 + 10 * (k - 1);
    setOut(out, o, hx.lmtd);
    setOut(out, o + 1, hx.uaHx / 1000.0);
    setOut(out, o + 2, hx.effectiveness);
    setOut(out, o + 3, hx.hInMean / 1000.0);
    setOut(out, o + 4, hx.hWallMean / 1000.0);
    setOut(out, o + 5, hx.hOutMean / 1000.0);
    setOut(out, o + 6, hx.tOutHx);
    setOut(out, o + 7, hx.tInHx);
    setOut(out, o + 8, hx.qLoss / 1000.0);
    setOut(out, o + 9, hx.qUtil / 1000.0);
  }

  setOut(out, 176, b.sumQV / 1000.0);
  setOut(out, 177, b.sumQLoss / 1000.0);
  setOut(out, 178, b.sumQAcum / 1000.0);
  setOut(out, 179, b.dEinpTot / 1000.0);
  setOut(out, 180, b.tAvg);
  setOut(out, 181, (s.sumQHeatA + s.sumQHeatB) / 1000.0);
  const double zTop = s.zTop;
  for (std::size_t i = 0; i < kNumHeatInputs; ++i) {
    const double zA = s.zHeatA[i];
    const double zB = s.zHeatB[i];
    const ProfileRead& readA = s.profileReads[Store::kReadHeatA + i];
    const ProfileRead& readB = s.profileReads[Store::kReadHeatB + i];
    setOut(out, 182 + static_cast<int>(i), zA > 0.0 ? profileAt(s, readA, zTop * zA) : 0.0);
    setOut(out, 192 + static_cast<int>(i), zB > 0.0 ? profileAt(s, readB, zTop * zB) : 0.0);
  }
}

}  // namespace plugstore
