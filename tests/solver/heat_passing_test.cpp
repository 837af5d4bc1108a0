#include <gtest/gtest.h>

#include "solver/heat_helpers.h"
#include "solver/solver.h"
#include "support/fixtures.h"

namespace plugstore {
namespace {

using test::buildChain;
using test::RecordingHost;

class HeatPassing : public ::testing::Test {
 protected:
  void SetUp() override { test::setStore(st, 0.3, 1.5, 0.0); }
  State st;
  RecordingHost host;
};

TEST_F(HeatPassing, CVHeatIsSplitByHeightOverlap) {
  // One CV over two plugs, 40 % and 60 % of its height.
  buildChain(st, {{1e5, 40.0, 0, 440000}, {1e5, 40.0, 440000, kZTop}});
  test::makeHx(st.hx[0], 1, 400000, 500000, 40.0);
  st.hx[0].qCv[1] = -100.0;  // 100 W from the coil into the store
  getQvFromHeatExchanger(st, host, 1, 2);
  EXPECT_NEAR(st.plugs[1].qV, 40.0, 1e-12);
  EXPECT_NEAR(st.plugs[2].qV, 60.0, 1e-12);
  EXPECT_NEAR(st.solver.QvTank, 100.0, 1e-12);

  // A plug thinner than the CV takes its height share; a CV that takes heat
  // from the store counts negative.
  buildChain(st, {{1e5, 40.0, 0, 410000}, {1e3, 40.0, 410000, 430000}, {1e5, 40.0, 430000, kZTop}});
  test::makeHx(st.hx[0], 2, 400000, 600000, 40.0);
  st.hx[0].qCv[1] = -50.0;
  st.hx[0].qCv[2] = 30.0;
  getQvFromHeatExchanger(st, host, 1, 3);
  EXPECT_NEAR(st.plugs[1].qV, 50.0 * 0.1, 1e-12);
  EXPECT_NEAR(st.plugs[2].qV, 50.0 * 0.2, 1e-12);
  EXPECT_NEAR(st.plugs[3].qV, 50.0 * 0.7 - 30.0, 1e-12);
}

TEST_F(HeatPassing, HighestCVIsDividedByItsOwnHeight) {
  // Seven CVs from 200000 to 600000: dzCv 57142, the highest CV spans
  // 542852 ... 600000, six units more.
  buildChain(st, {{1e5, 40.0, 0, 570000}, {1e5, 40.0, 570000, kZTop}});
  HxRecord& hx = st.hx[0];
  test::makeHx(hx, 7, 200000, 600000, 40.0);
  ASSERT_EQ(hx.zCv[7], 542852);
  for (std::size_t c = 1; c <= 7; ++c) hx.qCv[c] = -10.0 * static_cast<double>(c);
  getQvFromHeatExchanger(st, host, 1, 2);
  EXPECT_NEAR(st.plugs[1].qV + st.plugs[2].qV, 280.0, 1e-9);  // all of it, no more
  EXPECT_NEAR(st.plugs[2].qV, 70.0 * 30000.0 / 57148.0, 1e-9);
}

TEST_F(HeatPassing, HeatInputsGoToThePlugAtTheirHeight) {
  buildChain(st, {{1e5, 40.0, 0, 500000}, {1e5, 40.0, 500000, kZTop}});
  EXPECT_EQ(plugAtHeight(st.plugs, 500000.0), 1);  // a boundary belongs to the lower plug
  EXPECT_EQ(plugAtHeight(st.plugs, 500000.5), 2);
  EXPECT_EQ(plugAtHeight(st.plugs, 1e6 + 1.0), 0);
  Store& s = st.store;
  s.zHeatA[2] = 0.5;
  s.qHeatA[2] = 2000.0;
  s.zHeatB[2] = 0.75;
  s.qHeatB[2] = 300.0;
  s.zHeatA[0] = 0.0;  // switched off
  s.qHeatA[0] = 5000.0;
  s.zHeatB[4] = -0.2;
  s.qHeatB[4] = 7000.0;
  s.zHeatA[5] = 1.5;  // above the store: no plug receives it
  s.qHeatA[5] = 900.0;
  st.plugs[50].qV = 123.0;  // stale value in a free record
  st.plugs[1].CapSolver = 7.0;
  getQvFromHeatExchanger(st, host, 0, 2);
  EXPECT_EQ(st.plugs[1].qV, 2000.0);
  EXPECT_EQ(st.plugs[2].qV, 300.0);
  EXPECT_EQ(st.plugs[50].qV, 0.0);
  EXPECT_EQ(st.plugs[1].CapSolver, 1e5);
  EXPECT_EQ(st.solver.QvTank, 0.0);  // heat inputs are not Hx heat
}

}  // namespace
}  // namespace plugstore
