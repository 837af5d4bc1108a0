// The call protocol on one store: kinds of call, state carried between
// calls and the fatal stop.
#include <gtest/gtest.h>

#include <cmath>

#include "host/type8642.h"
#include "support/fixtures.h"
#include "support/named_values.h"

namespace plugstore::test {
namespace {

class EntryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    host.timeStepHours = 0.5;
    par = validParameters();
    param(par, "hx.count") = 1.0;
    param(par, "hx1.inletHeight") = 0.6;
    param(par, "hx1.outletHeight") = 0.2;
    param(par, "hx1.numberOfCv") = 7.0;
    param(par, "hx1.uaModel") = 1.0;
    param(par, "hx1.uaNominal") = 36.0;
    param(par, "hx1.specificHeat") = 4.18;
    param(par, "hx1.density") = 1000.0;
    param(par, "hx1.volume") = 0.002;
    input(in, "ambient.temperature") = 20.0;
    proto.startOfSimulation();
    proto.initialCall(par);
  }
  State st;
  RecordingHost host;
  Protocol proto{st, host};
  Parameters par{};
  Inputs in{};
  Outputs out{};
};

TEST_F(EntryTest, HalfAStepAfterTheStartIsAnIterativeCall) {
  out.fill(-7.0);
  proto.iterativeCall(0.2499, par, in, out);  // still the initial call
  EXPECT_EQ(output(out, "store.timeStep"), -7.0);
  proto.iterativeCall(0.25, par, in, out);
  EXPECT_DOUBLE_EQ(output(out, "store.timeStep"), 0.5);
  EXPECT_DOUBLE_EQ(output(out, "store.meanTemperature"), 60.0);
}

TEST_F(EntryTest, IterationsStartFromTheSavedStateAndTheStepEndCarriesItOn) {
  input(in, "hx1.inletTemperature") = 10.0;
  input(in, "hx1.massFlow") = 100.0;
  proto.iterativeCall(0.5, par, in, out);
  const Outputs first = out;
  proto.iterativeCall(0.5, par, in, out, 1);
  for (int n = 1; n <= kNumOutputs; ++n) EXPECT_EQ(output(out, n), output(first, n)) << n;
  const double e1 = st.bal.E;
  EXPECT_LT(e1, st.bal.E_old);  // the cold coil cooled the store
  proto.endOfTimeStep(0.5, par);
  EXPECT_EQ(st.bal.E_old, e1);
  proto.iterativeCall(1.0, par, in, out);
  EXPECT_LT(st.bal.E, e1);  // the next step starts where this one ended
  for (const Plug& p : st.savedPlugs.rec) {
    if (p.Cap > 0.0) {
      EXPECT_EQ(p.Temp0, p.Temp);
    }
  }
}

TEST_F(EntryTest, FatalInputStopsTheStoreButEveryCallStillReturnsOne) {
  proto.iterativeCall(0.5, par, in, out);
  input(in, "port2.massFlow") = std::nan("");
  out.fill(-7.0);
  EXPECT_EQ(proto.iterativeCall(1.0, par, in, out), 1);
  EXPECT_EQ(host.countMessages("", "FATAL"), 1);
  EXPECT_TRUE(st.stopped);
  // Later calls calculate nothing, not even with good inputs again.
  input(in, "port2.massFlow") = 0.0;
  EXPECT_EQ(proto.endOfTimeStep(1.0, par), 1);
  EXPECT_EQ(proto.iterativeCall(1.5, par, in, out), 1);
  EXPECT_EQ(output(out, "store.timeStep"), -7.0);
  EXPECT_EQ(host.countMessages("", "FATAL"), 1);
  // The end of the simulation still releases the heat-exchanger memory.
  EXPECT_EQ(st.hx[0].cvExtent, 7);
  EXPECT_EQ(proto.endOfSimulation(1.5, par), 1);
  EXPECT_EQ(st.hx[0].cvExtent, -1);
  EXPECT_TRUE(st.hx[0].tNode.empty());
  // A new simulation starts afresh.
  proto.startOfSimulation();
  proto.initialCall(par);
  proto.iterativeCall(0.5, par, in, out);
  EXPECT_DOUBLE_EQ(output(out, "store.timeStep"), 0.5);
}

TEST_F(EntryTest, StartOfSimulationResetsHxScalarsButKeepsTheirArrays) {
  st.hx[0].qLoss = 5.0;
  st.hx[3].tInHx = 40.0;
  proto.startOfSimulation();
  for (const HxRecord& hx : st.hx) {
    EXPECT_EQ(hx.qLoss, 0.0);
    EXPECT_EQ(hx.tInHx, 0.0);
    EXPECT_EQ(hx.flowUp, -1);
  }
  EXPECT_EQ(st.hx[0].cvExtent, 7);
  EXPECT_EQ(st.hx[0].tNode.size(), 9U);
}

TEST_F(EntryTest, DebugBannersFrameEveryCallWhenSwitchedOn) {
  st.sw.debugLogSwitch = 1;
  proto.iterativeCall(0.5, par, in, out);
  proto.endOfTimeStep(0.5, par);
  ASSERT_GE(host.debugLines.size(), 9U);
  EXPECT_EQ(host.debugLines.front(), "========================");
  EXPECT_EQ(host.debugLines[1].rfind("DB(STRATVAN): BEGIN OF TYPE 8642 ", 0), 0U);
  EXPECT_EQ(host.debugLines[host.debugLines.size() - 2].rfind("DB(STRATVAN): END OF TIME STEP ", 0),
            0U);
  int setOutputs = 0;
  for (const auto& l : host.debugLines) setOutputs += l == "DB(STRATVAN): SET OUTPUTS" ? 1 : 0;
  EXPECT_EQ(setOutputs, 1);
}

}  // namespace
}  // namespace plugstore::test
