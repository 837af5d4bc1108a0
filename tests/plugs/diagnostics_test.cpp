#include "plugs/diagnostics.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "store/plug_table.h"
#include "support/fixtures.h"

namespace plugstore::test {
namespace {

namespace fs = std::filesystem;

class DiagnosticsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    st.store.time = 2.5;
    st.store.capTot = 3000.0;
    buildChain(st, {{1000.0, 20.0, 0, 250000},
                    {1000.0, 40.0, 250000, 500000},
                    {1000.0, 60.0, 500000, 1000000}});
  }
  State st;
  RecordingHost host;
};

TEST_F(DiagnosticsTest, AConsistentTablePassesSilentlyWithinTheTolerance) {
  st.store.capTot = 3000.0 + 5e-7;
  EXPECT_EQ(checkPlugConsistency(st, host), 1);
  EXPECT_TRUE(host.debugLines.empty());
  st.store.capTot = 3000.0 + 2e-6;
  EXPECT_EQ(checkPlugConsistency(st, host), 0);
}

TEST_F(DiagnosticsTest, AFreedPlugGivesOnlyTheCapacityLine) {
  unlinkPlug(st.plugs, 2);
  st.plugs[1].zUp = st.plugs[3].zDown = 300000;
  EXPECT_EQ(checkPlugConsistency(st, host), 0);
  EXPECT_EQ(host.debugLines,
            (std::vector<std::string>{
                "TIME= 2.5  Error in capacities [J/K] sumCap= 2000.0  capTot  3000.0"}));
}

TEST_F(DiagnosticsTest, AHighestPlugBelowTheTopAndAnEmptyChainAreReported) {
  st.plugs[3].zUp = 900000;
  EXPECT_EQ(checkPlugConsistency(st, host), 0);
  EXPECT_EQ(host.debugLines, (std::vector<std::string>{"TIME= 2.5  Error last plug not at top "
                                                       "zUp(relative)= 900000  MUST BE  1000000"}));
  host.clear();
  buildChain(st, {});
  EXPECT_EQ(checkPlugConsistency(st, host), 0);
  ASSERT_EQ(host.debugLines.size(), 1U);
  EXPECT_NE(host.debugLines[0].find("sumCap= 0.0  capTot  3000.0"), std::string::npos);
}

class DumpTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string tmpl = (fs::temp_directory_path() / "plugstore-XXXXXX").string();
    ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
    dir = tmpl;
    st.store.dataPath.fill(' ');
    std::copy(tmpl.begin(), tmpl.end(), st.store.dataPath.begin());
  }
  void TearDown() override { fs::remove_all(dir); }
  std::string file(const std::string& name) const {
    std::ifstream in(dir / name, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
  }
  fs::path dir;
  State st;
};

const std::string kHeader =
    " Index   Cap    Temp     Temp0     zDown   zUp   iDown  iUp   Flow    qV     qA    qL \n"
    " Index  KJ/K     \xB0"
    "C       \xB0"
    "C        m       m     -      -    kg/s    [W]    [W]   [W]\n";

TEST_F(DumpTest, WritesKiloJoulesRelativeHeightsAndQaBeforeQl) {
  buildChain(st, {{4180000.0, 60.0, 250000, 500000}, {1e12, 70.0, 500000, 1000000}});
  Plug& p = st.plugs[1];
  p.Flow = 0.5;
  p.qV = 1.0;
  p.qA = 2.0;
  p.qL = 3.0;
  st.plugs[2].iDown = 12345;
  dumpPlugTable(st, 31, "30_afterInsert    ", -1);
  EXPECT_EQ(file("30_afterInsert.txt"),
            kHeader +
                "   1  4180.000000    60.000000    60.000000     0.250000     0.500000    0    2"
                "     0.500000     1.000000     2.000000     3.000000\n"
                "   2 ************    70.000000    70.000000     0.500000     1.000000 ****  400"
                "     0.000000     0.000000     0.000000     0.000000\n");
}

TEST_F(DumpTest, OnlyTheSwitchMinusOneWritesAndAnEmptyChainGivesTheHeaders) {
  buildChain(st, {});
  dumpPlugTable(st, 31, "00_start", 0);
  dumpPlugTable(st, 31, "10_afterFlowDir", 1);
  EXPECT_TRUE(fs::is_empty(dir));
  dumpPlugTable(st, 31, "00_start", -1);
  EXPECT_EQ(file("00_start.txt"), kHeader);
  st.dumpFileUnit = 12;  // one of several stores
  dumpPlugTable(st, 31, "00_start", -1);
  EXPECT_EQ(file("00_start_unit12.txt"), kHeader);
}

}  // namespace
}  // namespace plugstore::test
