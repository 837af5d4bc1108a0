// Stages 1 to 4 of the flow calculation and the whole calculation.
#include <gtest/gtest.h>

#include <bit>
#include <cstdint>

#include "plugs/flow.h"
#include "store/plug_table.h"
#include "support/fixtures.h"
#include "support/uniform_chain.h"

namespace plugstore::test {
namespace {

class FlowStages : public ::testing::Test {
 protected:
  void SetUp() override {
    for (int d = 1; d <= kNumPorts; ++d) set(d, -1000000, -1000000, 0.0);
    st.store.minPlugHeight = 1000;
    st.store.maxPlugHeight = kZTop;
  }
  DirectPort& set(int d, int32_t zIn, int32_t zOut, double mDot, double tIn = 20.0) {
    DirectPort& p = st.ports[static_cast<std::size_t>(d - 1)];
    p = DirectPort{};
    p.mDot = mDot;
    p.tIn = tIn;
    p.zIn = p.zA = zIn;
    p.zOut = p.zB = zOut;
    p.cp = 4180.0;
    p.capFlow = 4180.0 * mDot * 3600.0;
    return p;
  }
  double total() { return chainCap(st); }
  State st;
  RecordingHost host;
};

TEST_F(FlowStages, OutletsMoveOffInletsTowardsTheMiddle) {
  DirectPort& a = set(1, 500000, 500000, 0.1);  // 500000 counts as the lower half: up
  DirectPort& b = set(2, 500001, 500001, 0.1);  // down
  set(3, 501000, 100000, 0.1);                  // an inlet in a's way
  DirectPort& c = set(4, 200000, 800000, 0.0);  // no flow: stays, its inlet still counts
  DirectPort& e = set(5, 300000, 200000, 0.1);
  DirectPort& f = set(6, 900000, 600000, 0.1);  // shares an outlet with g, no inlet there
  DirectPort& g = set(7, 100000, 600000, 0.1);
  separateOutlets(st);
  EXPECT_EQ(a.zOut, 502000);
  EXPECT_EQ(b.zOut, 499001);
  EXPECT_EQ(c.zOut, 800000);
  EXPECT_EQ(e.zOut, 201000);
  EXPECT_EQ(f.zOut, 600000);
  EXPECT_EQ(g.zOut, 600000);
}

TEST_F(FlowStages, FaceFlowsAndTheShareFromAbove) {
  buildUniformChain(st, 4, 60.0, 4.0e6);
  DirectPort& p = set(1, 100000, 500000, 0.2);  // inlet inside a plug
  splitAtPortHeights(st, host);
  faceFlows(st);
  shareOutletFlows(st);
  std::vector<double> flows;
  for (int i : chainIndices(st)) flows.push_back(st.plugs[i].Flow);
  EXPECT_EQ(flows, (std::vector<double>{0.0, 0.2, 0.2, 0.0, 0.0}));
  EXPECT_EQ(st.bal.nPlugsFlow, 5);
  EXPECT_EQ(p.capAbove, 0.0);

  set(1, 900000, 500000, 0.2);  // inlet above the outlet
  splitAtPortHeights(st, host);
  faceFlows(st);
  shareOutletFlows(st);
  EXPECT_EQ(st.ports[0].capAbove, st.ports[0].capFlow);

  // 3 kg/s rise to the outlet at 0.5 while 1 kg/s passes down through it:
  // 2 arrive from below, 1 from above.
  buildUniformChain(st, 10, 60.0, 1.0e7);
  DirectPort& q = set(1, 200000, 500000, 3.0);
  set(2, 800000, 300000, 1.0);
  faceFlows(st);
  shareOutletFlows(st);
  EXPECT_NEAR(q.capAbove, q.capFlow / 3.0, 1e-6);
  EXPECT_NEAR(total(), 1.0e7, 1e-6);
}

// Face flows known to be all zero are not zeroed again: a record that
// joins the chain with an old flow must be zeroed all the same.
TEST_F(FlowStages, ZeroFlowsKeptSeeARecordJoiningWithAnOldFlow) {
  buildUniformChain(st, 2, 60.0, 2.0e6);
  set(1, 100000, kZTop, 0.2);
  faceFlows(st);
  unlinkPlug(st.plugs, 2);  // record 2 keeps its 0.2
  set(1, -1000000, -1000000, 0.0);
  faceFlows(st);
  EXPECT_EQ(splitPlug(st, host, 1, 250000), 2);
  faceFlows(st);
  for (int i : chainIndices(st)) EXPECT_EQ(std::bit_cast<uint64_t>(st.plugs[i].Flow), 0U);
}

TEST_F(FlowStages, OutletAboveEveryPlugDrawsFromBelow) {
  buildUniformChain(st, 10, 60.0, 1.0e7);
  st.plugs[highestPlug(st.plugs)].Temp = 70.0;
  const DirectPort& p = set(1, 200000, kZTop, 0.05, 30.0);  // reversed port, outlet at the top
  calculateFlow(st, host);
  EXPECT_DOUBLE_EQ(p.tOut, 70.0);
  EXPECT_NEAR(total(), 1.0e7, 1e-6);
  EXPECT_EQ(chainHeights(st).size(), static_cast<std::size_t>(countPlugs(st.plugs)));
  EXPECT_TRUE(host.messagesSent.empty());
}

TEST_F(FlowStages, NoActivePortStillSortsAdjustsAndCleans) {
  st.store.capTot = 3.0;
  buildChain(st, {{1.0, 60.0, 0, 100}, {1.0, 40.0, 100, 200}, {1.0, 50.0, 200, 300}});
  set(1, 100000, 900000, kMDotMin);  // exactly 1 kg/h moves nothing
  st.sw.debugLogSwitch = 1;
  calculateFlow(st, host);
  EXPECT_EQ(chainTemps(st), (std::vector<double>{40.0, 50.0, 60.0}));
  EXPECT_EQ(chainHeights(st), (std::vector<int32_t>{333333, 333333, 333334}));
  for (int i : chainIndices(st)) EXPECT_EQ(st.plugs[i].Flow, 0.0);
  ASSERT_EQ(host.debugLines.size(), 8U);  // the stage banners
  EXPECT_EQ(host.debugLines.back(), "DB(STRATVAN): FLOW CALCULATION AFTER CLEAN");
}

}  // namespace
}  // namespace plugstore::test
