// Every written output against its position and scale in the host's output
// list, by raw number, independent of the catalog names.
#include <gtest/gtest.h>

#include "host/parameters.h"
#include "support/fixtures.h"

namespace plugstore::test {
namespace {

TEST(OutputList, EveryQuantityAtItsPositionWithItsScale) {
  State st;
  RecordingHost host;
  Store& s = st.store;
  Balance& b = st.bal;
  s.nHx = 6;
  s.capTot = 2.0e6;
  s.T_ref = 15.0;
  s.zTop = kZTop;
  // A profile of 1 K per 50000 units, 10 degC at the lowest point.
  for (int i = 0; i < kNumProfilePoints; ++i) {
    s.zProfile[static_cast<std::size_t>(i)] = 25000.0 + 50000.0 * i;
    s.tProfile[static_cast<std::size_t>(i)] = 10.0 + i;
  }
  for (int d = 1; d <= kNumPorts; ++d) {
    DirectPort& p = st.ports[static_cast<std::size_t>(d - 1)];
    p.tOut = 30.0 + d;
    p.mDot = 0.01 * d;
    p.qPort = 1000.0 * d;
    p.sPort = 100.0 * d;
    p.exPort = 10.0 * d;
  }
  b.E = 3.0e6;
  b.S = 5.0e5;
  b.Ex = 7.0e6;
  b.bal = 250.0;
  b.nPlugsFlow = 42;
  b.dtSec = 900.0;
  b.sumQLoss = 1500.0;
  b.sLossStep = 1.8e6;
  b.exLossStep = 2.7e6;
  for (int i = 0; i < kNumSensors; ++i) b.tSensor[static_cast<std::size_t>(i)] = 40.0 + i;
  b.sRes = 11.0;
  b.sResMean = 12.0;
  b.sDot = 13.0;
  b.sDotMean = 14.0;
  b.sPortSum = 15.0;
  b.sPortMean = 16.0;
  b.sLossDot = 17.0;
  b.exRes = 19.0;
  b.exResMean = 20.0;
  for (int i = 0; i < kNumZones; ++i) b.tZone[static_cast<std::size_t>(i)] = 50.0 + i;
  for (int k = 1; k <= kMaxHx; ++k) {
    HxRecord& hx = st.hx[static_cast<std::size_t>(k - 1)];
    hx.lmtd = 1.0 + k;
    hx.uaHx = 2000.0 * k;
    hx.effectiveness = 0.1 * k;
    hx.hInMean = 3000.0 * k;
    hx.hWallMean = 4000.0 * k;
    hx.hOutMean = 5000.0 * k;
    hx.tOutHx = 60.0 + k;
    hx.tInHx = 70.0 + k;
    hx.qLoss = 6000.0 * k;
    hx.qUtil = -7000.0 * k;
  }
  b.sumQV = 8000.0;
  b.sumQAcum = 9000.0;
  b.dEinpTot = -1000.0;
  b.tAvg = 55.5;
  s.sumQHeatA = 2500.0;
  s.sumQHeatB = 1500.0;
  for (int i = 0; i < kNumHeatInputs; ++i) {
    s.zHeatA[static_cast<std::size_t>(i)] = 0.1 * (i + 1) - 0.05;     // 0.05 ... 0.95
    s.zHeatB[static_cast<std::size_t>(i)] = i % 2 == 0 ? 0.0 : -0.5;  // off
  }
  s.zHeatB[9] = 1.0;

  Outputs out;
  out.fill(-999.0);
  writeOutputs(st, host, out.data());

  Outputs want;
  want.fill(-999.0);
  auto set = [&want](int n, double v) { want[static_cast<std::size_t>(n - 1)] = v; };
  for (int d = 1; d <= kNumPorts; ++d) {
    set(2 * d - 1, 30.0 + d);
    set(2 * d, 0.01 * d * 3600.0);
    set(30 + d, d);
    set(40 + d, 0.1 * d);
    set(50 + d, 0.01 * d);
  }
  for (int i = 1; i <= 10; ++i) set(20 + i, 10.5 + 2.0 * (i - 1));  // 0.05, 0.15, ... 0.95
  set(61, 3.0);
  set(62, 0.5);
  set(63, 7.0);
  set(64, 0.25);
  set(65, 3.0e6 / 2.0e6 + 15.0);
  set(66, 42.0);
  set(67, 0.25);
  set(68, 1.5);
  set(69, 1.8e6 / (900.0 * 1000.0));
  set(70, 2.7e6 / (900.0 * 1000.0));
  for (int i = 1; i <= 10; ++i) set(70 + i, 39.0 + i);
  for (int n = 81; n <= 87; ++n) set(n, (n - 70) / 1000.0);
  set(88, 0.0);
  set(89, 0.019);
  set(90, 0.020);
  for (int i = 1; i <= 5; ++i) set(90 + i, 49.0 + i);
  for (int k = 1; k <= kMaxHx; ++k) {
    const int o = 96 + 10 * (k - 1);
    set(o, 1.0 + k);
    set(o + 1, 2.0 * k);
    set(o + 2, 0.1 * k);
    set(o + 3, 3.0 * k);
    set(o + 4, 4.0 * k);
    set(o + 5, 5.0 * k);
    set(o + 6, 60.0 + k);
    set(o + 7, 70.0 + k);
    set(o + 8, 6.0 * k);
    set(o + 9, -7.0 * k);
  }
  set(176, 8.0);
  set(177, 1.5);
  set(178, 9.0);
  set(179, -1.0);
  set(180, 55.5);
  set(181, 4.0);
  for (int i = 1; i <= 10; ++i) {
    set(181 + i, 10.5 + 2.0 * (i - 1));  // A(i) at 0.1 i - 0.05
    set(191 + i, 0.0);
  }
  set(201, 29.0);  // B10 at the top: the highest profile point

  // Outputs 156 ... 175 and 202 keep the host's value.
  for (int n = 1; n <= kNumOutputs; ++n) {
    EXPECT_NEAR(output(out, n), output(want, n), 1e-9) << "output " << n;
  }
}

}  // namespace
}  // namespace plugstore::test
