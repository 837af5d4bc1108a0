// The output calculation: port flows, energy and balance, profile.
#include "host/outputs.h"

#include <gtest/gtest.h>

#include <cmath>

#include "support/fixtures.h"
#include "support/uniform_chain.h"

namespace plugstore::test {
namespace {

class Outputs : public ::testing::Test {
 protected:
  void SetUp() override {
    Store& s = st.store;
    s.T_ref = 20.0;
    s.T_refK = 293.15;
    s.dtSec = 3600.0;
    s.zSensor = {0, kZTop, 450000};
    for (std::size_t z = 0; z < kNumZones; ++z) {
      s.zZoneLow[z] = 200000 * static_cast<int32_t>(z);
      s.zZoneHigh[z] = s.zZoneLow[z] + 200000;
    }
    for (DirectPort& p : st.ports) p.zIn = p.zOut = -1000000;
  }
  State st;
  RecordingHost host;
};

TEST(Interpolation, BisectionOverTwentyPoints) {
  std::array<double, 20> x{};
  std::array<double, 20> y{};
  for (std::size_t i = 0; i < 20; ++i) {
    x[i] = 10.0 * static_cast<double>(i);
    y[i] = static_cast<double>(i % 2);
  }
  auto at = [&](double xv, int n = 20) {
    return vectorLinearInterpolation(n, x.data(), y.data(), xv, false);
  };
  EXPECT_EQ(at(-5.0), 0.0);
  EXPECT_EQ(at(500.0), 1.0);
  EXPECT_DOUBLE_EQ(at(182.5), 0.25);
  EXPECT_DOUBLE_EQ(at(70.0), 1.0);  // a point itself is the lower end
  EXPECT_DOUBLE_EQ(at(4.0, 2), 0.4);
}

TEST_F(Outputs, UniformStoreAtSixty) {
  buildUniformChain(st, 10, 60.0, 1.254e6);
  st.bal.E_old = 40.0 * 1.254e6;
  calculateOutputs(st, host);
  EXPECT_NEAR(st.bal.E, 40.0 * 1.254e6, 1e-6);
  EXPECT_NEAR(st.bal.tAvg, 60.0, 1e-12);
  EXPECT_NEAR(st.bal.S, 1.254e6 * std::log(333.15 / 293.15), 1e-6);
  EXPECT_NEAR(st.bal.bal, 0.0, 1e-9);
  for (double t : st.store.tProfile) EXPECT_EQ(t, 60.0);
  for (double t : st.bal.tSensor) EXPECT_EQ(t, 60.0);
  for (double t : st.bal.tZone) EXPECT_DOUBLE_EQ(t, 60.0);
}

// The profile's walk up the chain finds what the search from the bottom
// finds at each height, also where the top of a plug falls and where the
// plugs leave a gap (0 there).
TEST_F(Outputs, ProfileWalkAsTheSearchAtEachHeight) {
  st.store.capTot = 4.0;
  buildChain(st, {{1.0, 20.0, 0, 300000},
                  {1.0, 40.0, 100000, 200000},
                  {1.0, 60.0, 400000, 700000},
                  {1.0, 80.0, 700000, kZTop}});
  calculateOutputs(st, host);
  const Store& s = st.store;
  for (std::size_t i = 0; i < s.zProfile.size(); ++i) {
    EXPECT_EQ(s.tProfile[i], temperatureAtHeight(st, s.zProfile[i], true)) << i;
  }
  EXPECT_EQ(s.tProfile[7], 0.0);  // 375000, in the gap
}

TEST_F(Outputs, TwoLayerProfile) {
  st.store.capTot = 2.0;
  buildChain(st, {{1.0, 20.0, 0, 500000}, {1.0, 80.0, 500000, kZTop}});
  EXPECT_DOUBLE_EQ(temperatureAtHeight(st, 500000, true), 50.0);
  EXPECT_DOUBLE_EQ(temperatureAtHeight(st, 500000, false), 20.0);  // the lower plug
  EXPECT_DOUBLE_EQ(temperatureAtHeight(st, 250000, true), 20.0);
  EXPECT_DOUBLE_EQ(temperatureAtHeight(st, 100000, true), 20.0);
  EXPECT_DOUBLE_EQ(temperatureAtHeight(st, 750000, true), 80.0);
  EXPECT_DOUBLE_EQ(temperatureAtHeight(st, kZTop, true), 80.0);
  calculateOutputs(st, host);
  const Store& s = st.store;
  EXPECT_DOUBLE_EQ(
      vectorLinearInterpolation(20, s.zProfile.data(), s.tProfile.data(), 450000, false), 44.0);
  EXPECT_DOUBLE_EQ(st.bal.tSensor[0], 20.0);  // below the first profile point
  EXPECT_DOUBLE_EQ(st.bal.tSensor[1], 80.0);
  EXPECT_DOUBLE_EQ(st.bal.tSensor[2], 44.0);
  EXPECT_DOUBLE_EQ(st.bal.tZone[2], 50.0);
}

TEST_F(Outputs, OnlyPortsThatMovedFluidCarryHeat) {
  st.store.capTot = 2.0;
  buildChain(st, {{1.0, 20.0, 0, 500000}, {1.0, 80.0, 500000, kZTop}});
  auto port = [this](int d, double mDot, double tOut, int32_t zOut) -> DirectPort& {
    DirectPort& p = st.ports[static_cast<std::size_t>(d)];
    p.mDot = mDot;
    p.tIn = 10.0;
    p.tOut = tOut;
    p.zIn = 100000;
    p.zOut = zOut;
    p.cp = 4180.0;
    return p;
  };
  DirectPort& rest = port(0, kMDotMin, 99.0, 500000);  // exactly 1 kg/h: no part in the flow
  DirectPort& flow = port(1, 0.1, 80.0, 900000);       // tOut as the draw left it
  st.store.zZoneLow[0] = st.store.zZoneHigh[0] = 300000;
  calculateOutputs(st, host);
  EXPECT_EQ(rest.tOut, 20.0);  // the lower plug at a boundary
  EXPECT_EQ(rest.qPort, 0.0);
  EXPECT_EQ(rest.sPort, 0.0);
  EXPECT_DOUBLE_EQ(flow.qPort, 418.0 * (10.0 - 80.0));
  EXPECT_DOUBLE_EQ(flow.sPort, 418.0 * std::log(283.15 / 353.15));
  EXPECT_DOUBLE_EQ(flow.exPort, flow.qPort - 293.15 * flow.sPort);
  EXPECT_DOUBLE_EQ(st.bal.dEinpTot, flow.qPort);
  EXPECT_DOUBLE_EQ(st.bal.sPortMean, 418.0 * std::log(-70.0 / st.bal.tMeanStepK + 1.0));
  EXPECT_EQ(st.bal.tZone[0], 0.0);  // an empty zone
}

TEST_F(Outputs, BoilingAndBalanceLines) {
  st.store.capTot = 1.0e6;
  buildChain(st, {{1.0e6, 100.5, 0, kZTop}});
  st.bal.E_old = 80.0e6;  // 0.5e6 J more than at the start of the step
  calculateOutputs(st, host);
  EXPECT_NEAR(st.bal.bal, -0.5e6 / 3600.0, 1e-6);
  ASSERT_EQ(host.debugLines.size(), 1U);  // checks are off: no balance line
  EXPECT_EQ(host.debugLines[0],
            "PLUG FLOW: BOILING AVERAGE TEMPERATURE OF THE STORAGE TANK REACHED");
  host.clear();
  st.sw.consistencyCheckSwitch = -1;
  calculateOutputs(st, host);
  ASSERT_EQ(host.debugLines.size(), 2U);
  EXPECT_EQ(host.debugLines[1].rfind("TIME=", 0), 0U);
  EXPECT_NE(host.debugLines[1].find("Error GLOBAL MAIN balance power [W] bal="), std::string::npos);
}

}  // namespace
}  // namespace plugstore::test
