// Steps that are long for the store: the heat part runs in sub-steps, and
// the results hold what a short step gives.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>

#include "support/fixtures.h"
#include "support/named_values.h"

namespace plugstore::test {
namespace {

struct RunTotals {
  double heatIn = 0.0;   // kWh that coils and heat inputs gave the plugs
  double stored = 0.0;   // kWh, change of the stored energy
  double maxTemp = 0.0;  // degC, highest profile temperature seen
  double maxBalance = 0.0;
  std::vector<std::string> warnings;
  std::vector<std::string> notices;
};

// Runs `hours` of a store in steps of `step` h; `inputs` sets the inputs of
// the step ending at time t.
template <typename Inputs>
RunTotals simulate(Parameters par, double step, double hours, Inputs inputs) {
  State st;
  RecordingHost host;
  host.timeStepHours = step;
  Protocol proto(st, host);
  proto.startOfSimulation();
  proto.initialCall(par);
  RunTotals r;
  Outputs out{};
  const int steps = static_cast<int>(std::lround(hours / step));
  for (int k = 1; k <= steps; ++k) {
    const double t = k * step;
    test::Inputs in{};
    inputs(t, in);
    proto.iterativeCall(t, par, in, out);
    proto.endOfTimeStep(t, par);
    r.heatIn += output(out, 176) * step;
    r.stored += output(out, 178) * step;
    r.maxBalance = std::max(r.maxBalance, std::fabs(output(out, 64)));
    for (int i = 21; i <= 30; ++i) r.maxTemp = std::max(r.maxTemp, output(out, i));
  }
  for (const RecordedMessage& m : host.messagesSent) {
    if (m.severity == "Warning" || m.severity == "WARNING") r.warnings.push_back(m.text);
    if (m.severity == "NOTICE") r.notices.push_back(m.text);
  }
  return r;
}

// 500 l at 44 degC, no losses, a coil of UA 1 kW/K fed with 70 degC for 2 h.
Parameters coilStore(double inlet, double outlet) {
  Parameters p = validParameters();
  param(p, 1) = 0.5;
  param(p, 5) = 1.7;
  param(p, 6) = 44.0;
  param(p, 85) = 1.0;
  param(p, 86) = inlet;
  param(p, 87) = outlet;
  param(p, 93) = 0.004;   // m3 of coil fluid
  param(p, 94) = 4.19;    // kJ/(kg K)
  param(p, 95) = 1000.0;  // kg/m3
  param(p, 96) = 10.0;    // CVs
  param(p, 97) = 1.0;     // nominal UA
  param(p, 103) = 3600.0;
  return p;
}

void coilInputs(double t, test::Inputs& in) {
  input(in, 32) = 70.0;
  input(in, 33) = t <= 2.0 ? 600.0 : 0.0;
}

TEST(SubSteps, ACoilCoupledBeyondThePlugsStaysBelowItsSupplyAndKeepsItsHeat) {
  const Parameters par = coilStore(0.95, 0.75);
  const RunTotals fine = simulate(par, 0.01, 3.0, coilInputs);
  const RunTotals coarse = simulate(par, 0.25, 3.0, coilInputs);
  EXPECT_TRUE(fine.notices.size() == 1 && coarse.notices.size() == 2);  // version, sub-steps
  EXPECT_NE(coarse.notices.back().find("heat exchanger 1"), std::string::npos);
  EXPECT_TRUE(coarse.warnings.empty()) << coarse.warnings.front();
  EXPECT_LE(coarse.maxTemp, 70.0);
  EXPECT_NEAR(coarse.heatIn, fine.heatIn, 0.05 * fine.heatIn);
  EXPECT_NEAR(coarse.stored, coarse.heatIn, 1e-9 * coarse.heatIn);
  EXPECT_LT(coarse.maxBalance, 1e-9);
}

TEST(SubSteps, AHeaterIntoAThinPlugDeliversAllItsHeat) {
  Parameters par = validParameters();  // no losses, no conduction
  param(par, 1) = 0.4;
  param(par, 5) = 1.6;
  param(par, 200) = 0.7;  // heat input A1
  auto heater = [](double t, test::Inputs& in) { input(in, 50) = t <= 1.0 ? 2.0 : 0.0; };
  const RunTotals r = simulate(par, 0.25, 2.0, heater);
  EXPECT_TRUE(r.warnings.empty()) << r.warnings.front();
  EXPECT_NEAR(r.heatIn, 2.0, 1e-12);
  EXPECT_NEAR(r.stored, 2.0, 1e-9);
  EXPECT_LT(r.maxTemp, 100.0);
}

TEST(SubSteps, AStoreCutForItsTemperatureBarrierSaysSo) {
  Parameters par = validParameters();
  param(par, "store.conductivity") = 100.0;
  param(par, "store.initialTemperature") = 50.0;
  param(par, "barrier.mode") = 2.0;
  param(par, "barrier.temperature") = 55.0;
  param(par, "loss.uaTop") = 20.0;
  param(par, "heatA1.height") = 0.3;
  auto heater = [](double, test::Inputs& in) {
    input(in, "heatA1.power") = 1.0;
    input(in, "ambient.temperature") = 20.0;
  };
  const RunTotals r = simulate(par, 0.25, 4.0, heater);
  ASSERT_EQ(r.notices.size(), 2u);  // version, sub-steps
  EXPECT_NE(r.notices.back().find(": the conduction at the temperature barrier"), std::string::npos)
      << r.notices.back();
}

}  // namespace
}  // namespace plugstore::test
