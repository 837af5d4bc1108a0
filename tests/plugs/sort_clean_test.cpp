// Sorting, height adjustment and clean-up of the plug stack.
#include <gtest/gtest.h>

#include "plugs/flow.h"
#include "store/plug_table.h"
#include "support/fixtures.h"
#include "support/uniform_chain.h"

namespace plugstore::test {
namespace {

class SortClean : public ::testing::Test {
 protected:
  State st;
  RecordingHost host;
};

// The flow's sort is skipped only while the chain is the one the mixing found stable.
TEST_F(SortClean, SortAfterAStableMixSeesANewPlug) {
  buildChain(st, {{1.0, 40.0, 0, 500000}, {1.0, 50.0, 500000, kZTop}});
  sortPlugs(st, host, 0);
  insertPlugAbove(st, host, kBottomSentinel, 1.0, 70.0, 70.0);
  sortPlugs(st, host, -1);
  EXPECT_EQ(chainTemps(st), (std::vector<double>{40, 50, 70}));
}

TEST_F(SortClean, SortSwapsAndMixMerges) {
  EXPECT_TRUE(unstablePair(3.0, 3.5));  // below 4 degC the colder fluid is lighter
  EXPECT_FALSE(unstablePair(3.0, 5.0));
  EXPECT_FALSE(unstablePair(3.99, 4.0));
  EXPECT_FALSE(unstablePair(3.5, 3.505));  // within 0.01 K
  EXPECT_TRUE(unstablePair(4.0, 3.98));
  EXPECT_FALSE(unstablePair(50.01, 50.0));
  EXPECT_TRUE(unstablePair(50.02, 50.0));
  EXPECT_FALSE(unstablePair(60.0, kTopSentinelTemp));

  buildChain(st, {{1.0, 60.0, 0, 1}, {1.0, 40.0, 1, 2}, {1.0, 50.0, 2, 3}});
  sortPlugs(st, host, -1);
  EXPECT_EQ(chainTemps(st), (std::vector<double>{40, 50, 60}));
  EXPECT_EQ(st.plugs[1].zDown, 0);  // heights wait for the adjustment

  // A plug hotter than the top sentinel once swapped with it for ever.
  buildChain(st, {{1.0, 1e6, 0, 1}, {1.0, 40.0, 1, 2}});
  sortPlugs(st, host, -1);
  EXPECT_EQ(chainTemps(st), (std::vector<double>{40, 1e6}));
  EXPECT_EQ(st.plugs[kTopSentinel].iDown, 1);

  buildChain(st, {{1.0, 60.0, 0, 250000}, {3.0, 40.0, 250000, kZTop}});
  sortPlugs(st, host, 0);
  ASSERT_EQ(countPlugs(st.plugs), 1);
  const Plug& p = st.plugs[st.plugs.first()];
  EXPECT_DOUBLE_EQ(p.Temp, 45.0);
  EXPECT_DOUBLE_EQ(p.Cap, 4.0);
  EXPECT_EQ(p.zDown, 0);
  EXPECT_EQ(p.zUp, kZTop);

  // Mixing cools a plug below the one beneath it, which then mixes too.
  buildChain(st, {{1.0, 30.0, 0, 1}, {1.0, 60.0, 1, 2}, {1.0, 50.0, 2, 3}, {3.0, 10.0, 3, 4}});
  sortPlugs(st, host, 0);
  ASSERT_EQ(countPlugs(st.plugs), 1);
  EXPECT_DOUBLE_EQ(st.plugs[st.plugs.first()].Temp, 170.0 / 6.0);
}

// The sort and the clean-up take the chain order on their walk: it must be
// the order a new walk gives, after swaps, merges, splits and refused merges.
TEST_F(SortClean, TheOrderTakenOnTheWalkIsTheChainsOwn) {
  const auto expectWalk = [this] {
    ASSERT_TRUE(st.chain.whole && st.chain.holds(st.plugs));
    const auto* first = st.chain.rec.begin() + 1;
    EXPECT_EQ(std::vector<int>(first, first + st.chain.n), chainIndices(st));
  };
  for (int mode : {-1, 0}) {
    // The second sweep starts at the second plug.
    buildChain(st, {{1.0, 10.0, 0, 1},
                    {1.0, 20.0, 1, 2},
                    {1.0, 60.0, 2, 3},
                    {1.0, 40.0, 3, 4},
                    {1.0, 50.0, 4, 5},
                    {1.0, 30.0, 5, 6}});
    sortPlugs(st, host, mode);
    expectWalk();
  }
  // Refused at the bottom, a split, a merge downwards, a thin plug taken up,
  // a thin plug refused by the top sentinel.
  buildChain(st, {{1.0, kBottomSentinelTemp, 0, 100000},
                  {1.0, 20.0, 100000, 500000},
                  {1.0, 20.1, 500000, 550000},
                  {1.0, 40.0, 550000, 555000},
                  {1.0, 41.0, 555000, 1000000},
                  {1.0, 4e5, 1000000, 1002000}});
  cleanPlugs(st, host, 10000, 300000, 0.5);
  EXPECT_EQ(chainIndices(st), (std::vector<int>{1, 2, 3, 5, 6}));
  expectWalk();
}

TEST_F(SortClean, AdjustGivesTheRemainderToTheTopAndWarnsOnExcess) {
  st.store.capTot = 3.0;
  buildChain(st, {{1.0, 20.0, 5, 6}, {1.0, 20.0, 7, 9}, {1.0, 20.0, 9, 9}});
  adjustHeights(st, host);
  EXPECT_EQ(chainHeights(st), (std::vector<int32_t>{333333, 333333, 333334}));
  EXPECT_TRUE(host.messagesSent.empty());
  buildChain(st, {{2.0, 20.0, 0, 0}, {2.0, 20.0, 0, 0}, {1.0, 20.0, 0, 0}});
  adjustHeights(st, host);
  EXPECT_EQ(host.countMessages(
                "Total of plug capacitances in store is larger than total capacitance of store",
                "WARNING"),
            1);
}

TEST_F(SortClean, HighPlugIsHalvedUntilItFitsAndThinPlugTieGoesUp) {
  buildChain(st, {{250001.0, 20.0, 0, 250001}});
  cleanPlugs(st, host, 1000, 100000, 0.0);
  EXPECT_EQ(chainHeights(st), (std::vector<int32_t>{62500, 62500, 62500, 62501}));

  buildChain(st,
             {{1.0, 20.0, 0, 100000}, {1.0, 21.0, 100000, 105000}, {1.0, 22.0, 105000, 200000}});
  cleanPlugs(st, host, 10000, kZTop, 0.5);
  EXPECT_EQ(chainIndices(st), (std::vector<int>{1, 3}));
  EXPECT_DOUBLE_EQ(st.plugs[3].Temp, 21.5);
  EXPECT_EQ(st.plugs[3].zDown, 100000);
}

TEST_F(SortClean, ThirtyToFiftyPlugsCleanUpEnds) {
  // The highest plug of a uniform 30-plug store keeps the remainder
  // (33343 > 33333) and its halves are thin: split once, merged back, left.
  buildUniformChain(st, 30, 60.0, 1.254e6);
  cleanPlugs(st, host, kZTop / 50, kZTop / 30, 0.1);
  EXPECT_EQ(countPlugs(st.plugs), 30);
  EXPECT_EQ(chainHeights(st).back(), 33343);
  EXPECT_NEAR(chainCap(st), 1.254e6, 1e-6);
}

TEST_F(SortClean, SplitWithoutFreeRecordEndsTheSimulation) {
  buildUniformChain(st, 399, 60.0, 399.0);
  EXPECT_THROW(cleanPlugs(st, host, 1, 2000, 0.0), FatalStop);
  EXPECT_EQ(host.countMessages("no more plugs free!", "FATAL"), 1);
}

}  // namespace
}  // namespace plugstore::test
