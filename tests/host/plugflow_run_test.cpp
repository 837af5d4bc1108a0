// A store charged at 60 degC discharged by one port, driven call by call
// through the protocol with the consistency and balance checks switched on.
#include <gtest/gtest.h>

#include "support/fixtures.h"
#include "support/uniform_chain.h"

namespace plugstore::test {
namespace {

TEST(Discharge, OutletStaysHotUntilTheStoreAboveTheInletHasLeft) {
  Parameters par = validParameters();  // 300 kg, lambda 0, no losses
  param(par, 21) = 0.05;               // port 1: 10 degC in near the bottom
  param(par, 22) = 0.95;               // out near the top
  Inputs in{};
  input(in, 1) = 10.0;
  input(in, 2) = 60.0;  // kg/h: the 270 kg between inlet and outlet leave in 4.5 h
  Outputs out{};
  State st;
  RecordingHost host;
  host.timeStepHours = 0.25;
  Protocol proto(st, host);
  proto.startOfSimulation();
  proto.initialCall(par);
  st.sw.consistencyCheckSwitch = -1;  // a failed check or balance writes a line
  host.clear();

  double tMeanBefore = 60.0;
  for (int step = 1; step <= 22; ++step) {
    const double time = 0.25 * step;
    proto.iterativeCall(time, par, in, out, 0);
    const Outputs first = out;
    proto.iterativeCall(time, par, in, out, 1);
    EXPECT_EQ(out, first) << "step " << step;
    EXPECT_NEAR(chainCap(st), st.store.capTot, 1e-6);
    EXPECT_NEAR(output(out, 64), 0.0, 1e-9);
    const double tOut = output(out, 1);
    if (time <= 4.5) {
      EXPECT_NEAR(tOut, 60.0, 1e-9) << "at " << time;
    } else {
      EXPECT_LT(tOut, 59.0) << "at " << time;
    }
    // 15 kg of 300 leave at tOut and return at 10 degC.
    EXPECT_NEAR(tMeanBefore - output(out, 65), (tOut - 10.0) * 15.0 / 300.0, 1e-9);
    tMeanBefore = output(out, 65);
    proto.endOfTimeStep(time, par);
  }
  EXPECT_TRUE(host.debugLines.empty());
  EXPECT_TRUE(host.messagesSent.empty());
}

}  // namespace
}  // namespace plugstore::test
