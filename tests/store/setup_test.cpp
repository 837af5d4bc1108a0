#include "store/setup.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "host/parameters.h"
#include "store/plug_table.h"
#include "support/fixtures.h"
#include "support/named_values.h"

namespace plugstore::test {
namespace {

class SetupTest : public ::testing::Test {
 protected:
  SetupTest() {
    // 1 m3 of water: capTot 4.18e6 J/K, 30 plugs at 20 degC (= T_ref).
    param(par, "store.volume") = 1.0;
    param(par, "store.initialTemperature") = 20.0;
  }
  void setHx(int k, double in, double out, double n) {
    const std::string hx = "hx" + std::to_string(k);
    param(par, "hx.count") = std::max(param(par, "hx.count"), static_cast<double>(k));
    param(par, hx + ".inletHeight") = in;
    param(par, hx + ".outletHeight") = out;
    param(par, hx + ".numberOfCv") = n;
  }
  void build() {
    readParameters(st, host, par.data());
    initialiseStore(st, host);
  }

  State st;
  RecordingHost host;
  Parameters par = validParameters();
};

TEST_F(SetupTest, UniformStore) {
  build();
  const PlugTable& t = st.plugs;
  ASSERT_EQ(chainIndices(st), ([] {
              std::vector<int> v(30);
              for (int k = 0; k < 30; ++k) v[static_cast<std::size_t>(k)] = k + 1;
              return v;
            })());
  for (int k = 1; k <= 30; ++k) {
    EXPECT_DOUBLE_EQ(t[k].CapSolver, 4.18e6 / 30.0);
    EXPECT_DOUBLE_EQ(t[k].Temp0, 20.0);
    EXPECT_EQ(t[k].iDown, k - 1);
    EXPECT_EQ(t[k].zDown, k == 1 ? 0 : t[k - 1].zUp);
  }
  EXPECT_EQ(t[1].zUp, 33333);
  EXPECT_EQ(t[30].zDown, 966666);
  EXPECT_EQ(t[30].zUp, 1000000);
  EXPECT_EQ(t[kTopSentinel].iDown, 30);
  EXPECT_EQ(t[kTopSentinel].iUp, kTopSentinel);
  EXPECT_DOUBLE_EQ(t[kTopSentinel].Temp, 550000.0);
  EXPECT_DOUBLE_EQ(t[kBottomSentinel].Temp, -273.15);
  EXPECT_DOUBLE_EQ(t[kBottomSentinel].CapSolver, -1.0);
  EXPECT_DOUBLE_EQ(st.bal.E, 0.0);
  EXPECT_DOUBLE_EQ(st.bal.S, 0.0);
  EXPECT_DOUBLE_EQ(st.bal.Ex, 0.0);
  for (int i = 0; i < kPlugRecords; ++i) EXPECT_DOUBLE_EQ(st.savedPlugs[i].Cap, t[i].Cap);

  param(par, "store.initialTemperature") = 60.0;
  build();
  EXPECT_DOUBLE_EQ(st.bal.E, 40.0 * 4.18e6);
  EXPECT_DOUBLE_EQ(st.bal.S, 4.18e6 * std::log(333.15 / 293.15));
  EXPECT_DOUBLE_EQ(st.bal.Ex_old, st.bal.E - 293.15 * st.bal.S);
}

TEST_F(SetupTest, PlugCountsOutsideTheValidRange) {
  // Never more plugs than the pool holds, none without a plug height.
  param(par, "store.minPlugs") = 400.0;
  build();
  EXPECT_EQ(countPlugs(st.plugs), 399);
  EXPECT_DOUBLE_EQ(st.plugs[kTopSentinel].Cap, -1.0);
  EXPECT_EQ(st.plugs[399].zUp, 1000000);
  for (double n : {0.0, -5.0}) {
    param(par, "store.minPlugs") = n;
    build();
    EXPECT_EQ(countPlugs(st.plugs), 0) << n;
    EXPECT_EQ(st.plugs[kTopSentinel].iDown, 0) << n;
  }
}

TEST_F(SetupTest, SevenCvHxFromPointSixDownToPointTwo) {
  setHx(1, 0.6, 0.2, 7);
  build();
  const HxRecord& hx = st.hx[0];
  ASSERT_EQ(hx.cvExtent, 7);
  ASSERT_EQ(hx.tStore.size(), 8U);
  const std::vector<int32_t> z(hx.zCv.begin() + 1, hx.zCv.end());
  EXPECT_EQ(z,
            (std::vector<int32_t>{200000, 257142, 314284, 371426, 428568, 485710, 542852, 600000}));
  auto cvs = [](const std::vector<double>& v) {
    return std::vector<double>(v.begin() + 1, v.end());
  };
  for (const auto* a : {&hx.tStore, &hx.tCvOld, &hx.tWall, &hx.tWallOld}) {
    EXPECT_EQ(cvs(*a), std::vector<double>(7, 20.0));
  }
  EXPECT_EQ(cvs(hx.tNode), std::vector<double>(8, 20.0));
  EXPECT_EQ(cvs(hx.uaCv), std::vector<double>(7, 0.0));
  EXPECT_EQ(cvs(hx.qCv), std::vector<double>(7, 0.0));
}

TEST_F(SetupTest, RepeatedInitialCallReusesOrResizes) {
  setHx(1, 0.2, 0.6, 7);
  build();
  HxRecord& hx = st.hx[0];
  const double* kept = hx.uaCv.data();
  hx.uaCv[3] = 5.0;
  build();
  EXPECT_EQ(hx.uaCv.data(), kept);  // same count: same memory, zeroed
  EXPECT_DOUBLE_EQ(hx.uaCv[3], 0.0);
  for (int n : {3, 20}) {
    param(par, "hx1.numberOfCv") = n;
    build();
    EXPECT_EQ(hx.cvExtent, n);
    EXPECT_EQ(hx.tStore.size(), static_cast<std::size_t>(n + 1));
    ASSERT_EQ(hx.zCv.size(), static_cast<std::size_t>(n + 2));
    EXPECT_EQ(hx.zCv[static_cast<std::size_t>(n + 1)], 600000);
    EXPECT_DOUBLE_EQ(hx.tNode[static_cast<std::size_t>(n + 1)], 20.0);
  }
}

TEST_F(SetupTest, CvCountsWithoutControlVolumesAndAbsurdCounts) {
  for (double n : {0.0, -5.0}) {
    host.clear();
    setHx(1, 0.2, 0.6, n);
    build();
    EXPECT_EQ(host.debugLines, std::vector<std::string>{" setMemory FATAL error numberOfHxCv= " +
                                                        std::to_string(static_cast<int>(n))});
    EXPECT_EQ(st.hx[0].cvExtent, 0);
    ASSERT_EQ(st.hx[0].zCv.size(), 2U);
    EXPECT_EQ(st.hx[0].zCv[1], 600000);
  }
  // A count the store cannot hold gives a fatal message, not an abort.
  setHx(1, 0.2, 0.6, 2e9);
  readParameters(st, host, par.data());
  EXPECT_THROW(setMemory(st, host), FatalStop);
  EXPECT_EQ(host.countMessages("setMemory", "FATAL"), 1);
  EXPECT_EQ(st.hx[0].cvExtent, -1);
  EXPECT_TRUE(st.hx[0].tNode.empty());
}

TEST_F(SetupTest, ReleaseIsSafeAndFreesAllSixRecords) {
  releaseHxMemory(st);  // never allocated
  for (int k = 1; k <= 6; ++k) setHx(k, 0.2, 0.6, 5);
  build();
  releaseHxMemory(st);
  for (const HxRecord& hx : st.hx) {
    EXPECT_EQ(hx.cvExtent, -1);
    EXPECT_EQ(hx.tNode.capacity() + hx.zCv.capacity() + hx.tStore.capacity(), 0U);
  }
}

TEST_F(SetupTest, StoreFromAStartProfile) {
  char dir[] = "/tmp/plugstore-setup-XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  const std::string file = std::string(dir) + "/startProfile.ini";
  std::FILE* f = std::fopen(file.c_str(), "w");
  ASSERT_NE(f, nullptr);
  std::fputs("1 2090 20 20 0 0.4 0 2\n2 2090 80 80 0.4 1 1 400\n", f);
  std::fclose(f);
  st.store.dataPath.fill(' ');
  std::copy_n(dir, std::strlen(dir), st.store.dataPath.begin());
  param(par, "store.startProfile") = 1.0;
  setHx(1, 0.2, 0.6, 1);
  build();
  std::remove(file.c_str());
  std::remove(dir);

  EXPECT_EQ(chainTemps(st), (std::vector<double>{20.0, 80.0}));
  EXPECT_EQ(st.plugs[kTopSentinel].iDown, 2);
  EXPECT_DOUBLE_EQ(st.bal.E, 60.0 * 2.09e6);
  EXPECT_DOUBLE_EQ(st.bal.S_old, 2.09e6 * std::log(353.15 / 293.15));
  const HxRecord& hx = st.hx[0];
  EXPECT_DOUBLE_EQ(hx.tStore[1], 50.0);  // half in each plug
  EXPECT_DOUBLE_EQ(hx.tNode[2], 50.0);
  EXPECT_DOUBLE_EQ(hx.tCvOld[1], 35.0);  // between the inlet node at T_init and 50
  EXPECT_DOUBLE_EQ(hx.tWallOld[1], 50.0);
}

// ---------------------------------------------------------------- copyTankDataToHEx

class CopyTankDataTest : public SetupTest {
 protected:
  void cvs(std::vector<int32_t> bounds) {
    setHx(1, 0.0, 1.0, static_cast<double>(bounds.size() - 1));
    readParameters(st, host, par.data());
    setMemory(st, host);
    std::copy(bounds.begin(), bounds.end(), st.hx[0].zCv.begin() + 1);
  }
  double tStore(std::size_t b) const { return st.hx[0].tStore[b]; }
};

TEST_F(CopyTankDataTest, HeightWeightedMeanOverThePlugs) {
  buildChain(st, {{1.0, 20.0, 0, 340000}, {1.0, 80.0, 340000, 1000000}});
  cvs({0, 300000, 500000, 1000000});
  copyTankDataToHEx(st, host, st.hx[0]);
  EXPECT_DOUBLE_EQ(tStore(1), 20.0);                       // inside the lower plug
  EXPECT_NEAR(tStore(2), 20.0 * 0.2 + 80.0 * 0.8, 1e-12);  // 40/60 over the boundary
  EXPECT_DOUBLE_EQ(tStore(3), 80.0);
  EXPECT_TRUE(host.messagesSent.empty());
}

TEST_F(CopyTankDataTest, TallerHighestCvKeepsAUniformTemperature) {
  // 0.2 ... 0.6 in 7 CVs: the highest CV is 57148 units high, six more than
  // the step, and spans several plugs at 60 degC.
  param(par, "store.initialTemperature") = 60.0;
  param(par, "store.minPlugs") = 99.0;
  setHx(1, 0.2, 0.6, 7);
  build();
  copyTankDataToHEx(st, host, st.hx[0]);
  for (std::size_t b = 1; b <= 7; ++b) EXPECT_NEAR(tStore(b), 60.0, 1e-12) << b;
}

TEST_F(CopyTankDataTest, DegenerateCvsAndInconsistentPlugs) {
  buildChain(st, {{1.0, 20.0, 0, 500000}, {1.0, 80.0, 500000, 1000000}});
  cvs({500000, 500000, 500000});  // CVs without height on a plug boundary
  copyTankDataToHEx(st, host, st.hx[0]);
  EXPECT_TRUE(std::isfinite(tStore(1)) && std::isfinite(tStore(2)));

  buildChain(st, {{1.0, 80.0, 600000, 1000000}});  // lowest plug above the CV
  cvs({0, 500000});
  copyTankDataToHEx(st, host, st.hx[0]);
  EXPECT_DOUBLE_EQ(tStore(1), 0.0);
  EXPECT_EQ(host.countMessages(
                "copyTankDataToHEx() heat exchanger cv <= tank cv. Not controlled case", "Fatal"),
            1);
}

// ---------------------------------------------------------------- through the protocol

TEST_F(SetupTest, FailedChecksBuildNothingUntilAGoodInitialCall) {
  Protocol proto(st, host);
  proto.startOfSimulation();
  const Parameters good = par;
  setHx(1, 0.2, 0.6, 2e9);
  param(par, "store.minPlugs") = 0.0;
  param(par, "hx.count") = 7.0;
  proto.initialCall(par);
  EXPECT_TRUE(st.badParameters);
  EXPECT_EQ(countPlugs(st.plugs), 0);
  EXPECT_EQ(st.hx[0].cvExtent, -1);
  Inputs in{};
  Outputs out;
  out.fill(-1.0);
  EXPECT_EQ(proto.iterativeCall(1.0, par, in, out), 1);
  EXPECT_EQ(std::count(out.begin(), out.end(), -1.0), kNumOutputs);  // nothing calculated

  par = good;
  setHx(1, 0.2, 0.6, 7);
  proto.initialCall(par);
  EXPECT_FALSE(st.badParameters);
  EXPECT_EQ(countPlugs(st.plugs), 30);
  EXPECT_EQ(st.hx[0].cvExtent, 7);

  host.clear();
  input(in, "heatB3.power") = std::nan("");
  EXPECT_EQ(proto.iterativeCall(1.0, par, in, out), 1);
  EXPECT_EQ(host.countMessages("Input 62 ", "FATAL"), 1);
  EXPECT_EQ(host.messagesSent.size(), 1U);
  EXPECT_EQ(out[0], -1.0);
  proto.endOfSimulation(1.0, par);
  EXPECT_EQ(st.hx[0].cvExtent, -1);
}

}  // namespace
}  // namespace plugstore::test
