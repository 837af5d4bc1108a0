// The time-step driver on a store built through the call protocol.
#include "host/driver.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "plugs/flow.h"
#include "store/plug_table.h"
#include "support/fixtures.h"

namespace plugstore::test {
namespace {

class Driver : public ::testing::Test {
 protected:
  void SetUp() override {
    // A folder of its own: ctest runs the tests of this fixture side by side.
    dir = std::filesystem::path(::testing::TempDir()) /
          ("plugstore_driver_test_" + std::to_string(getpid()));
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    host.label1 = dir.string();
    host.timeStepHours = 0.25;
    Protocol proto(st, host);
    proto.startOfSimulation();
    proto.initialCall(par);  // lambda 0, no losses, no Hx
    ASSERT_TRUE(st.initialised);
    st.store.time = 0.25;
    // The first call halves the highest plug, which holds the remainder of
    // the uniform set-up; start from the settled store.
    runTimeStep(st, host);
    nSettled = countPlugs(st.plugs);
  }
  void TearDown() override { std::filesystem::remove_all(dir); }
  double heat() const {
    double e = 0.0;
    for (int p : chainIndices(st)) e += st.plugs[p].Temp * st.plugs[p].Cap;
    return e;
  }
  bool stable() const {
    const std::vector<double> t = chainTemps(st);
    for (std::size_t i = 0; i + 1 < t.size(); ++i) {
      if (unstablePair(t[i], t[i + 1])) return false;
    }
    return true;
  }
  Parameters par = validParameters();
  State st;
  RecordingHost host;
  std::filesystem::path dir;
  int nSettled = 0;
};

TEST_F(Driver, HeatInputAloneRunsTheSolverAndTheMixingStep) {
  st.store.zHeatA[0] = 0.05;  // 1 kW near the bottom
  st.store.qHeatA[0] = 1000.0;
  st.store.sumQHeatA = 1000.0;
  const double e0 = heat();
  runTimeStep(st, host);
  EXPECT_NEAR(heat() - e0, 1000.0 * 900.0, 1e-3);
  EXPECT_LT(countPlugs(st.plugs), nSettled);  // the heated plug rose by merging
  EXPECT_TRUE(stable());
  EXPECT_EQ(st.store.nPlugsSolver, nSettled);
  EXPECT_EQ(st.bal.dtSec, 900.0);
}

TEST_F(Driver, WithoutTheCleanBitTheInversionStaysAndDumpsFollowTheTime) {
  EXPECT_EQ(st.sw.dumpSwitch, 0);
  EXPECT_TRUE(std::filesystem::is_empty(dir));
  st.store.zHeatA[0] = 0.05;
  st.store.qHeatA[0] = 1000.0;
  st.store.cleanSwitch = 0;
  st.store.time = 1e10;
  runTimeStep(st, host);
  EXPECT_FALSE(stable());
  EXPECT_EQ(st.sw.dumpSwitch, -1);
  for (const char* name : {"00_start", "70_afterDiffuse", "80_afterMix"}) {
    EXPECT_TRUE(std::filesystem::exists(dir / (std::string(name) + ".txt"))) << name;
  }
}

}  // namespace
}  // namespace plugstore::test
