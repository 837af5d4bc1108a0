#include "host/parameters.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <numbers>
#include <string>
#include <utility>
#include <vector>

#include "support/fixtures.h"
#include "support/named_values.h"

namespace plugstore::test {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

class ParametersTest : public ::testing::Test {
 protected:
  // What the initial call does with the parameters.
  bool check() {
    host.clear();
    readParameters(st, host, par.data());
    return checkParameters(st, host, par.data());
  }
  std::vector<int> reported() const {
    std::vector<int> n;
    for (const auto& b : host.badParameters) n.push_back(b.number);
    return n;
  }
  void setHx(int k, double in, double out, double n) {
    const int p = 86 + 19 * (k - 1);
    param(par, p) = in;
    param(par, p + 1) = out;
    param(par, p + 10) = n;
  }
  void withSixHx() {
    for (int k = 1; k <= 6; ++k) setHx(k, 0.2, 0.6, 4);
  }

  State st;
  RecordingHost host;
  Parameters par = validParameters();
};

TEST_F(ParametersTest, ValidSetPassesAndIsConverted) {
  param(par, 21) = 0.45;
  param(par, 22) = 1.0 / 3.0;
  param(par, 24) = 0.6;
  param(par, 28) = 0.5;  // exactly 0.5: fixed-height inlet
  EXPECT_TRUE(check());
  EXPECT_TRUE(host.badParameters.empty());
  EXPECT_EQ(st.ports[0].zA, 450000);
  EXPECT_EQ(st.ports[0].zOut, 333333);
  EXPECT_EQ(st.ports[0].inletMode, -1);
  EXPECT_EQ(st.ports[1].inletMode, 0);
  EXPECT_DOUBLE_EQ(st.ports[9].cp, 4180.0);
  EXPECT_DOUBLE_EQ(st.store.capTot, 1.254e6);
  EXPECT_DOUBLE_EQ(st.store.A, 0.2);
  EXPECT_EQ(st.store.minPlugHeight, 10000);
  EXPECT_EQ(st.store.maxPlugHeight, 33333);
}

TEST_F(ParametersTest, PortHeightCheck) {
  // Ports 3 ... 7: only A at -1, only B at -1, A at the bottom, B at the
  // top, B at the bottom (valid).
  const double heights[][2] = {{-1, 0.5}, {0.5, -1}, {0, 0.5}, {0.5, 1}, {0.5, 0}};
  for (int i = 0; i < 5; ++i) {
    param(par, 29 + 4 * i) = heights[i][0];
    param(par, 30 + 4 * i) = heights[i][1];
  }
  EXPECT_FALSE(check());
  EXPECT_EQ(reported(), (std::vector<int>{29, 34, 37, 42}));
  EXPECT_EQ(host.badParameters[1].text, "Inlet or outlet heights are out of range");
  EXPECT_EQ(host.badParameters[1].severity, "Fatal");
}

TEST_F(ParametersTest, EachStoreCheckReportsItsParameter) {
  struct Case {
    int parameter;
    double value;
    const char* text;
  };
  const Case cases[] = {
      {85, 7.0, nullptr},
      {1, 0.0, "Storage volume can not be negative"},
      {2, -1.0, "Density can not be negative"},
      {3, 0.0, "Specific capacity can not be negative"},
      {4, -0.1, "Thermal conductivity can not be negative"},
      {5, 0.0, "The height of the storage can not be negative"},
      {9, -0.01, "The minimum temperature difference between two plugs can not be negative"},
      {11, -273.15, "The reference temperature is below 273.15 K"},
      {12, -1.0, "Ua can not be negative"},
      {16, -1.0, "Ua can not be negative"},
      {8, 9.0, "The minimum number of plugs are either too low or too high"},
      {7, 401.0, "The maximum number of plugs is either too low or too high"},
  };
  for (const Case& c : cases) {
    par = validParameters();
    withSixHx();
    param(par, c.parameter) = c.value;
    EXPECT_FALSE(check());
    ASSERT_EQ(reported(), std::vector<int>{c.parameter});
    if (c.text != nullptr) {
      EXPECT_EQ(host.badParameters[0].text, c.text);
    }
  }
  par = validParameters();  // the limits themselves pass
  withSixHx();
  param(par, 4) = 0.0;
  param(par, 9) = 0.0;
  param(par, 11) = -273.14;
  param(par, 85) = 6.0;
  EXPECT_TRUE(check());
}

TEST_F(ParametersTest, PlugCountBoundaries) {
  param(par, 8) = 10.0;
  param(par, 7) = 10.0;
  EXPECT_FALSE(check());
  EXPECT_EQ(reported(), std::vector<int>{7});
  for (double maxPlugs : {10.0, 400.0, 401.0}) {
    param(par, 8) = 400.0;
    param(par, 7) = maxPlugs;
    EXPECT_FALSE(check());
    EXPECT_EQ(reported(), std::vector<int>{7}) << maxPlugs;
  }
  param(par, 8) = 10.0;
  param(par, 7) = 11.0;
  EXPECT_TRUE(check());

  // No count divides by zero; 0 plugs give no plug height.
  param(par, 8) = 0.0;
  param(par, 7) = 0.0;
  EXPECT_FALSE(check());
  EXPECT_EQ(reported(), (std::vector<int>{8, 7}));
  EXPECT_EQ(st.store.maxPlugHeight, 0);
  EXPECT_EQ(st.store.minPlugHeight, 0);
  param(par, 8) = kNaN;
  readParameters(st, host, par.data());
  EXPECT_EQ(st.store.minPlugs, std::numeric_limits<int32_t>::min());
  EXPECT_EQ(st.store.maxPlugHeight, 0);
}

TEST_F(ParametersTest, HxHeightChecksRunAtEveryCall) {
  param(par, 85) = 2.0;
  setHx(1, 0.0, 0.001, 1);  // exactly 0.001 apart
  setHx(2, 0.5, 0.500999, 1);
  readParameters(st, host, par.data());
  readParameters(st, host, par.data());
  ASSERT_EQ(reported(), (std::vector<int>{106, 106}));
  setHx(1, 0.029, 0.03, 1);  // 0.001 apart as typed, a hair less in binary
  host.clear();
  readParameters(st, host, par.data());
  ASSERT_EQ(reported(), (std::vector<int>{106}));
  EXPECT_EQ(host.badParameters[0].text,
            "Outlet heights is too close to inlet height for Hx. Use a wider range of at least "
            "0.001");
  setHx(2, -0.1, 1.1, 1);
  EXPECT_FALSE(check());  // a failed height check also stops the set-up
  ASSERT_EQ(reported(), (std::vector<int>{105, 106}));
  EXPECT_EQ(host.badParameters[0].text, "Inlet heights are out of range for Hx");
  EXPECT_EQ(host.badParameters[1].text, "Outlet heights are out of range for Hx");
}

TEST_F(ParametersTest, EveryCallSeesTheArrayAsTheHostHasItNow) {
  readParameters(st, host, par.data());
  st.ports[0].zIn = 123;  // moved by a call, as an inlet seeking its layer
  readParameters(st, host, par.data());
  EXPECT_EQ(st.ports[0].zIn, st.ports[0].zA);
  param(par, 61) = 0.25;  // sensor 1
  param(par, 200) = -0.0;
  readParameters(st, host, par.data());
  EXPECT_EQ(st.store.zSensor[0], 250000);
  EXPECT_TRUE(std::signbit(st.store.zHeatA[0]));
}

TEST_F(ParametersTest, HxBlockDerivedFields) {
  param(par, 85) = 3.0;
  withSixHx();
  const int p = 86 + 19 * 2;  // Hx 3
  for (int j = 2; j < 19; ++j) param(par, p + j) = 100.0 + j;
  setHx(3, 0.6, 0.2, 7);
  param(par, p + 7) = -0.004;
  param(par, p + 11) = 1.0;
  readParameters(st, host, par.data());
  const HxRecord& hx = st.hx[2];
  EXPECT_EQ(hx.zHxLow, 200000);
  EXPECT_EQ(hx.zHxHigh, 600000);
  EXPECT_EQ(hx.dzCv, 57142);
  EXPECT_EQ(hx.flowUp, 0);  // outlet below inlet
  EXPECT_EQ(st.hx[0].flowUp, -1);
  EXPECT_DOUBLE_EQ(hx.volumeHx, 0.004);
  EXPECT_DOUBLE_EQ(hx.cpHx, 108000.0);
  EXPECT_DOUBLE_EQ(hx.expTemp, 116.0);
  EXPECT_DOUBLE_EQ(hx.unusedPar, 118.0);

  param(par, p + 11) = 0.0;  // correlation model: the volume of the pipe
  for (double n : {0.0, -5.0, 1e12, kNaN}) {
    param(par, p + 10) = n;
    readParameters(st, host, par.data());
    EXPECT_EQ(hx.dzCv, 0) << n;
  }
  EXPECT_DOUBLE_EQ(hx.volumeHx, 102.0 * 102.0 * std::numbers::pi / 4.0 * 104.0);
}

TEST_F(ParametersTest, HxCountOutsideTheTable) {
  // A seventh block would lie on the heat-input heights and the record after
  // the table (the balance) would be written: neither happens.
  param(par, 85) = 7.0;
  withSixHx();
  for (int n = 200; n <= 219; ++n) param(par, n) = 0.5;
  EXPECT_FALSE(check());
  EXPECT_EQ(reported(), std::vector<int>{85});
  EXPECT_EQ(st.hx[5].zHxHigh, 600000);
  EXPECT_DOUBLE_EQ(st.bal.E, 0.0);

  st = State{};
  param(par, 85) = -3.0;
  EXPECT_TRUE(check());
  EXPECT_DOUBLE_EQ(st.hx[0].zInPar, 0.0);
}

TEST_F(ParametersTest, AddedChecksFollowInTheirOrder) {
  param(par, 85) = 2.0;
  setHx(1, 0.2, 0.6, 400000);  // one height unit per CV: allowed
  setHx(2, 0.2, 0.6, 2e9);
  param(par, 219) = 1.01;  // B10
  param(par, 200) = 1.0;   // A1 at the top: allowed
  param(par, 201) = 2.0;
  param(par, 17) = kNaN;  // unused parameters are checked too
  param(par, 1) = -kInf;
  param(par, 150) = kInf;
  EXPECT_FALSE(check());
  EXPECT_EQ(reported(), (std::vector<int>{1, 201, 219, 115, 1, 17, 150}));
  EXPECT_EQ(host.badParameters[6].text, "Parameter is not a finite number (NaN or infinite)");
}

// ---------------------------------------------------------------- inputs

class InputsTest : public ParametersTest {
 protected:
  void SetUp() override {
    param(par, "port3.heightA") = 0.9;
    param(par, "port3.heightB") = 0.1;
    param(par, "hx.count") = 2.0;
    setHx(1, 0.6, 0.2, 4);
    setHx(2, 0.2, 0.6, 4);
    readParameters(st, host, par.data());
    st.store.dtSec = 3600.0;
    st.store.unit = 5;
    st.store.type = 8642;
  }
  void read() { readInputs(st, host, in.data()); }
  Inputs in{};
};

TEST_F(InputsTest, PortOrientationAndFlowThreshold) {
  input(in, "port3.temperatureA") = 30.0;
  input(in, "port3.massFlow") = -720.0;
  input(in, "port3.temperatureB") = 40.0;
  read();
  const DirectPort& port = st.ports[2];
  EXPECT_DOUBLE_EQ(port.mDot, 0.2);
  EXPECT_DOUBLE_EQ(port.tIn, 40.0);
  EXPECT_EQ(port.zIn, 100000);
  EXPECT_EQ(port.zOut, 900000);
  EXPECT_DOUBLE_EQ(port.capFlow, 4180.0 * 0.2 * 3600.0);
  EXPECT_EQ(host.countMessages("More than half", "WARNING"), 1);

  // 0.9 kg/h is no flow: no limits, no throughput, connections as given.
  host.clear();
  input(in, "port3.massFlow") = 0.9;
  input(in, "port3.temperatureA") = 200.0;
  read();
  EXPECT_DOUBLE_EQ(port.mDot, 0.0);
  EXPECT_DOUBLE_EQ(port.tIn, 200.0);
  EXPECT_DOUBLE_EQ(port.capFlow, 0.0);
  EXPECT_EQ(port.zIn, 900000);
  EXPECT_TRUE(host.messagesSent.empty());
}

TEST_F(InputsTest, TemperatureLimitsAndThroughputWarnings) {
  input(in, "port3.massFlow") = 100.0;
  input(in, "port3.temperatureA") = 99.0;
  input(in, "port1.massFlow") = 100.0;  // an unused port's flow still counts
  input(in, "port1.temperatureA") = -5.0;
  read();
  EXPECT_DOUBLE_EQ(st.ports[2].tIn, 95.0);
  EXPECT_DOUBLE_EQ(st.ports[0].tIn, 0.1);
  ASSERT_EQ(host.messagesSent.size(), 3U);
  EXPECT_EQ(host.messagesSent[0].text,
            "Very low Temperature input (limited to 0.1) for one direct port = 1");
  EXPECT_EQ(host.messagesSent[1].text,
            "Very high Temperature input (limited to 95) for one direct port = 3");
  EXPECT_EQ(host.messagesSent[2].text,
            "More than half of the total capacitance of the store turned over by direct fluid "
            "inputs - choose smaller timesteps,smaller mass flow rates or larger store");
  for (const auto& m : host.messagesSent) {
    EXPECT_EQ(m.severity, "WARNING");
    EXPECT_EQ(m.errorCode, -1);
    EXPECT_EQ(m.unit, 5);
    EXPECT_EQ(m.type, 8642);
  }
  host.clear();  // 100 kg/h alone turns over less than half of 1.254e6 J/K
  input(in, "port1.massFlow") = 0.0;
  read();
  EXPECT_EQ(host.countMessages("More than half"), 0);
  EXPECT_EQ(host.countMessages("Very high Temperature"), 1);
}

TEST_F(InputsTest, HxFlowDirection) {
  input(in, "hx1.massFlow") = -36.0;
  input(in, "hx1.inletTemperature") = 70.0;
  input(in, "hx1.inletTemperatureReversed") = 10.0;
  read();
  const HxRecord& hx = st.hx[0];
  EXPECT_DOUBLE_EQ(hx.mDotHx, 0.01);
  EXPECT_DOUBLE_EQ(hx.tInHx, 10.0);
  EXPECT_DOUBLE_EQ(hx.zInHx, 0.2);
  EXPECT_EQ(hx.flowUp, -1);
  EXPECT_EQ(hx.flowReversed, -1);
  EXPECT_EQ(st.store.hxActive, -1);

  // Without flow the heights return to the parameters, the direction stays.
  input(in, "hx1.massFlow") = 0.5;
  read();
  EXPECT_DOUBLE_EQ(hx.zInHx, 0.6);
  EXPECT_DOUBLE_EQ(hx.tInHx, 70.0);
  EXPECT_EQ(hx.flowUp, 0);
  EXPECT_EQ(hx.flowReversed, -1);
  EXPECT_EQ(st.store.hxActive, 0);
}

TEST_F(InputsTest, NonFiniteInputStopsWithOneFatalMessage) {
  input(in, 31) = kNaN;
  input(in, 40) = kInf;
  EXPECT_THROW(read(), FatalStop);
  EXPECT_TRUE(st.stopped);
  ASSERT_EQ(host.messagesSent.size(), 1U);
  EXPECT_EQ(host.messagesSent[0].severity, "FATAL");
  EXPECT_NE(host.messagesSent[0].text.find("Input 31 "), std::string::npos);
}

// Every position of arrays of 1 ... 9 values counts, those of the four sums
// and those after the last group of four.
TEST(AllFinite, OneNonFiniteValueAnywhereIsFound) {
  for (int n = 1; n <= 9; ++n) {
    std::vector<double> x(static_cast<std::size_t>(n), -1e300);
    x[0] = -0.0;
    EXPECT_TRUE(allFinite(x.data(), n)) << n;
    for (std::size_t i = 0; i < x.size(); ++i) {
      for (const double bad : {kNaN, kInf, -kInf}) {
        const double keep = std::exchange(x[i], bad);
        EXPECT_FALSE(allFinite(x.data(), n)) << n << " " << i;
        x[i] = keep;
      }
    }
  }
}

// ---------------------------------------------------------------- outputs

TEST_F(InputsTest, OutputPositionsAndUntouchedOutputs) {
  Outputs out;
  out.fill(-999.0);
  st.ports[2].mDot = 0.2;
  st.ports[9].exPort = -2000.0;
  st.bal.E = 4.0e6;
  st.bal.dtSec = 1800.0;
  st.bal.sLossStep = 3.6e6;
  st.bal.tZone[1] = 55.0;
  st.store.sumQHeatA = 2500.0;
  st.store.sumQHeatB = 500.0;
  for (int i = 0; i < kNumProfilePoints; ++i) {
    st.store.zProfile[static_cast<std::size_t>(i)] = 25000.0 + 50000.0 * i;
    st.store.tProfile[static_cast<std::size_t>(i)] = 10.0 + i;  // 1 K per 50000 units
  }
  st.store.zHeatA[6] = 0.5;
  writeOutputs(st, host, out.data());

  EXPECT_DOUBLE_EQ(output(out, "port3.massFlow"), 720.0);
  EXPECT_DOUBLE_EQ(output(out, "port10.exergyFlow"), -2.0);
  EXPECT_DOUBLE_EQ(output(out, "store.energy"), 4.0);
  EXPECT_DOUBLE_EQ(output(out, "store.meanTemperature"), 4.0e6 / 1.254e6 + 20.0);
  EXPECT_DOUBLE_EQ(output(out, "store.timeStep"), 0.5);
  EXPECT_DOUBLE_EQ(output(out, "loss.entropyFlow"), 2.0);
  EXPECT_DOUBLE_EQ(output(out, "zone2.temperature"), 55.0);
  EXPECT_DOUBLE_EQ(output(out, "heatInputs.power"), 3.0);
  EXPECT_DOUBLE_EQ(output(out, "unused88"), 0.0);
  EXPECT_DOUBLE_EQ(output(out, "profile.t05"), 10.5);
  EXPECT_DOUBLE_EQ(output(out, "profile.t95"), 28.5);
  EXPECT_DOUBLE_EQ(output(out, "heatA7.temperature"), 19.5);
  EXPECT_DOUBLE_EQ(output(out, "heatB1.temperature"), 0.0);                 // input off
  for (int n = 116; n <= 175; ++n) EXPECT_EQ(output(out, n), -999.0) << n;  // Hx 3 ... 6, 156 ...
  EXPECT_EQ(output(out, 202), -999.0);
  EXPECT_TRUE(host.debugLines.empty());

  st.sw.debugLogSwitch = 1;
  writeOutputs(st, host, out.data());
  EXPECT_EQ(host.debugLines, std::vector<std::string>{"DB(STRATVAN): SET OUTPUTS"});
}

}  // namespace
}  // namespace plugstore::test
