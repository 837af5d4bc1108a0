#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <vector>

#include "correlations/correlations.h"
#include "solver/heat_helpers.h"
#include "solver/solver.h"
#include "support/recording_host.h"

namespace plugstore {
namespace {

using test::RecordingHost;

class HxModel : public ::testing::Test {
 protected:
  void SetUp() override { test::setStore(st, 0.3, 1.5, 0.0); }
  HxRecord& coil(int n, double t, double uaNominal, double volume) {
    HxRecord& hx = st.hx[0];
    test::makeHx(hx, n, 100000, 500000, t);
    test::constantUA(hx, uaNominal, volume);
    hx.flowUp = -1;
    return hx;
  }
  static void setStoreTemps(HxRecord& hx, const std::vector<double>& t) {
    for (std::size_t c = 0; c < t.size(); ++c) hx.tStore[c + 1] = t[c];
  }
  State st;
  RecordingHost host;
};

TEST_F(HxModel, NominalUAWithItsPowerLaws) {
  HxRecord& hx = coil(1, 40.0, 36.0, 0.002);
  hx.mDotHx = 0.1;
  hx.tInHx = 60.0;
  stepBystep(st, host, hx, 60.0);
  EXPECT_DOUBLE_EQ(hx.uaCv[1], 10.0);  // 36 kJ/(h K) whatever flow and temperatures
  EXPECT_DOUBLE_EQ(hx.uaHx, 10.0);
  hx.mDotHx = 0.0;
  hx.tCvOld[1] = 80.0;
  stepBystep(st, host, hx, 60.0);
  EXPECT_DOUBLE_EQ(hx.uaCv[1], 10.0);
  EXPECT_EQ(hx.uaHx, 0.0);  // a resting coil reports no UA

  coil(2, 40.0, 72.0, 0.002);  // the same record, now with two CVs
  hx.expFlow = 0.5;
  hx.mDotHx = 0.25;
  hx.tInHx = 40.0;  // no temperature difference: the flow factor alone
  stepBystep(st, host, hx, 60.0);
  EXPECT_NEAR(hx.uaCv[1], 36.0 * std::sqrt(0.25) / 3.6, 1e-12);
  // Resting, with all three exponents: the lowest CV's old temperature
  // stands in for the inlet, for every CV, and there is no flow factor.
  hx.expDeltaT = 0.3;
  hx.expTemp = 0.2;
  hx.mDotHx = 0.0;
  hx.tCvOld[1] = 70.0;
  hx.tCvOld[2] = 50.0;
  stepBystep(st, host, hx, 60.0);
  const double expected = 36.0 * std::pow(30.0, 0.3) * std::pow(55.0, 0.2) / 3.6;
  EXPECT_NEAR(hx.uaCv[1], expected, 1e-12);
  EXPECT_NEAR(hx.uaCv[2], expected, 1e-12);
}

TEST_F(HxModel, DownwardMarchMirrorsTheUpwardOne) {
  HxRecord& down = coil(4, 40.0, 300.0, 0.003);
  setStoreTemps(down, {20.0, 30.0, 40.0, 50.0});
  down.flowUp = 0;
  down.mDotHx = 0.05;
  down.tInHx = 70.0;
  stepBystep(st, host, down, 120.0);
  EXPECT_EQ(down.tNode[5], 70.0);
  EXPECT_EQ(down.tOutHx, down.tNode[1]);
  EXPECT_LT(down.tOutHx, down.tNode[2]);
  EXPECT_NEAR(down.balHx, 0.0, 1e-8);
  double given = 0.0;
  for (std::size_t c = 1; c <= 4; ++c) given -= down.qCv[c];
  EXPECT_NEAR(given, down.qLoss, 1e-9);
  EXPECT_GT(down.qLoss, 0.0);

  // The same coil upwards through the mirrored store.
  State other;
  test::setStore(other, 0.3, 1.5, 0.0);
  HxRecord& up = other.hx[0];
  test::makeHx(up, 4, 100000, 500000, 40.0);
  test::constantUA(up, 300.0, 0.003);
  setStoreTemps(up, {50.0, 40.0, 30.0, 20.0});
  up.flowUp = -1;
  up.mDotHx = 0.05;
  up.tInHx = 70.0;
  stepBystep(other, host, up, 120.0);
  EXPECT_EQ(up.tOutHx, down.tOutHx);
  EXPECT_EQ(up.qCv[1], down.qCv[4]);
  EXPECT_EQ(up.qLoss, down.qLoss);
}

TEST_F(HxModel, RestingCoilWithinAHundredthOfAKelvinStaysAsItWas) {
  HxRecord& hx = coil(3, 40.0, 300.0, 0.003);
  setStoreTemps(hx, {40.005, 39.99, 40.01});
  for (std::size_t c = 1; c <= 3; ++c) hx.uaCv[c] = 123.0;
  hx.tInHx = 75.0;
  stepBystep(st, host, hx, 60.0);
  EXPECT_EQ(hx.qLoss, 0.0);
  EXPECT_EQ(hx.qAcum, 0.0);
  EXPECT_EQ(hx.qUtil, 0.0);
  for (std::size_t j = 1; j <= 4; ++j) EXPECT_EQ(hx.tNode[j], 40.0);
  for (std::size_t c = 1; c <= 3; ++c) EXPECT_EQ(hx.uaCv[c], 123.0);
  EXPECT_EQ(hx.tOutHx, 40.0);
}

TEST_F(HxModel, RestingCoilRelaxesHalfwayButNotPastTheBound) {
  const double dt = 3600.0;
  const double cCv = 4180.0 * 1000.0 * 0.001 / dt / 2.0;
  HxRecord& hx = coil(2, 40.0, cCv * 3.6 * 2.0, 0.001);  // uaCv = cCv
  hx.tCvOld[1] = 90.0;
  hx.tCvOld[2] = 60.0;
  stepBystep(st, host, hx, dt);
  EXPECT_NEAR(hx.tNode[1], 65.0, 1e-12);  // halfway from 90 to 40
  EXPECT_NEAR(hx.tNode[2], 65.0, 1e-12);
  // Halfway would be 50, but the fluid stays at the mean of the store and
  // the fluid entering from below, 52.5.
  EXPECT_NEAR(hx.tNode[3], 2.0 * 52.5 - 65.0, 1e-12);
  EXPECT_NEAR(hx.qCv[1], (65.0 - 90.0) * cCv, 1e-9);
  EXPECT_NEAR(hx.qCv[2], (52.5 - 60.0) * cCv, 1e-9);
  EXPECT_NEAR(hx.qLoss, 32.5 * cCv, 1e-9);
  EXPECT_NEAR(hx.qAcum, -hx.qLoss, 1e-12);
  EXPECT_EQ(hx.balHx, 0.0);
}

TEST_F(HxModel, LimitedCVClosesItsOwnBalance) {
  HxRecord& hx = coil(1, 40.0, 36.0, 0.1);
  hx.tStore[1] = 50.0;
  hx.mDotHx = kMDotMin;
  hx.tInHx = 60.0;
  st.sw.consistencyCheckSwitch = -1;
  stepBystep(st, host, hx, 60.0);
  EXPECT_EQ(hx.tNode[2], 40.0);  // the unlimited value is about 20 degC
  const double cCv = 4180.0 * 1000.0 * 0.1 / 60.0;
  const double qUtil = kMDotMin * 4180.0 * (40.0 - 60.0);
  const double qAcum = (50.0 - 40.0) * cCv;
  EXPECT_NEAR(hx.qCv[1], qUtil + qAcum, 1e-9);
  EXPECT_NEAR(hx.balHx, 0.0, 1e-9);
  ASSERT_FALSE(host.debugLines.empty());
  EXPECT_EQ(host.debugLines[0].rfind("WARNING CV= 1  T= ", 0), 0U) << host.debugLines[0];
  for (const std::string& line : host.debugLines) EXPECT_EQ(line.find("balance FAIL"), line.npos);
}

TEST_F(HxModel, CorrelationsGiveAPlausibleCoil) {
  HxRecord& hx = st.hx[0];
  test::makeHx(hx, 10, 100000, 500000, 40.0);
  hx.dIn = 0.016;
  hx.dOut = 0.018;
  hx.lengthHx = 10.0;
  hx.lambdaWall = 380.0;
  hx.cpHx = 4180.0;
  hx.rhoHx = 1000.0;
  hx.volumeHx = std::numbers::pi / 4.0 * 0.016 * 0.016 * 10.0;
  hx.flowUp = -1;
  hx.mDotHx = 0.05;
  hx.tInHx = 60.0;
  stepBystep(st, host, hx, 60.0);
  EXPECT_TRUE(host.messagesSent.empty());
  EXPECT_NEAR(hx.hWallMean, 1.0 / (std::log(0.018 / 0.016) * 0.009 / 380.0), 1e-3);
  EXPECT_GT(hx.hInMean, 1000.0);  // turbulent water, Re about 7000
  EXPECT_GT(hx.hOutMean, 300.0);
  EXPECT_LT(hx.hOutMean, 2000.0);
  EXPECT_GT(hx.tOutHx, 40.0);
  EXPECT_LT(hx.tOutHx, 60.0);
  EXPECT_NEAR(hx.balHx, 0.0, 1e-8);
  hx.lambdaWall = 0.0;  // no wall conductance: no exchange
  stepBystep(st, host, hx, 60.0);
  EXPECT_EQ(hx.uaHx, 0.0);
}

TEST_F(HxModel, UnknownUAModelEndsTheSimulation) {
  HxRecord& hx = coil(2, 40.0, 36.0, 0.002);
  hx.uaModel = 7;
  hx.mDotHx = 0.1;
  hx.tInHx = 60.0;
  EXPECT_THROW(stepBystep(st, host, hx, 60.0), FatalStop);
  EXPECT_TRUE(st.stopped);
  ASSERT_EQ(host.messagesSent.size(), 1U);
  EXPECT_EQ(host.messagesSent[0].text, "Model for UA unknown=7");
  EXPECT_EQ(host.messagesSent[0].severity, "FATAL");
}

}  // namespace
}  // namespace plugstore
