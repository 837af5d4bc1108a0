// Boundary cases of the insertion, the outlet shares and the clean-up walk.
#include <gtest/gtest.h>

#include "plugs/flow.h"
#include "store/plug_table.h"
#include "support/fixtures.h"

namespace plugstore::test {
namespace {

class FlowDetails : public ::testing::Test {
 protected:
  // 20 degC below 60 degC, with start temperatures 11 and 22 degC.
  void twoLayers(int32_t zTopOfUpper = kZTop) {
    buildChain(st, {{5.0, 20.0, 0, 500000}, {5.0, 60.0, 500000, zTopOfUpper}});
    st.plugs[1].Temp0 = 11.0;
    st.plugs[2].Temp0 = 22.0;
  }
  int insert(int32_t zIn, double tIn) {
    DirectPort& p = st.ports[0];
    p.capFlow = 1.0;
    p.zIn = zIn;
    p.tIn = tIn;
    p.inletMode = 0;
    insertAtInlet(st, host, 0);
    for (int i : chainIndices(st)) {
      if (i > 2) return i;  // the records 1 and 2 were in the chain before
    }
    return -1;
  }
  State st;
  RecordingHost host;
};

TEST_F(FlowDetails, NewPlugTakesTheStartTemperatureOfThePlugItIsPutAgainst) {
  twoLayers();
  int n = insert(0, 5.0);  // below the lowest plug: its Temp0, not the sentinel's
  EXPECT_EQ(chainIndices(st).front(), n);
  EXPECT_DOUBLE_EQ(st.plugs[n].Temp0, 11.0);

  twoLayers();
  n = insert(500000, 30.0);  // on the top of the lower plug: the lower plug's Temp0
  EXPECT_EQ(chainIndices(st), (std::vector<int>{1, n, 2}));
  EXPECT_DOUBLE_EQ(st.plugs[n].Temp0, 11.0);

  twoLayers();
  n = insert(300000, 90.0);  // split, then mixed upwards: Temp changes, Temp0 does not
  for (int i : chainIndices(st)) EXPECT_DOUBLE_EQ(st.plugs[i].Temp0, i == 2 ? 22.0 : 11.0);
  EXPECT_GT(st.plugs[n].Temp, 20.0);
  EXPECT_LT(st.plugs[n].Temp, 90.0);

  twoLayers(800000);  // top left stale by a draw: put on top with the highest plug's Temp0
  n = insert(900000, 10.0);
  EXPECT_EQ(chainIndices(st).back(), n);
  EXPECT_DOUBLE_EQ(st.plugs[n].Temp0, 22.0);
}

TEST_F(FlowDetails, OutletSharesAcceptFlowsShortByTheTolerance) {
  buildChain(st, {{5.0, 20.0, 0, 500000}, {5.0, 60.0, 500000, kZTop}});
  for (DirectPort& p : st.ports) p.zIn = p.zOut = -1000000;
  DirectPort& port = st.ports[0];
  port.zIn = 900000;
  port.zOut = 500000;  // m = plug 2, the plug below it is plug 1
  port.mDot = 0.2;
  port.capFlow = 1000.0;
  auto share = [&](double flowAbove, double flowBelow) {
    st.plugs[2].Flow = flowAbove;
    st.plugs[1].Flow = flowBelow;
    port.capAbove = -1.0;
    shareOutletFlows(st);
    return port.capAbove;
  };
  // Exactly 1e-10 short of the port's flow still counts as the whole flow.
  EXPECT_EQ(share(-(port.mDot - 1e-10), 0.1), 1000.0);
  EXPECT_EQ(share(-0.05, port.mDot - 1e-10), 0.0);
  // Further short, the flows meeting at the outlet share it.
  EXPECT_DOUBLE_EQ(share(-(port.mDot - 2e-10), 0.1),
                   (port.mDot - 2e-10) / (port.mDot - 2e-10 + 0.1) * 1000.0);
  EXPECT_DOUBLE_EQ(share(-0.05, 0.2 - 2e-10), 0.05 / (0.25 - 2e-10) * 1000.0);
}

TEST_F(FlowDetails, SimilarityWithTheBottomSentinelIsRefusedAndTheWalkGoesOn) {
  buildChain(st, {{1.0, 20.0, 0, 100000}, {1.0, 21.0, 100000, 200000}, {1.0, 80.0, 200000, kZTop}});
  // 20 degC lies within 300 K of the sentinel's -273.15 degC.
  cleanPlugs(st, host, 1000, kZTop, 300.0);
  EXPECT_EQ(chainIndices(st), (std::vector<int>{3}));
  EXPECT_DOUBLE_EQ(st.plugs[3].Temp, (20.0 + 21.0 + 80.0) / 3.0);
  EXPECT_EQ(st.plugs[3].zDown, 0);
  EXPECT_EQ(st.plugs[3].zUp, kZTop);
  EXPECT_TRUE(host.messagesSent.empty());
}

}  // namespace
}  // namespace plugstore::test
