#include "store/plug_table.h"

#include <gtest/gtest.h>

#include "support/fixtures.h"

namespace plugstore::test {
namespace {

class PlugTableTest : public ::testing::Test {
 protected:
  State st;
  RecordingHost host;
};

TEST_F(PlugTableTest, CountsTheChainAndAnEmptyChainIsZero) {
  buildChain(st, {{1.0, 20.0, 0, 500000}, {1.0, 60.0, 500000, 1000000}});
  EXPECT_EQ(countPlugs(st.plugs), 2);
  EXPECT_EQ(highestPlug(st.plugs), 2);
  buildChain(st, {});
  EXPECT_EQ(countPlugs(st.plugs), 0);
}

TEST_F(PlugTableTest, KeptChainOrderFollowsEveryChangeOfTheChain) {
  buildChain(st, {{1.0, 60.0, 0, 500000}, {1.0, 20.0, 500000, 1000000}});
  ASSERT_EQ(chainOrder(st), 2);
  swapWithAbove(st.plugs, 1);
  EXPECT_EQ(chainOrder(st), 2);
  EXPECT_EQ(st.chain.at(1), 2);
  splitPlug(st, host, 1, 250000);
  EXPECT_EQ(chainOrder(st), 3);
  unlinkPlug(st.plugs, 2);
  EXPECT_EQ(chainOrder(st), 2);
  st.plugs = PlugTable{};
  EXPECT_EQ(chainOrder(st), 0);
}

TEST_F(PlugTableTest, InsertLinksAZeroHeightPlugAboveAndUpdatesBothNeighbours) {
  buildChain(st, {{1.0, 20.0, 0, 500000}, {1.0, 60.0, 500000, 1000000}});
  const int n = insertPlugAbove(st, host, 1, 2.0, 40.0, 35.0);
  EXPECT_EQ(n, 3);
  const Plug& p = st.plugs[n];
  EXPECT_EQ(p.zDown, 500000);
  EXPECT_EQ(p.zUp, 500000);
  EXPECT_DOUBLE_EQ(p.Cap, 2.0);
  EXPECT_DOUBLE_EQ(p.CapSolver, 2.0);
  EXPECT_DOUBLE_EQ(p.Temp0, 35.0);
  EXPECT_EQ(chainIndices(st), (std::vector<int>{1, 3, 2}));
  EXPECT_EQ(st.plugs[2].iDown, 3);
  // At the bottom the first-plug pointer moves, at the top the sentinel's iDown.
  const int b = insertPlugAbove(st, host, kBottomSentinel, 1.0, 10.0, 10.0);
  EXPECT_EQ(st.plugs.first(), b);
  const int t = insertPlugAbove(st, host, 2, 1.0, 70.0, 70.0);
  EXPECT_EQ(highestPlug(st.plugs), t);
  EXPECT_EQ(st.plugs[t].zDown, 1000000);
}

TEST_F(PlugTableTest, SplitDividesCapacitanceByTheHeightFraction) {
  buildChain(st, {{4.0, 20.0, 0, 1000000}});
  st.plugs[1].Temp0 = 18.0;
  const int n = splitPlug(st, host, 1, 250000);
  EXPECT_DOUBLE_EQ(st.plugs[1].Cap, 1.0);
  EXPECT_DOUBLE_EQ(st.plugs[n].Cap, 3.0);
  EXPECT_DOUBLE_EQ(st.plugs[n].CapSolver, 3.0);
  EXPECT_EQ(st.plugs[1].zUp, 250000);
  EXPECT_EQ(st.plugs[n].zDown, 250000);
  EXPECT_EQ(st.plugs[n].zUp, 1000000);
  EXPECT_DOUBLE_EQ(st.plugs[n].Temp0, 18.0);
  EXPECT_EQ(highestPlug(st.plugs), n);
}

TEST_F(PlugTableTest, MergeWeightsTemperaturesAndFreesTheAbsorbedPlug) {
  buildChain(st, {{1.0, 60.0, 0, 250000}, {3.0, 40.0, 250000, 1000000}});
  st.plugs[1].qV = 1.0;
  st.plugs[2].qV = 2.0;
  mergePlugs(st.plugs, 1, 2);
  EXPECT_DOUBLE_EQ(st.plugs[1].Temp, 45.0);
  EXPECT_DOUBLE_EQ(st.plugs[1].Cap, 4.0);
  EXPECT_DOUBLE_EQ(st.plugs[1].CapSolver, 4.0);
  EXPECT_DOUBLE_EQ(st.plugs[1].qV, 3.0);
  EXPECT_EQ(st.plugs[1].zDown, 0);
  EXPECT_EQ(st.plugs[1].zUp, 1000000);
  EXPECT_DOUBLE_EQ(st.plugs[2].Cap, 0.0);
  EXPECT_EQ(countPlugs(st.plugs), 1);
  EXPECT_EQ(highestPlug(st.plugs), 1);
}

TEST_F(PlugTableTest, MergeNextToASentinelIsRefused) {
  buildChain(st, {{1.0, 60.0, 0, 1000000}});
  const PlugTable before = st.plugs;
  mergePlugs(st.plugs, 1, kBottomSentinel);
  mergePlugs(st.plugs, kTopSentinel, 1);
  EXPECT_EQ(countPlugs(st.plugs), 1);
  EXPECT_DOUBLE_EQ(st.plugs[1].Cap, before[1].Cap);
  EXPECT_DOUBLE_EQ(st.plugs[kTopSentinel].Cap, -1.0);
}

TEST_F(PlugTableTest, SwapRelinksAllFourNeighbours) {
  buildChain(st, {{1.0, 10.0, 0, 1}, {1.0, 20.0, 1, 2}, {1.0, 30.0, 2, 3}, {1.0, 40.0, 3, 4}});
  swapWithAbove(st.plugs, 2);
  EXPECT_EQ(chainIndices(st), (std::vector<int>{1, 3, 2, 4}));
  EXPECT_EQ(st.plugs[4].iDown, 2);
  EXPECT_EQ(st.plugs[3].iDown, 1);
  swapWithAbove(st.plugs, 1);  // lowest plug: first-plug pointer follows
  EXPECT_EQ(st.plugs.first(), 3);
  swapWithAbove(st.plugs, 2);  // to the top: the sentinel's iDown follows
  EXPECT_EQ(highestPlug(st.plugs), 2);
  EXPECT_EQ(chainIndices(st), (std::vector<int>{3, 1, 4, 2}));
}

TEST_F(PlugTableTest, PoolRunsOutAt399PlugsAndLeavesTheTableIntact) {
  buildChain(st, {{1.0, 20.0, 0, 1000000}});
  for (int i = 0; i < 398; ++i) insertPlugAbove(st, host, kBottomSentinel, 1.0, 20.0, 20.0);
  ASSERT_EQ(countPlugs(st.plugs), 399);
  const PlugTable before = st.plugs;
  EXPECT_THROW(insertPlugAbove(st, host, 1, 1.0, 30.0, 30.0), FatalStop);
  EXPECT_THROW(splitPlug(st, host, 1, 500000), FatalStop);
  EXPECT_EQ(host.countMessages("no more plugs free!", "FATAL"), 2);
  EXPECT_EQ(countPlugs(st.plugs), 399);
  for (int i = 0; i < kPlugRecords; ++i) {
    EXPECT_EQ(st.plugs[i].iUp, before[i].iUp);
    EXPECT_DOUBLE_EQ(st.plugs[i].Cap, before[i].Cap);
  }
  EXPECT_DOUBLE_EQ(st.plugs[kTopSentinel].Cap, -1.0);
}

TEST_F(PlugTableTest, UnlinkFreesARecordThatIsAllocatedAgain) {
  buildChain(st, {{1.0, 20.0, 0, 1}, {1.0, 30.0, 1, 2}, {1.0, 40.0, 2, 3}});
  unlinkPlug(st.plugs, 2);
  EXPECT_EQ(chainIndices(st), (std::vector<int>{1, 3}));
  EXPECT_EQ(allocatePlug(st, host), 2);
}

TEST_F(PlugTableTest, RecordsFreedInAnyOrderAreHandedOutLowestFirst) {
  buildChain(st, {{1.0, 20.0, 0, 1}, {1.0, 30.0, 1, 2}, {1.0, 40.0, 2, 3}, {1.0, 50.0, 3, 4}});
  EXPECT_EQ(allocatePlug(st, host), 5);
  st.plugs[5].Cap = 1.0;
  unlinkPlug(st.plugs, 3);
  mergePlugs(st.plugs, 2, 1);  // record 1 joins record 2 and is free
  EXPECT_EQ(allocatePlug(st, host), 1);
  st.plugs[1].Cap = 1.0;
  EXPECT_EQ(allocatePlug(st, host), 3);
  st.plugs[3].Cap = 1.0;
  EXPECT_EQ(allocatePlug(st, host), 6);
}

}  // namespace
}  // namespace plugstore::test
