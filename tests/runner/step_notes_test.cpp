// The check before the run foresees where the step is long for the store.
#include "plugstore/step_notes.h"

#include <gtest/gtest.h>

#include <string>

namespace plugstore::runner {
namespace {

std::vector<std::string> notesAt(const std::string& step) {
  const std::string text = "[simulation]\nstop = 3.0\nstep = " + step +
                           "\n[parameters]\nstore.volume = 0.5\nstore.height = 1.7\n"
                           "port1 = { heightA = 0.02, heightB = 0.98 }\n"
                           "hx.count = 1\nhx1 = { inletHeight = 0.40, outletHeight = 0.05, "
                           "uaModel = 1, uaNominal = 3600.0, volume = 0.004 }\n"
                           "[inputs]\nhx1.inletTemperature = 70.0\n"
                           "hx1.massFlow = { schedule = [[0, 600], [2, 0]] }\n"
                           "port1.temperatureA = 10.0\nport1.massFlow = 1100.0\n";
  return stepNotes(parseScenario(text, "notes.toml"));
}

TEST(StepNotes, ACoilCoupledBeyondItsStoreAndALargeTurnoverAreForeseen) {
  EXPECT_TRUE(notesAt("0.01").empty());
  const std::vector<std::string> notes = notesAt("0.25");
  ASSERT_EQ(notes.size(), 2U);
  // 1 kW/K x 900 s over the 175 l around the coil: 1.23, cut to 0.4 per sub-step.
  EXPECT_NE(notes[0].find("1.23 times"), std::string::npos) << notes[0];
  EXPECT_NE(notes[0].find("about 4 sub-steps"), std::string::npos) << notes[0];
  EXPECT_NE(notes[1].find("turn over up to 0.55"), std::string::npos) << notes[1];
}

TEST(StepNotes, AFlowSetByAControllerCountsWithItsValue) {
  const std::string text =
      "[simulation]\nstop = 3.0\nstep = 0.25\n[parameters]\nstore.volume = 0.5\n"
      "store.height = 1.7\nhx.count = 1\nhx1 = { inletHeight = 0.40, outletHeight = 0.05, "
      "uaModel = 1, uaNominal = 3600.0, volume = 0.004 }\n[inputs]\nhx1.inletTemperature = 70.0\n"
      "[[controller]]\nname = \"pump\"\ntype = \"thermostat\"\ninput = \"hx1.massFlow\"\n"
      "sensor = \"sensor1.temperature\"\non = 50\noff = 60\nvalue = 600\n";
  const std::vector<std::string> notes = stepNotes(parseScenario(text, "notes.toml"));
  ASSERT_EQ(notes.size(), 1U);
  EXPECT_NE(notes[0].find("1.23 times"), std::string::npos) << notes[0];
}

}  // namespace
}  // namespace plugstore::runner
