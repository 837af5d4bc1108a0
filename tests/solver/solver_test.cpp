#include "solver/solver.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <limits>

#include "solver/heat_helpers.h"
#include "support/fixtures.h"

namespace plugstore {
namespace {

using test::buildChain;
using test::RecordingHost;

TEST(SolverHelpers, LogMeanTemperatureDifferenceAndLargestChange) {
  EXPECT_DOUBLE_EQ(logMeanTempDiff(60.0, 50.0, 40.0), 10.0 / std::log(2.0));
  EXPECT_EQ(logMeanTempDiff(55.0, 55.0, 40.0), 0.0);  // equal: 0, not 15
  EXPECT_EQ(logMeanTempDiff(30.0, 35.0, 40.0), 0.0);  // discharging
  const std::array<double, 5> a{99.0, 1.0, -2.0, 3.0, 50.0};
  const std::array<double, 5> b{0.0, 1.5, 1.0, 3.0, 0.0};
  EXPECT_EQ(maxAbsChange(a, b, 3), 3.0);  // element 0 is not looked at
  EXPECT_EQ(maxAbsChange(a, b, 4), 50.0);
  EXPECT_EQ(maxAbsChange(a, b, 0), 0.0);
}

class Solver : public ::testing::Test {
 protected:
  void SetUp() override {
    test::setStore(st, 0.3, 1.5, 0.0);
    buildChain(st, {{kCap, 40.0, 0, kZTop}});
  }
  // Heat input giving the single plug a rise of dT in one hour.
  void heatFor(double dT) {
    st.store.zHeatA[0] = 0.5;
    st.store.qHeatA[0] = dT * kCap / 3600.0;
  }
  static constexpr double kCap = 1e6;
  State st;
  RecordingHost host;
};

TEST_F(Solver, WithoutActiveHxTwoSolvesAtMost) {
  heatFor(10.0);
  st.sw.debugLogSwitch = 1;
  solveCondHx(st, host, 1, 3600.0);
  EXPECT_EQ(st.solver.ite, 2);
  EXPECT_EQ(st.solver.solverStatus, 1);
  EXPECT_EQ(st.solver.errSolver, 0.0);
  EXPECT_NEAR(st.plugs[1].Temp, 50.0, 1e-12);
  EXPECT_EQ(st.plugs[1].TempStart, 40.0);
  ASSERT_EQ(host.debugLines.size(), 3U);
  EXPECT_EQ(host.debugLines[0], "DB(STRATVAN): START SOLVER COND+HX");
  EXPECT_EQ(host.debugLines[1].rfind("DB(STRATVAN): SOLVER COND+HX nIte 1 ERROR ", 0), 0U);
  EXPECT_EQ(host.debugLines[2], "DB(STRATVAN): SOLVER COND+HX nIte 2 ERROR 0.0");
}

TEST_F(Solver, ActiveHxRelaxesAndStopsAfterFiveSolves) {
  heatFor(10.0);
  st.store.hxActive = -1;
  st.sw.consistencyCheckSwitch = -1;
  solveCondHx(st, host, 1, 3600.0);
  // Changes 8, 1.6, 0.32, 0.064, 0.0128: never below 0.01.
  EXPECT_EQ(st.solver.ite, 5);
  EXPECT_EQ(st.solver.solverStatus, 3);
  EXPECT_NEAR(st.solver.errSolver, 0.0128, 1e-9);
  EXPECT_NEAR(st.plugs[1].Temp, 50.0, 1e-12);  // the plug keeps the solution itself
  EXPECT_NEAR(st.solver.tIter[1], 50.0 - 10.0 * std::pow(0.2, 5), 1e-9);
  ASSERT_EQ(host.debugLines.size(), 1U);
  EXPECT_EQ(host.debugLines[0].rfind("STORAGE+QV MAX NUM ITERATION with ite = 5  ERROR= 0.01", 0),
            0U)
      << host.debugLines[0];
}

TEST_F(Solver, RelaxedChangeIsWhatConverges) {
  st.store.hxActive = -1;
  heatFor(0.0124);  // relaxed change 0.00992
  solveCondHx(st, host, 1, 3600.0);
  EXPECT_EQ(st.solver.ite, 1);
  EXPECT_EQ(st.solver.solverStatus, 1);

  buildChain(st, {{kCap, 40.0, 0, kZTop}});
  heatFor(0.0126);  // relaxed change 0.01008
  solveCondHx(st, host, 1, 3600.0);
  EXPECT_EQ(st.solver.ite, 2);
  EXPECT_EQ(st.solver.solverStatus, 1);
}

TEST_F(Solver, LossAccumulationAndLossEntropyOfAPlug) {
  st.store.uaTop = 10.0;
  st.store.tAmb = 20.0;
  solveCondHx(st, host, 1, 3600.0);
  const double t1 = (kCap / 3600.0 * 40.0 + 10.0 * 20.0) / (kCap / 3600.0 + 10.0);
  const Plug& p = st.plugs[1];
  EXPECT_NEAR(p.Temp, t1, 1e-12);
  EXPECT_NEAR(p.qL, (t1 - 20.0) * 10.0, 1e-9);
  EXPECT_NEAR(p.qA, -p.qL, 1e-8);
  EXPECT_NEAR(p.sL, 3600.0 * p.qL / (40.0 + 273.15), 1e-9);
}

TEST_F(Solver, NonFiniteHeatEndsAsDiverged) {
  st.store.zHeatA[0] = 0.5;
  st.store.qHeatA[0] = std::numeric_limits<double>::quiet_NaN();
  EXPECT_THROW(solveCondHx(st, host, 1, 3600.0), FatalStop);
  EXPECT_EQ(st.solver.solverStatus, 2);
  EXPECT_EQ(host.countMessages("PLUG FLOW MODEL HAS DIVERGED", "Fatal"), 1);
  EXPECT_EQ(host.messagesSent.size(), 1U);
}

TEST_F(Solver, CoilHeatsTheStoreAndGetsItsEffectiveness) {
  HxRecord& hx = st.hx[0];
  test::makeHx(hx, 4, 100000, 500000, 40.0);
  test::constantUA(hx, 360.0, 0.002);
  hx.flowUp = -1;
  hx.mDotHx = 0.05;
  hx.tInHx = 60.0;
  st.store.nHx = 1;
  st.store.hxActive = -1;
  solveCondHx(st, host, 1, 600.0);
  EXPECT_GT(hx.qLoss, 0.0);
  EXPECT_NEAR(st.plugs[1].qV, hx.qLoss, 1e-9);
  EXPECT_NEAR((st.plugs[1].Temp - 40.0) * kCap / 600.0, hx.qLoss, 1e-6);
  EXPECT_GT(hx.effectiveness, 0.0);
  EXPECT_LT(hx.effectiveness, 1.0);
  EXPECT_NEAR(hx.effectiveness, (60.0 - hx.tOutHx) / (60.0 - hx.tStoreMean), 1e-12);
  EXPECT_GT(hx.lmtd, hx.tOutHx - hx.tStoreMean);
  EXPECT_LT(hx.lmtd, 60.0 - hx.tStoreMean);

  hx.mDotHx = 0.9 / 3600.0;
  solveCondHx(st, host, 1, 600.0);
  EXPECT_EQ(hx.lmtd, 0.0);
  EXPECT_EQ(hx.effectiveness, 0.0);
}

}  // namespace
}  // namespace plugstore
