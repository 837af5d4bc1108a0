// What a host can pass that no store means: each case once gave infinite
// outputs without a message, or went on calculating after a fatal one. Each
// must end in exactly one fatal message (or a bad parameter) and a store
// that calculates nothing more, never in outputs that are not numbers.
#include <gtest/gtest.h>

#include <vector>

#include "support/fixtures.h"
#include "support/named_values.h"

namespace plugstore::test {
namespace {

class AbsurdHostValues : public ::testing::Test {
 protected:
  void SetUp() override {
    host.timeStepHours = 0.25;
    param(par, "heatA5.height") = 0.4;
    param(par, "heatB6.height") = 0.5;
    input(in, "ambient.temperature") = 20.0;
  }
  void start() {
    proto.startOfSimulation();
    proto.initialCall(par);
  }
  // One iterative call; true when it wrote no output.
  bool untouched(double time) {
    out.fill(-7.0);
    EXPECT_EQ(proto.iterativeCall(time, par, in, out), 1);
    for (double v : out) {
      if (v != -7.0) return false;
    }
    return true;
  }
  // The store stopped with one fatal message that contains `text`.
  void expectStoppedBy(std::string_view text) {
    EXPECT_TRUE(st.stopped);
    EXPECT_EQ(host.countMessages("", "FATAL") + host.countMessages("", "Fatal"), 1);
    EXPECT_EQ(host.countMessages(text), 1) << text;
    EXPECT_TRUE(untouched(10.0));  // and calculates nothing more
  }

  State st;
  RecordingHost host;
  Protocol proto{st, host};
  Parameters par = validParameters();
  Inputs in{};
  Outputs out{};
};

TEST_F(AbsurdHostValues, HugeHeatInputIsNamed) {
  start();
  input(in, "heatB6.power") = -1e308;
  EXPECT_TRUE(untouched(0.25));
  expectStoppedBy("Input 65 is out of range: heat input of");
}

TEST_F(AbsurdHostValues, HugeHeatInputWithAnHxFlowOfMinus1e12IsNamed) {
  param(par, "hx.count") = 3.0;
  for (int k = 1; k <= 3; ++k) {
    const int p = 86 + 19 * (k - 1);
    param(par, p) = 0.1 * k + 0.3;
    param(par, p + 1) = 0.1 * k;
    param(par, p + 10) = 4.0;
    param(par, p + 11) = 1.0;
  }
  start();
  input(in, "heatA5.power") = -1e308;
  input(in, "hx3.massFlow") = -1e12;
  EXPECT_TRUE(untouched(0.25));
  expectStoppedBy("Input 54 is out of range");
}

TEST_F(AbsurdHostValues, TemperaturesBelowAbsoluteZeroOrAboveTenThousandAreNamed) {
  start();
  input(in, "ambient.temperature") = -273.15;
  EXPECT_TRUE(untouched(0.25));
  expectStoppedBy("Input 31 is out of range: ambient temperature of -273.15, at or below");
}

TEST_F(AbsurdHostValues, TimeStepOutsideAMillisecondToACenturyStops) {
  for (double step : {0.0, -0.25, 1e-321, 1e300}) {
    host.timeStepHours = step;
    host.clear();
    start();
    EXPECT_TRUE(untouched(1.0)) << step;
    expectStoppedBy("Time step of the simulation is out of range");
    // Sent at the initial call, before the store knows its unit: the call's own.
    EXPECT_EQ(host.messagesSent.back().unit, 1);
    EXPECT_EQ(host.messagesSent.back().type, 8642);
  }
}

TEST_F(AbsurdHostValues, StoreWithoutMeasurableCapacitanceOrWithWildExponentsIsRefused) {
  param(par, "store.volume") = 5e-324;
  param(par, "store.conductivity") = 2e12;
  param(par, "store.initialTemperature") = 3e7;  // once hotter than the top of the chain
  param(par, "hx.count") = 1.0;
  param(par, "hx1.inletHeight") = 0.5;
  param(par, "hx1.outletHeight") = 0.1;
  param(par, "hx1.numberOfCv") = 4.0;
  param(par, "hx1.deltaTExponent") = -10.5;
  param(par, "hx1.flowExponent") = 10.0;
  start();
  std::vector<int> numbers;
  for (const auto& b : host.badParameters) numbers.push_back(b.number);
  EXPECT_EQ(numbers, (std::vector<int>{6, 1, 4, 101}));
  EXPECT_EQ(host.badParameters[1].text,
            "Parameter is out of range: its size must be 0 or from 1E-12 to 1E+12");
  EXPECT_TRUE(untouched(0.25));
}

TEST_F(AbsurdHostValues, DrawOfMoreThanTheStoreStopsAtItsFatalMessage) {
  param(par, "port1.heightA") = 0.1;
  param(par, "port1.heightB") = 0.9;
  start();
  input(in, "port1.massFlow") = 2000.0;  // 500 kg in a step from a 300 l store
  input(in, "port1.temperatureA") = 10.0;
  EXPECT_TRUE(untouched(0.25));
  expectStoppedBy("mass flow too large in the top or in the bottom of the store");
}

// Parameters are read at every call but checked at the initial call only.
TEST_F(AbsurdHostValues, ParameterChangedMidRunStopsAtTheFirstOutputThatIsNoNumber) {
  start();
  EXPECT_FALSE(untouched(0.25));
  proto.endOfTimeStep(0.25, par);
  param(par, "store.referenceTemperature") = -273.15;  // entropy relative to 0 K
  untouched(0.5);
  expectStoppedBy("Output 62 is not a finite number at time 0.5 h: parameters or inputs far");
}

TEST_F(AbsurdHostValues, NewSimulationAfterAFatalStopHasNoStoreUntilItsInitialCall) {
  param(par, "port1.heightA") = 0.1;
  param(par, "port1.heightB") = 0.9;
  start();
  input(in, "port1.massFlow") = 2000.0;
  untouched(0.25);  // stopped in the middle of the draw
  input(in, "port1.massFlow") = 0.0;
  proto.startOfSimulation();
  proto.endOfTimeStep(0.25, par);  // must not carry the broken plugs on
  EXPECT_TRUE(untouched(0.5));
  proto.initialCall(par);
  EXPECT_FALSE(untouched(0.25));
  EXPECT_DOUBLE_EQ(output(out, "store.meanTemperature"), 60.0);
}

TEST_F(AbsurdHostValues, SecondSimulationKeepsEveryControlVolumeArrayOfItsCoils) {
  // A new simulation with the same coil reuses the coil's arrays: every one
  // of them, or the start of its first step writes past an empty one.
  param(par, "hx.count") = 1.0;
  param(par, "hx1.inletHeight") = 0.5;
  param(par, "hx1.outletHeight") = 0.1;
  param(par, "hx1.innerDiameter") = 0.016;
  param(par, "hx1.outerDiameter") = 0.018;
  param(par, "hx1.length") = 10.0;
  param(par, "hx1.wallConductivity") = 380.0;
  param(par, "hx1.specificHeat") = 3.8;
  param(par, "hx1.density") = 1030.0;
  param(par, "hx1.numberOfCv") = 4.0;
  input(in, "hx1.massFlow") = 200.0;
  input(in, "hx1.inletTemperature") = 70.0;
  for (int run = 0; run < 2; ++run) {
    start();
    EXPECT_FALSE(untouched(0.25));
    proto.endOfTimeStep(0.25, par);
    EXPECT_FALSE(untouched(0.5));
  }
  EXPECT_GT(output(out, "hx1.heatToStore"), 0.0);
  EXPECT_EQ(host.countMessages("", "FATAL") + host.countMessages("", "Fatal"), 0);
}

}  // namespace
}  // namespace plugstore::test
