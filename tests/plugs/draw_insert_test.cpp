// The outlet draw and the inlet insertion on hand-built chains.
#include <gtest/gtest.h>

#include "plugs/flow.h"
#include "store/plug_table.h"
#include "support/fixtures.h"

namespace plugstore::test {
namespace {

class Draw : public ::testing::Test {
 protected:
  // 10 J/K each at 10, 20, 30, 40 degC; the outlet lies below plug 3.
  void SetUp() override {
    buildChain(st, {{10.0, 10.0, 0, 250000},
                    {10.0, 20.0, 250000, 500000},
                    {10.0, 30.0, 500000, 750000},
                    {10.0, 40.0, 750000, 1000000}});
  }
  State st;
  RecordingHost host;
};

TEST_F(Draw, PartsAndWholePlugsAboveAndBelow) {
  EXPECT_DOUBLE_EQ(drawAtOutlet(st, host, 0.0, 4.0, 3), 20.0);
  EXPECT_DOUBLE_EQ(st.plugs[2].Cap, 6.0);
  EXPECT_DOUBLE_EQ(st.plugs[2].CapSolver, 10.0);  // the solver still sees the whole plug
  EXPECT_DOUBLE_EQ(drawAtOutlet(st, host, 15.0, 0.0, 3), (30.0 * 10 + 40.0 * 5) / 15);
  EXPECT_EQ(chainIndices(st), (std::vector<int>{1, 2, 4}));
  EXPECT_DOUBLE_EQ(drawAtOutlet(st, host, 0.0, 6.0, 4), 20.0);  // exactly one plug: whole
  EXPECT_EQ(chainIndices(st), (std::vector<int>{1, 4}));
  EXPECT_TRUE(host.messagesSent.empty());
}

TEST_F(Draw, MissingFluidComesFromBelowThenFromTheBottomUp) {
  // 25 above finds 20; 5 + 10 below; then 5 from the bottom up, which lowers
  // CapSolver as well.
  EXPECT_DOUBLE_EQ(drawAtOutlet(st, host, 25.0, 10.0, 3), (700.0 + 200.0 + 50.0) / 35);
  EXPECT_DOUBLE_EQ(st.plugs[1].CapSolver, 10.0);
  drawAtOutlet(st, host, 0.0, 2.0, 1);
  EXPECT_DOUBLE_EQ(st.plugs[1].Cap, 3.0);
  EXPECT_DOUBLE_EQ(st.plugs[1].CapSolver, 3.0);
  EXPECT_TRUE(host.messagesSent.empty());
}

TEST_F(Draw, NothingToDrawGivesTheTemperatureAtTheOutletNotNaN) {
  EXPECT_DOUBLE_EQ(drawAtOutlet(st, host, 0.0, 0.0, 3), 30.0);
  EXPECT_EQ(countPlugs(st.plugs), 4);
  EXPECT_TRUE(host.messagesSent.empty());
}

TEST_F(Draw, ShortageIsReportedOnlyBeyondRounding) {
  EXPECT_DOUBLE_EQ(drawAtOutlet(st, host, 20.0, 30.0, 3), 25.0);
  EXPECT_EQ(countPlugs(st.plugs), 0);
  ASSERT_EQ(host.messagesSent.size(), 1U);
  EXPECT_EQ(host.messagesSent[0].severity, "FATAL");
  EXPECT_EQ(host.messagesSent[0].text.rfind(
                "mass flow too large in the top or in the bottom of the store, zDown = ", 0),
            0U);
  host.clear();
  buildChain(st, {{10.0, 10.0, 0, 1000000}});
  drawAtOutlet(st, host, 0.0, 10.0 + 5e-11, kTopSentinel);  // phase 2 leaves the remainder
  EXPECT_TRUE(host.messagesSent.empty());
  buildChain(st, {{10.0, 10.0, 0, 1000000}});
  drawAtOutlet(st, host, 0.0, 10.0 + 2e-10, 1);
  EXPECT_EQ(host.countMessages("mass flow too large", "FATAL"), 1);
}

class Insert : public ::testing::Test {
 protected:
  void SetUp() override { buildChain(st, {{5.0, 20.0, 0, 500000}, {5.0, 60.0, 500000, kZTop}}); }
  void insert(int32_t zIn, double tIn, int32_t mode) {
    DirectPort& p = st.ports[0];
    p.capFlow = 1.0;
    p.zIn = zIn;
    p.tIn = tIn;
    p.inletMode = mode;
    insertAtInlet(st, host, 0);
  }
  State st;
  RecordingHost host;
};

TEST_F(Insert, SeekingInletFindsItsLayer) {
  insert(100000, 40.0, -1);
  EXPECT_EQ(st.ports[0].zIn, 500000);
  insert(900000, 5.0, -1);
  EXPECT_EQ(st.ports[0].zIn, 0);
  insert(100000, 60.0, -1);  // as warm as the warmest: on top
  EXPECT_EQ(st.ports[0].zIn, kZTop);
  EXPECT_EQ(chainTemps(st), (std::vector<double>{5, 20, 40, 60, 60}));
}

TEST_F(Insert, FixedInletSplitsAndMixesUpThenDown) {
  buildChain(st, {{5.0, 20.0, 0, 500000}, {5.0, 40.0, 500000, kZTop}});
  insert(300000, 90.0, 0);  // split 3 / 2, then (2 x 20 + 90 + 5 x 40) / 8
  const std::vector<int> idx = chainIndices(st);
  ASSERT_EQ(idx.size(), 4U);
  EXPECT_DOUBLE_EQ(st.plugs[idx[0]].Cap, 3.0);
  EXPECT_DOUBLE_EQ(st.plugs[idx[0]].Temp, 20.0);
  for (int i = 1; i < 4; ++i) EXPECT_DOUBLE_EQ(st.plugs[idx[i]].Temp, 41.25);

  // Up: (30 + 50) / 2; down again from the new plug's own capacitance.
  buildChain(st, {{1.0, 60.0, 0, 500000}, {1.0, 30.0, 500000, kZTop}});
  insert(500000, 50.0, 0);
  EXPECT_EQ(chainTemps(st), (std::vector<double>{50, 50, 40}));

  // Above a top left stale by the draw: put on top, no mixing.
  buildChain(st, {{5.0, 20.0, 0, 500000}, {5.0, 60.0, 500000, 800000}});
  insert(900000, 10.0, 0);
  EXPECT_EQ(chainTemps(st), (std::vector<double>{20, 60, 10}));
}

}  // namespace
}  // namespace plugstore::test
