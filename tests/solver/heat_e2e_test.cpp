// Whole calls of the component on a State: parameter reading, set-up, flow,
// solver and outputs together.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "support/fixtures.h"
#include "support/named_values.h"

namespace plugstore::test {
namespace {

class HeatEndToEnd : public ::testing::Test {
 protected:
  void start(double stepHours) {
    host.timeStepHours = stepHours;
    proto.startOfSimulation();
    ASSERT_EQ(proto.initialCall(par), 1);
    ASSERT_TRUE(st.initialised);
  }
  // One time step with two host iterations; the outputs of the last one.
  void step(int k) {
    const double time = k * host.timeStepHours;
    proto.iterativeCall(time, par, in, out, 0);
    proto.iterativeCall(time, par, in, out, 1);
    proto.endOfTimeStep(time, par);
  }
  State st;
  RecordingHost host;
  Protocol proto{st, host};
  Parameters par = validParameters();
  Inputs in{};
  Outputs out{};
};

TEST_F(HeatEndToEnd, StoreWithLossesOnlyDecaysLikeTheImplicitRecursion) {
  param(par, "loss.uaSideLower") = 3.0;
  param(par, "loss.uaSideMiddle") = 3.0;
  param(par, "loss.uaSideUpper") = 3.0;
  input(in, "ambient.temperature") = 20.0;
  start(0.25);
  // Loss UA and capacitance are both proportional to plug height, so the
  // store stays uniform and its mean follows the one-node recursion.
  const double ua = 3.0 + 3.0 + 3.0 * 333334.0 / 333333.0;
  const double cdt = 0.3 * 1000.0 * 4180.0 / 900.0;
  double t = 60.0;
  for (int k = 1; k <= 12; ++k) {
    step(k);
    t = (cdt * t + ua * 20.0) / (cdt + ua);
    EXPECT_NEAR(output(out, "store.meanTemperature"), t, 1e-6) << k;
    EXPECT_NEAR(output(out, "loss.heat"), ua * (t - 20.0) / 1000.0, 1e-6) << k;
    EXPECT_NEAR(output(out, "store.balance"), 0.0, 1e-9) << k;
  }
  EXPECT_LT(t, 59.0);
  EXPECT_TRUE(host.messagesSent.size() <= 1U);  // the start-of-simulation notice
  EXPECT_TRUE(host.stdoutLines.empty());
}

TEST_F(HeatEndToEnd, HeatInputRaisesTheEnergyByPowerTimesStep) {
  param(par, "store.initialTemperature") = 20.0;
  param(par, "heatA1.height") = 0.3;
  param(par, "heatB4.height") = 0.8;
  input(in, "heatA1.power") = 0.5;
  input(in, "heatB4.power") = 0.25;
  start(0.25);
  double e = output(out, "store.energy");
  for (int k = 1; k <= 6; ++k) {
    step(k);
    EXPECT_NEAR(output(out, "store.energy") - e, 0.75 * 900.0 / 1000.0, 1e-9) << k;
    EXPECT_NEAR(output(out, "balance.heatIntoPlugs"), 0.75, 1e-12) << k;
    EXPECT_NEAR(output(out, "store.balance"), 0.0, 1e-9) << k;
    e = output(out, "store.energy");
  }
  EXPECT_EQ(host.countMessages("OUT OF RANGE"), 0);
}

// Outlet temperature of a constant-UA coil of n CVs in a large store at
// 40 degC, against the exact exponential approach.
double coilError(int n) {
  State st;
  RecordingHost host;
  host.timeStepHours = 0.01;
  Protocol proto(st, host);
  Parameters par = validParameters();
  param(par, "store.volume") = 100.0;
  param(par, "store.initialTemperature") = 40.0;
  param(par, "hx.count") = 1.0;
  param(par, "hx1.inletHeight") = 0.6;
  param(par, "hx1.outletHeight") = 0.2;
  param(par, "hx1.innerDiameter") = 0.016;
  param(par, "hx1.outerDiameter") = 0.018;
  param(par, "hx1.length") = 10.0;
  param(par, "hx1.volume") = 1e-8;  // no storage in the coil
  param(par, "hx1.specificHeat") = 4.18;
  param(par, "hx1.density") = 1000.0;
  param(par, "hx1.numberOfCv") = n;
  param(par, "hx1.uaModel") = 1.0;
  param(par, "hx1.uaNominal") = 720.0;  // 200 W/K
  proto.startOfSimulation();
  proto.initialCall(par);
  Inputs in{};
  input(in, "hx1.inletTemperature") = 60.0;
  input(in, "hx1.massFlow") = 180.0;  // 0.05 kg/s, 209 W/K
  Outputs out{};
  proto.iterativeCall(0.01, par, in, out);
  const HxRecord& hx = st.hx[0];
  EXPECT_NEAR(hx.tStoreMean, 40.0, 1e-3);
  EXPECT_NEAR(output(out, "hx1.outletTemperature"), hx.tOutHx, 1e-12);
  const double ntu = 200.0 / (0.05 * 4180.0);
  return hx.tOutHx - (hx.tStoreMean + (60.0 - hx.tStoreMean) * std::exp(-ntu));
}

TEST(CoilEndToEnd, OutletApproachesTheExponentialAsTheCVCountGrows) {
  const std::vector<int> counts{1, 4, 16, 64};
  std::vector<double> err;
  for (int n : counts) err.push_back(std::fabs(coilError(n)));
  for (std::size_t i = 1; i < err.size(); ++i) {
    // Second order in the CV height: a factor of about 16 per step of 4.
    EXPECT_LT(err[i], err[i - 1] / 8.0) << counts[i];
  }
  EXPECT_LT(err.back(), 5e-4);
  EXPECT_GT(err.front(), 0.05);  // one CV is visibly off
}

}  // namespace
}  // namespace plugstore::test
