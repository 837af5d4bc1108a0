// Controllers between the steps: the switching rules with their hysteresis,
// signals read from inputs and outputs, and enabling schedules.
#include <gtest/gtest.h>

#include "plugstore/controllers.h"
#include "plugstore/names.h"

namespace plugstore::runner {
namespace {

ControllerSetup setup(ControllerKind kind, double on, double off) {
  ControllerSetup c;
  c.kind = kind;
  c.on = on;
  c.off = off;
  return c;
}

TEST(Controller, SwitchesAtItsThresholdsAndHoldsBetweenThem) {
  const ControllerSetup heat = setup(ControllerKind::kThermostat, 55.0, 60.0);
  EXPECT_TRUE(nextState(heat, false, 54.99));
  EXPECT_FALSE(nextState(heat, false, 55.0));  // on only below the threshold
  EXPECT_FALSE(nextState(heat, false, 58.0));  // in the band: stays off ...
  EXPECT_TRUE(nextState(heat, true, 58.0));    // ... or on
  EXPECT_TRUE(nextState(heat, true, 59.99));
  EXPECT_FALSE(nextState(heat, true, 60.0));

  const ControllerSetup cool = setup(ControllerKind::kThermostat, 30.0, 25.0);
  EXPECT_TRUE(nextState(cool, false, 30.01));
  EXPECT_FALSE(nextState(cool, false, 27.0));
  EXPECT_TRUE(nextState(cool, true, 27.0));
  EXPECT_FALSE(nextState(cool, true, 25.0));

  const ControllerSetup solar = setup(ControllerKind::kDifferential, 7.0, 3.0);
  EXPECT_FALSE(nextState(solar, false, 7.0));
  EXPECT_TRUE(nextState(solar, false, 7.01));
  EXPECT_TRUE(nextState(solar, true, 3.0));
  EXPECT_FALSE(nextState(solar, true, 2.99));
}

TEST(Controller, ReadsInputsAndOutputsAndObeysItsEnablingSchedule) {
  Scenario s;
  ControllerSetup pump = setup(ControllerKind::kDifferential, 7.0, 3.0);
  pump.input = inputNumber("hx1.massFlow");
  pump.value = 200.0;
  pump.sensor = {"hx1.inletTemperature", true, inputNumber("hx1.inletTemperature")};
  pump.reference = {"sensor1.temperature", false, outputNumber("sensor1.temperature")};
  ControllerSetup heater = setup(ControllerKind::kThermostat, 55.0, 60.0);
  heater.input = inputNumber("heatA1.power");
  heater.value = 3.0;
  heater.hasOffValue = true;
  heater.offValue = -1.0;
  heater.sensor = {"sensor1.temperature", false, outputNumber("sensor1.temperature")};
  heater.enable = std::make_shared<const Schedule>(
      std::vector<double>{0.0, 6.0}, std::vector<double>{1.0, 0.0}, Interpolation::kHold, 24.0);
  s.controllers = {pump, heater};
  Controllers c(s);
  std::array<double, kNumInputs> in{};
  std::array<double, kNumOutputs> out{};
  in[static_cast<std::size_t>(inputNumber("heatA1.power") - 1)] = 9.0;  // the scenario's own

  c.start(0.0, 1.0);
  std::array<double, kNumInputs> x = in;
  c.apply(1.0, x);
  EXPECT_EQ(x[static_cast<std::size_t>(pump.input - 1)], 0.0);  // off: left as it was
  EXPECT_EQ(x[static_cast<std::size_t>(heater.input - 1)], -1.0);

  // Collector 10 K above a store at 50 degC: the pump goes on, the heater too.
  in[static_cast<std::size_t>(pump.sensor.number - 1)] = 60.0;
  out[static_cast<std::size_t>(outputNumber("sensor1.temperature") - 1)] = 50.0;
  c.decide(5.0, 6.0, in, out);
  x = in;
  c.apply(1.0, x);
  EXPECT_EQ(x[static_cast<std::size_t>(pump.input - 1)], 200.0);
  EXPECT_EQ(x[static_cast<std::size_t>(heater.input - 1)], 3.0);
  EXPECT_EQ(c.column(0), 1.0);

  // After 6 h the heater is disabled but its switch stays on, and it runs
  // again when enabled while the store is still cold.
  c.decide(6.0, 7.0, in, out);
  c.apply(1.0, x);
  EXPECT_EQ(c.column(1), 0.0);
  c.decide(24.0, 25.0, in, out);
  c.apply(1.0, x);
  EXPECT_EQ(c.column(1), 1.0);
  EXPECT_EQ(c.figures()[1].switchedOn, 2);
  EXPECT_DOUBLE_EQ(c.figures()[1].onHours, 2.0);
}

}  // namespace
}  // namespace plugstore::runner
