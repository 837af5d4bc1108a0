// Running scenarios through the real component library: inputs reach the
// component at the right step, the energy account adds up, the examples
// match their reference outputs, and the command's exit statuses.
#include "plugstore/run.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <limits>
#include <sstream>
#include <string>

#include "plugstore/intervals.h"
#include "plugstore/names.h"
#include "plugstore/scenario.h"

namespace plugstore::runner {
namespace {

namespace fs = std::filesystem;

struct Csv {
  std::vector<std::string> header;
  std::vector<std::vector<double>> rows;
  [[nodiscard]] std::size_t column(const std::string& name) const {
    const auto it = std::find(header.begin(), header.end(), name);
    EXPECT_NE(it, header.end()) << name;
    return static_cast<std::size_t>(it - header.begin());
  }
};

Csv readCsv(const fs::path& path) {
  Csv csv;
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    if (line.starts_with('#')) continue;  // the totals' run line
    std::vector<std::string> fields;
    std::stringstream ss(line);
    std::string f;
    while (std::getline(ss, f, ',')) fields.push_back(f);
    if (csv.header.empty()) {
      csv.header = fields;
      continue;
    }
    std::vector<double> row;
    for (const std::string& v : fields) row.push_back(std::stod(v));
    csv.rows.push_back(row);
  }
  return csv;
}

class RunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // One folder per test process: test programs may run side by side.
    folder = fs::path(::testing::TempDir()) / ("plugstore_run_test_" + std::to_string(getpid()));
    fs::create_directories(folder);
  }
  void write(const std::string& name, const std::string& text) const {
    std::ofstream(folder / name) << text;
  }
  RunReport run(const std::string& text, const std::string& csvName, bool checks = true,
                std::function<int()> stopSignal = {}) {
    const Scenario s = parseScenario(text, folder / "case.toml", checks);
    RunOptions options;
    options.library = PLUGSTORE_COMPONENT;
    options.csv = folder / csvName;
    options.progress = false;
    options.stopSignal = std::move(stopSignal);
    return runScenario(s, options);
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(folder, ignored);
  }
  fs::path folder;
};

TEST_F(RunTest, SeriesReachTheInputOfTheRightStep) {
  write("held.csv",
        "time,port1.massFlow,hx1.inletTemperature\n0,0,40\n0.5,120,40\n0.75,0,40\n1.0,0,60\n"
        "1.5,240,60\n");
  write("ramp.csv", "time,heatA1.power\n0,0\n2,4\n");
  const RunReport r = run(
      "[simulation]\nstop = 2\nstep = 0.25\n"
      "[parameters]\nport1 = { heightA = 0.05, heightB = 0.95 }\nheatA1.height = 0.5\n"
      "hx.count = 1\n"
      "[inputs]\nport1.temperatureA = 15\nhx1.massFlow = 100\n"
      "[[series]]\nfile = \"held.csv\"\n"
      "[[series]]\nfile = \"ramp.csv\"\ninterpolation = \"linear\"\n"
      "[outputs]\ncolumns = [\"port1.massFlow\", \"heatInputs.power\", \"hx1.inletTemperature\"]\n",
      "series.csv");
  ASSERT_EQ(r.exitStatus(), 0);
  const Csv out = readCsv(folder / "series.csv");
  ASSERT_EQ(out.rows.size(), 8u);
  const std::vector<double> flow = {0, 0, 120, 0, 0, 0, 240, 240};
  const std::vector<double> hxIn = {40, 40, 40, 40, 60, 60, 60, 60};
  for (std::size_t k = 0; k < 8; ++k) {
    const double end = 0.25 * static_cast<double>(k + 1);
    EXPECT_DOUBLE_EQ(out.rows[k][0], end);
    EXPECT_DOUBLE_EQ(out.rows[k][out.column("port1.massFlow")], flow[k]) << "step " << k + 1;
    EXPECT_DOUBLE_EQ(out.rows[k][out.column("hx1.inletTemperature")], hxIn[k]) << k + 1;
    // The ramp 2 kW/h averaged over the step: its value at the middle.
    EXPECT_NEAR(out.rows[k][out.column("heatInputs.power")], 2.0 * (end - 0.125), 1e-7) << k + 1;
  }
}

TEST_F(RunTest, TheEnergyAccountAddsTheOutputsOverTheSteps) {
  const RunReport r =
      run("[simulation]\nstop = 2\nstep = 0.1\n"
          "[parameters]\nstore.initialTemperature = 20\nstore.referenceTemperature = 20\n"
          "loss = { uaBottom = 0, uaSideLower = 0, uaSideMiddle = 0, uaSideUpper = 0, uaTop = 0 }\n"
          "heatA1.height = 0.5\n"
          "[inputs]\nheatA1.power = { schedule = [[0, 2], [1, 0]] }\n"
          "[outputs]\ncolumns = [\"store.energy\"]\n",
          "account.csv");
  ASSERT_EQ(r.exitStatus(), 0);
  const EnergyAccount& a = r.account;
  EXPECT_NEAR(a.net("heat"), 2.0, 1e-9);  // 2 kW for 1 h
  EXPECT_NEAR(a.heatIntoPlugs, 2.0, 1e-6);
  EXPECT_EQ(a.net("port"), 0.0);
  EXPECT_EQ(a.losses, 0.0);
  EXPECT_NEAR(a.storedChange, 2.0, 1e-6);
  EXPECT_NEAR(a.residual(), 0.0, 1e-6);
  EXPECT_LT(a.maxAbsBalance, 1e-6);
  // The stored energy itself, from 0 at the reference temperature: MJ / 3.6.
  const Csv out = readCsv(folder / "account.csv");
  EXPECT_NEAR(out.rows.back()[1] / 3.6, a.storedChange, 1e-6);
}

TEST_F(RunTest, HeatTheLimitTakesFromABoilingStoreIsAccountedNotUnexplained) {
  // A store at 99 degC heated by 10 kW for an hour: the plugs stop at 100 degC.
  const std::string text =
      "[simulation]\nstop = 1\nstep = 0.25\n"
      "[parameters]\nstore.initialTemperature = 99\nstore.referenceTemperature = 20\n"
      "loss = { uaBottom = 0, uaSideLower = 0, uaSideMiddle = 0, uaSideUpper = 0, uaTop = 0 }\n"
      "heatA1.height = 0.5\n"
      "[inputs]\nheatA1.power = 10\n";
  const RunReport r = run(text, "limit.csv");
  EXPECT_GT(r.warnings(), 0);
  const EnergyAccount& a = r.account;
  EXPECT_GT(a.limitedSteps, 0);
  EXPECT_NEAR(a.net("heat"), 10.0, 1e-9);
  EXPECT_LT(a.limitHeat, -5.0);
  EXPECT_NEAR(a.residual(), 0.0, 1e-6);
  const std::string summary = summaryText(parseScenario(text, folder / "x.toml"), r);
  EXPECT_NE(summary.find("temperature limit"), std::string::npos) << summary;
}

TEST_F(RunTest, Label1TakesTheStartProfileFromTheScenariosFolder) {
  fs::create_directories(folder / "start");
  // Two plugs of half the store each: 20 degC below, 60 degC above.
  const double halfCap = 0.3 * 1000.0 * 4.19 / 2.0;  // kJ/K
  std::ofstream(folder / "start" / "startProfile.ini")
      << "1 " << halfCap << " 20 20 0 0.5 0 2\n2 " << halfCap << " 60 60 0.5 1 1 400\n";
  const RunReport r =
      run("[simulation]\nstop = 0.5\nlabel1 = \"start\"\n"
          "[parameters]\nstore.startProfile = 1\nstore.conductivity = 0\n"
          "loss = { uaBottom = 0, uaSideLower = 0, uaSideMiddle = 0, uaSideUpper = 0, uaTop = 0 }\n"
          "[outputs]\ncolumns = [\"profile.t05\", \"profile.t95\", \"store.meanTemperature\"]\n",
          "profile.csv");
  ASSERT_EQ(r.exitStatus(), 0);
  const Csv out = readCsv(folder / "profile.csv");
  ASSERT_EQ(out.rows.size(), 2u);
  EXPECT_NEAR(out.rows.back()[1], 20.0, 1e-9);
  EXPECT_NEAR(out.rows.back()[2], 60.0, 1e-9);
  EXPECT_NEAR(out.rows.back()[3], 40.0, 1e-9);
}

TEST_F(RunTest, InitialProfileIsWrittenForTheComponentAndReadBack) {
  const std::string still =
      "[simulation]\nstop = 0.5\n[parameters]\nstore.conductivity = 0\n"
      "loss = { uaBottom = 0, uaSideLower = 0, uaSideMiddle = 0, uaSideUpper = 0, uaTop = 0 }\n";
  const std::string columns =
      "[outputs]\ncolumns = [\"store.energy\", \"profile.*\", \"store.plugCount\"]\n";
  ASSERT_EQ(run(still + "store.initialTemperature = 40\n" + columns, "uniform.csv").exitStatus(),
            0);
  ASSERT_EQ(run(still + "store.initialProfile = [[0.3, 40]]\n" + columns, "flat.csv").exitStatus(),
            0);
  const Csv uniform = readCsv(folder / "uniform.csv");
  const Csv flat = readCsv(folder / "flat.csv");
  for (std::size_t j = 1; j < uniform.header.size(); ++j) {
    EXPECT_NEAR(flat.rows.back()[j], uniform.rows.back()[j], 1e-9) << uniform.header[j];
  }

  // Two layers, cut at the step: 20 degC below 0.4, 60 degC above.
  const RunReport r =
      run(still + "store.initialProfile = [[0, 20], [0.4, 20], [0.4, 60], [1, 60]]\n" + columns,
          "layers.csv");
  ASSERT_EQ(r.exitStatus(), 0);
  std::ifstream ini(folder / "startProfile.ini");
  std::string line;
  int plugs = 0;
  double cap = 0.0;
  while (std::getline(ini, line)) {
    std::istringstream fields(line);
    std::array<double, 8> v{};
    for (double& x : v) fields >> x;
    cap += v[1];
    EXPECT_EQ(v[2], v[4] < 0.4 ? 20.0 : 60.0) << line;  // no plug straddles the step
    ++plugs;
  }
  EXPECT_EQ(plugs, 30);  // 0.4 and 0.6 of the store cut into plugs of at most 1/30
  EXPECT_NEAR(cap, 0.3 * 1000.0 * 4.19, 1e-9);
  const Csv layers = readCsv(folder / "layers.csv");
  const double mean = 0.4 * 20.0 + 0.6 * 60.0;
  EXPECT_NEAR(layers.rows.back()[layers.column("store.energy")],
              0.3 * 1000.0 * 4.19 * (mean - 20.0) / 1000.0, 1e-9);
  EXPECT_NEAR(layers.rows.back()[layers.column("profile.t35")], 20.0, 1e-9);
  EXPECT_NEAR(layers.rows.back()[layers.column("profile.t45")], 60.0, 1e-9);
}

// One tapping of 0.7 kWh at 6 l/min through a valve at 45 degC, mains at
// 10 degC, from a store without losses at `store` degC.
struct TapCase {
  double store;
  double needed;
};

TEST_F(RunTest, TappingsTakeTheirEnergyThroughTheMixingValve) {
  const double tapFlow = 6.0 * 60.0;                           // kg/h
  const double open = 0.7 * 3600.0 / (tapFlow * 4.19 * 35.0);  // h the tap stays open
  for (const TapCase c : {TapCase{60.0, 40.0}, TapCase{30.0, 25.0}, TapCase{30.0, 40.0}}) {
    const RunReport r =
        run("[simulation]\nstop = 2\nstep = 0.0125\n"
            "[parameters]\nstore.initialTemperature = " +
                std::to_string(c.store) +
                "\nloss = { uaBottom = 0, uaSideLower = 0, uaSideMiddle = 0, uaSideUpper = 0, "
                "uaTop = 0 }\nport1 = { heightA = 0.02, heightB = 0.97 }\n"
                "[inputs]\nport1.temperatureA = 10\n"
                "[tapping]\nport = 1\ndelivery = 45\nlist = [[1.0, 0.7, " +
                std::to_string(c.needed) +
                ", 6]]\n[outputs]\ncolumns = [\"port1.massFlow\", \"tapping.*\"]\n",
            "tap.csv");
    ASSERT_EQ(r.exitStatus(), 0);
    // A hot store gives 35/50 of the water at the tap, a cold one all of it.
    const double share = c.store > 45.0 ? 35.0 / 50.0 : 1.0;
    const double atTap = c.store > 45.0 ? 45.0 : c.store;
    const double delivered = tapFlow * open * 4.19 * (atTap - 10.0) / 3600.0;
    const double useful = atTap >= c.needed ? delivered : 0.0;
    const TappingFigures& t = r.tapping;
    EXPECT_NEAR(t.asked, 0.7, 1e-12) << c.store;
    EXPECT_NEAR(t.useful, useful, 1e-9) << c.store;
    EXPECT_NEAR(t.shortfall, 0.7 - useful, 1e-9) << c.store;
    EXPECT_NEAR(t.drawn, share * tapFlow * open, 1e-9) << c.store;
    const Csv out = readCsv(folder / "tap.csv");
    double mass = 0.0;
    double asked = 0.0;
    for (const auto& row : out.rows) {
      mass += row[out.column("port1.massFlow")] * 0.0125;
      asked += row[out.column("tapping.asked")] * 0.0125;
      if (row[0] > 1.0 && row[0] < 1.0 + open) {
        EXPECT_NEAR(row[out.column("tapping.temperature")], atTap, 1e-6) << row[0];
      }
    }
    EXPECT_NEAR(mass, t.drawn, 1e-6);  // the CSV keeps 9 digits
    EXPECT_NEAR(asked, 0.7, 1e-6);
  }
}

TEST_F(RunTest, ThermostatSwitchesTheHeaterWithHysteresis) {
  const RunReport r = run(
      "[simulation]\nstop = 6\nstep = 0.0166666666666666667\n"
      "[parameters]\nstore.initialTemperature = 50\nheatA1.height = 0.05\nsensor5.height = 0.5\n"
      "port1 = { heightA = 0.02, heightB = 0.97 }\n"
      "[inputs]\nport1.temperatureA = 10\nport1.massFlow = { daily = [[0, 0], [3, 600], [3.4, "
      "0]] }\n"
      "[[controller]]\nname = \"heater\"\ntype = \"thermostat\"\ninput = \"heatA1.power\"\n"
      "sensor = \"sensor5.temperature\"\non = 55\noff = 60\nvalue = 3\n"
      "[outputs]\ncolumns = [\"sensor5.temperature\", \"heatInputs.power\", \"control.heater\"]\n",
      "thermostat.csv");
  ASSERT_EQ(r.exitStatus(), 0);
  const Csv out = readCsv(folder / "thermostat.csv");
  bool on = false;  // the first step runs in the initial state
  int switchedOn = 0;
  for (const auto& row : out.rows) {
    EXPECT_EQ(row[3], on ? 1.0 : 0.0) << row[0];
    EXPECT_EQ(row[2], on ? 3.0 : 0.0) << row[0];
    const bool next = on ? row[1] < 60.0 : row[1] < 55.0;
    if (&row != &out.rows.back()) switchedOn += next && !on ? 1 : 0;
    on = next;
  }
  // On from the start, off at 60 degC, on again after the draw.
  EXPECT_EQ(switchedOn, 2);
  ASSERT_EQ(r.controllers.size(), 1u);
  EXPECT_EQ(r.controllers[0].switchedOn, 2);
}

TEST_F(RunTest, MessagesAreCountedBySeverityAndTimed) {
  const RunReport r = run(
      "[simulation]\nstop = 1\nstep = 0.25\niterations = 2\n"
      "[parameters]\nport1 = { heightA = 0.05, heightB = 0.95 }\n"
      "[inputs]\nport1.temperatureA = 99\nport1.massFlow = { schedule = [[0, 0], [0.5, 50]] }\n",
      "messages.csv");
  ASSERT_EQ(r.exitStatus(), 0);
  // Clamped at both iterations of the two steps with flow.
  const auto warned = std::find_if(r.messages.begin(), r.messages.end(),
                                   [](const MessageCount& m) { return m.severity == "WARNING"; });
  ASSERT_NE(warned, r.messages.end());
  EXPECT_EQ(warned->count, 4);
  EXPECT_EQ(warned->first, 0.75);
  EXPECT_EQ(warned->last, 1.0);
  EXPECT_EQ(r.warnings(), 4);
  const Scenario s = parseScenario("[simulation]\nstop = 1\nstep = 0.25\n", folder / "x.toml");
  const std::string summary = summaryText(s, r);
  EXPECT_NE(summary.find("4 WARNING"), std::string::npos) << summary;
  EXPECT_NE(summary.find("WARNING x4 at 0.75 h ... 1 h: Very high Temperature"), std::string::npos)
      << summary;
  EXPECT_NE(summary.find("energy account"), std::string::npos) << summary;
}

TEST_F(RunTest, ComponentReportsStopTheRun) {
  // A port whose B connection lies at the top: the component rejects it.
  RunReport r = run("[parameters]\nport1 = { heightA = 0.5, heightB = 1.0 }\n", "bad.csv", false);
  EXPECT_EQ(r.exitStatus(), 1);
  EXPECT_TRUE(r.result.badParameter);
  EXPECT_EQ(r.result.steps, 0);
  ASSERT_FALSE(r.badParameters.empty());
  EXPECT_EQ(r.badParameters.front().number, parameterNumber("port1.heightB"));

  // An unknown UA model stops the simulation at the first flowing step.
  r =
      run("[simulation]\nstop = 2\nstep = 0.5\n"
          "[parameters]\nhx.count = 1\nhx1.uaModel = 7\n"
          "[inputs]\nhx1.inletTemperature = 50\nhx1.massFlow = { schedule = [[0, 0], [1, 100]] }\n",
          "fatal.csv", false);
  EXPECT_EQ(r.exitStatus(), 1);
  EXPECT_TRUE(r.result.fatal);
  EXPECT_EQ(r.result.steps, 2);
  EXPECT_EQ(readCsv(folder / "fatal.csv").rows.size(), 2u);
}

bool isSweepFolder(const fs::path& dir) {
  return std::any_of(fs::directory_iterator(dir), fs::directory_iterator(), [](const auto& f) {
    return f.path().filename().string().ends_with(".sweep.toml");
  });
}

// |a - b| <= 1e-6 + 1e-6 |b|: far above the 9 significant digits the CSV
// keeps, far below any change of the physics worth noticing.
bool close(double a, double b) { return std::abs(a - b) <= 1e-6 + 1e-6 * std::abs(b); }

TEST_F(RunTest, ExamplesMatchTheirReferenceOutputs) {
  int checked = 0;
  for (const auto& dir : fs::directory_iterator(fs::path(PLUGSTORE_SOURCE_DIR) / "examples")) {
    if (!dir.is_directory()) continue;
    const fs::path reference = dir.path() / "reference.csv";
    const fs::path scenario = dir.path() / (dir.path().filename().string() + ".toml");
    // A sweep's folder (NAME.sweep.toml) holds its base scenario and its
    // table of results, which the Python package's tests check.
    if (!fs::exists(scenario) && isSweepFolder(dir.path())) continue;
    ASSERT_TRUE(fs::exists(scenario)) << scenario;
    ASSERT_TRUE(fs::exists(reference)) << reference;
    RunOptions options;
    options.library = PLUGSTORE_COMPONENT;
    options.csv = folder / (dir.path().filename().string() + ".csv");
    options.progress = false;
    const RunReport r = runScenario(loadScenario(scenario), options);
    EXPECT_EQ(r.exitStatus(), 0) << scenario;
    EXPECT_LT(r.wallSeconds, 5.0) << scenario;
    const Csv got = readCsv(options.csv);
    const Csv want = readCsv(reference);
    ASSERT_EQ(got.header, want.header) << scenario;
    ASSERT_EQ(got.rows.size(), want.rows.size()) << scenario;
    int differences = 0;
    for (std::size_t i = 0; i < want.rows.size() && differences < 10; ++i) {
      for (std::size_t j = 0; j < want.header.size(); ++j) {
        if (!close(got.rows[i][j], want.rows[i][j])) {
          ++differences;
          ADD_FAILURE() << scenario.filename() << " at " << want.rows[i][0] << " h, "
                        << want.header[j] << ": " << got.rows[i][j] << " instead of "
                        << want.rows[i][j] << " (bash tools/update_references.sh refreshes the "
                        << "references after a deliberate change of the model)";
        }
      }
    }
    ++checked;
  }
  EXPECT_GE(checked, 3);
}

TEST_F(RunTest, IntervalRowsAreTheMeansOfTheirStepsAfterTheInitialState) {
  const std::string scenario =
      "[simulation]\nstop = 3\nstep = 0.25\n"
      "[parameters]\nheatA1.height = 0.5\nstore.initialTemperature = 40\n"
      "[inputs]\nheatA1.power = { schedule = [[0, 2], [0.5, 0], [2.2, 6]] }\n"
      "[outputs]\ncolumns = [\"heatInputs.power\", \"profile.t55\", \"store.meanTemperature\"]\n";
  const RunReport steps = run(scenario + "initialRow = true\n", "steps.csv");
  const RunReport hours = run(scenario + "interval = 1.0\n", "hours.csv");
  ASSERT_EQ(steps.exitStatus(), 0);
  ASSERT_EQ(hours.exitStatus(), 0);
  const Csv s = readCsv(folder / "steps.csv");
  const Csv h = readCsv(folder / "hours.csv");
  ASSERT_EQ(s.rows.size(), 13u);
  ASSERT_EQ(h.rows.size(), 3u);
  // The store as it starts, before any heat.
  EXPECT_EQ(s.rows[0][0], 0.0);
  EXPECT_NEAR(s.rows[0][3], 40.0, 1e-6);
  EXPECT_EQ(s.rows[0][1], 0.0);
  // An hour's row: its time, and the mean of its four steps; 2 kW for the
  // first half hour is 1 kWh in the first hour.
  EXPECT_NEAR(h.rows[0][1], 1.0, 1e-12);
  for (std::size_t r = 0; r < 3; ++r) {
    EXPECT_EQ(h.rows[r][0], static_cast<double>(r + 1));
    for (std::size_t c = 1; c < 4; ++c) {
      double sum = 0.0;
      for (std::size_t k = 1; k <= 4; ++k) sum += s.rows[4 * r + k][c];
      EXPECT_NEAR(h.rows[r][c], sum / 4.0, 1e-8 * (1.0 + std::abs(sum))) << r << " " << c;
    }
  }
  // The look at the initial state leaves the run as it was.
  EXPECT_EQ(steps.account.storedChange, hours.account.storedChange);
}

TEST(CsvNumbers, WrittenAsPrintfWritesThem) {
  const double inf = std::numeric_limits<double>::infinity();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  for (const double v : {0.0, -0.0, 54.98993741, 0.1, 1e-5, 1e-300, 5e-324, 123456789.0,
                         1234567890.5, -2.5e17, 1.7976931348623157e308, inf, -inf, nan, -nan}) {
    for (const int digits : {9, 10}) {
      std::array<char, 40> ours{};
      std::array<char, 40> theirs{};
      char* const end = printGeneral(ours.data(), ours.data() + ours.size() - 1, v, digits);
      std::snprintf(theirs.data(), theirs.size(), "%.*g", digits, v);
      EXPECT_EQ(std::string(ours.data(), end), std::string(theirs.data())) << v << " " << digits;
    }
  }
}

TEST_F(RunTest, PeriodTotalsFollowTheHostsCalendarAndAddUpToTheRun) {
  // From 30 April 12:00 (hour 2868) for 50 h in steps of 5 h: the step
  // 2878 ... 2883 h straddles midnight into 1 May; a 1 kW heater.
  const RunReport r =
      run("[simulation]\nstart = 2868\nstop = 2918\nstep = 5\n"
          "[parameters]\nheatA1.height = 0.5\nport1 = { heightA = 0.05, heightB = 0.95 }\n"
          "[inputs]\nheatA1.power = 1\nport1.temperatureA = 10\n"
          "port1.massFlow = { schedule = [[2868, 0], [2890, 20], [2900, 0]] }\n"
          "[outputs]\ncolumns = [\"store.meanTemperature\"]\ntotals = \"daily\"\n",
          "days.csv");
  ASSERT_EQ(r.exitStatus(), 0);
  ASSERT_EQ(r.totalsRows, 3);
  const Csv t = readCsv(folder / "days-daily.csv");
  ASSERT_EQ(t.rows.size(), 3u);
  const std::vector<std::vector<double>> when = {
      {2868, 2880, 1, 4, 30}, {2880, 2904, 1, 5, 1}, {2904, 2918, 1, 5, 2}};
  const std::vector<double> heaterHours = {12, 24, 14};
  for (std::size_t p = 0; p < 3; ++p) {
    for (std::size_t c = 0; c < 5; ++c) EXPECT_EQ(t.rows[p][c], when[p][c]) << p << " " << c;
    EXPECT_NEAR(t.rows[p][t.column("heatA1.in")], heaterHours[p], 1e-12) << p;
  }
  // Every energy column adds up to the run's account.
  const EnergyAccount& a = r.account;
  const std::vector<std::pair<std::string, double>> sums = {{"heatA1.in", a.flows[1].in},
                                                            {"port1.out", a.flows[0].out},
                                                            {"heatIntoPlugs", a.heatIntoPlugs},
                                                            {"losses", a.losses},
                                                            {"storedChange", a.storedChange}};
  for (const auto& [name, total] : sums) {
    double sum = 0.0;
    for (const auto& row : t.rows) sum += row[t.column(name)];
    EXPECT_NEAR(sum, total, 1e-9 * std::abs(total)) << name;
  }
  EXPECT_LT(a.flows[0].out, -1.0);
}

TEST_F(RunTest, EachFlowShowsTheHeatItBroughtAndTookUnderItsName) {
  // A coil fed hot water by day and cold water by night.
  const RunReport r =
      run("[simulation]\nstop = 4\nstep = 0.1\n"
          "[parameters]\nstore.initialTemperature = 40\nhx.count = 1\n"
          "hx1 = { inletHeight = 0.4, outletHeight = 0.05, uaModel = 1, uaNominal = 2000 }\n"
          "[inputs]\nhx1.massFlow = 200\nhx1.inletTemperature = { schedule = [[0, 70], [2, 10]] }\n"
          "[names]\nhx1 = \"solar coil\"\n",
          "coil.csv");
  ASSERT_EQ(r.exitStatus(), 0);
  ASSERT_EQ(r.account.flows.size(), 1u);
  const Flow& coil = r.account.flows[0];
  EXPECT_EQ(coil.label, "heat exchanger 1 (solar coil)");
  EXPECT_GT(coil.in, 1.0);
  EXPECT_LT(coil.out, -1.0);
  EXPECT_NEAR(coil.net(), r.account.heatIntoPlugs, 1e-6 * coil.in);
  const Scenario s = parseScenario("", folder / "x.toml");
  EXPECT_NE(summaryText(s, r).find("heat exchanger 1 (solar coil)"), std::string::npos);
}

TEST_F(RunTest, StoppedRunsKeepTheirCompleteRowsAndFailedOnesLeaveTheFileAlone) {
  write("kept.csv", "earlier results\n");
  const RunReport rejected =
      run("[parameters]\nport1 = { heightA = 0.5, heightB = 1.0 }\n", "kept.csv", false);
  EXPECT_EQ(rejected.exitStatus(), 1);
  std::stringstream kept;
  kept << std::ifstream(folder / "kept.csv").rdbuf();
  EXPECT_EQ(kept.str(), "earlier results\n");

  int asked = 0;
  const RunReport stopped = run("[simulation]\nstop = 10\n[outputs]\ncolumns = \"all\"\n",
                                "kept.csv", true, [&asked] { return ++asked == 3 ? SIGINT : 0; });
  EXPECT_EQ(stopped.exitStatus(), 128 + SIGINT);
  EXPECT_EQ(stopped.result.steps, 3);
  const Csv out = readCsv(folder / "kept.csv");
  ASSERT_EQ(out.rows.size(), 3u);
  for (const auto& row : out.rows) EXPECT_EQ(row.size(), out.header.size());
  // Nothing is left under a temporary name.
  for (const auto& f : fs::directory_iterator(folder)) {
    EXPECT_NE(f.path().extension().string(), ".part") << f.path();
  }
}

int exitStatusOf(const std::string& arguments) {
  const std::string command = std::string(PLUGSTORE_EXE) + " " + arguments + " >/dev/null 2>&1";
  const int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST_F(RunTest, ExitStatusesOfTheCommand) {
  const std::string out = " -q -o " + (folder / "exit.csv").string();
  write("fine.toml", "[simulation]\nstop = 1\n");
  write("syntax.toml", "[simulation\nstop = 1\n");
  write("unknown.toml", "[parameters]\nstore.colume = 1\n");
  write("rejected.toml", "[parameters]\nstore.minPlugs = 3\n");
  write("fatal.toml",
        "[simulation]\nstop = 1\n[parameters]\nhx.count = 1\nhx1.uaModel = 4\n"
        "[inputs]\nhx1.inletTemperature = 50\nhx1.massFlow = 100\n");
  EXPECT_EQ(exitStatusOf("run " + (folder / "fine.toml").string() + out), 0);
  EXPECT_EQ(exitStatusOf("run " + (folder / "syntax.toml").string() + out), 2);
  EXPECT_EQ(exitStatusOf("run " + (folder / "unknown.toml").string() + out), 2);
  EXPECT_EQ(exitStatusOf("run " + (folder / "absent.toml").string() + out), 2);
  EXPECT_EQ(exitStatusOf("run " + (folder / "rejected.toml").string() + out), 2);
  EXPECT_EQ(exitStatusOf("run " + (folder / "rejected.toml").string() + out + " --unchecked"), 1);
  EXPECT_EQ(exitStatusOf("run " + (folder / "fatal.toml").string() + out + " --unchecked"), 1);
  EXPECT_EQ(exitStatusOf("run --no-such-option"), 2);
  EXPECT_EQ(exitStatusOf("check " + (folder / "fine.toml").string()), 0);
  // J instead of kJ: a run that would look sound, refused unless allowed.
  write("joules.toml", "[simulation]\nstop = 1\n[parameters]\nstore.specificHeat = 4190\n");
  EXPECT_EQ(exitStatusOf("check " + (folder / "joules.toml").string()), 2);
  EXPECT_EQ(exitStatusOf("run " + (folder / "joules.toml").string() + out), 2);
  EXPECT_EQ(exitStatusOf("check " + (folder / "joules.toml").string() + " --allow-unusual"), 0);
  EXPECT_EQ(exitStatusOf("deck " + (folder / "unknown.toml").string()), 2);
  EXPECT_EQ(exitStatusOf("describe --outputs"), 0);
}

TEST_F(RunTest, UntrustworthyRunsEndWithStatus3AndSayWhyLast) {
  write("warned.toml",
        "[simulation]\nstop = 1\n[parameters]\nport1 = { heightA = 0.05, heightB = 0.95 }\n"
        "[inputs]\nport1.temperatureA = 99\nport1.massFlow = 50\n");
  const std::string run = "run " + (folder / "warned.toml").string() + " -q -o " +
                          (folder / "warned.csv").string() + " --summary " +
                          (folder / "warned.json").string();
  EXPECT_EQ(exitStatusOf(run + " --allow-warnings"), 0);
  const std::string log = (folder / "warned.log").string();
  const int status = std::system((std::string(PLUGSTORE_EXE) + " " + run + " 2>" + log).c_str());
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 3);
  std::ifstream in(log);
  std::string line;
  std::string last;
  while (std::getline(in, line)) last = line;
  EXPECT_EQ(last.rfind("plugstore: completed, results not trustworthy: 4 warnings", 0), 0u) << last;
  std::stringstream json;
  json << std::ifstream(folder / "warned.json").rdbuf();
  EXPECT_NE(json.str().find("\"exitStatus\" : 3"), std::string::npos) << json.str();
  EXPECT_NE(json.str().find("\"count\" : 4"), std::string::npos) << json.str();

  // Tappings whose flow is too small for the component to move (c_p in J):
  // the taps count heat the port never took out of the store.
  write("taps.toml",
        "[simulation]\nstop = 1\n[parameters]\nstore.specificHeat = 4190\n"
        "store.initialTemperature = 60\nport1 = { heightA = 0.05, heightB = 0.95 }\n"
        "[inputs]\nport1.temperatureA = 10\n[tapping]\nport = 1\nlist = [[0.1, 1.4, 40, 6]]\n");
  const std::string taps =
      (std::string(PLUGSTORE_EXE) + " run " + (folder / "taps.toml").string() +
       " -q --allow-unusual -o " + (folder / "taps.csv").string() + " 2>" + log);
  const int tapped = std::system(taps.c_str());
  ASSERT_TRUE(WIFEXITED(tapped));
  EXPECT_EQ(WEXITSTATUS(tapped), 3);
  std::ifstream tapLog(log);
  while (std::getline(tapLog, line)) last = line;
  EXPECT_NE(last.find("the tapping list counts 1.4 kWh above the mains water"), std::string::npos)
      << last;

  // An account that leaves more than 1e-6 of its largest term unexplained.
  RunReport r;
  r.account.flows.push_back({"port1", "port 1", 10.0, 0.0});
  r.account.storedChange = 10.0 - 5e-6;
  EXPECT_EQ(judge(r, true).status, 0);
  r.account.storedChange = 10.0 - 2e-5;
  EXPECT_EQ(judge(r, true).status, 3);
  EXPECT_NE(judge(r, true).reason.find("unexplained"), std::string::npos);
}

// Two stores in one run: a unit without links gives what it gives alone, and
// a linked input takes the other unit's output of the same step, or with
// lagged links of the step before.
TEST_F(RunTest, UnitsRunSideBySideAndTakeEachOthersOutputsOfTheStepOrTheStepBefore) {
  auto store = [](const std::string& table, const std::string& rest) {
    return "[" + table + "parameters]\nstore.initialTemperature = 20\n" +
           "port1 = { heightA = 0.95, heightB = 0.05 }\n[" + table +
           "inputs]\nport1.massFlow = 300\n" + rest + "[" + table +
           "outputs]\ncolumns = [\"port1.outletTemperature\", \"port1.heat\", \"store.energy\"]\n";
  };
  const std::string grid = "[simulation]\nstop = 1\nstep = 0.1\n";
  ASSERT_EQ(run(grid + store("", "port1.temperatureA = 70\n"), "alone.csv").exitStatus(), 0);
  const Csv alone = readCsv(folder / "alone.csv");
  for (const bool lagged : {false, true}) {
    const RunReport r =
        run(grid + (lagged ? "links = \"lagged\"\n" : "") + "[[unit]]\nname = \"hot\"\n" +
                store("unit.", "port1.temperatureA = 70\n") + "[[unit]]\nname = \"fed\"\n" +
                store("unit.",
                      "port1.temperatureA = { from = \"hot.port1.outletTemperature\", "
                      "initial = 50 }\n"),
            "two.csv");
    ASSERT_EQ(r.exitStatus(), 0);
    ASSERT_EQ(r.units.size(), 2u);
    const Csv two = readCsv(folder / "two.csv");
    ASSERT_EQ(two.rows.size(), 10u);
    const double kWPerK = 300.0 / 3600.0 * 4.19;  // m cp of the flow
    for (std::size_t k = 0; k < two.rows.size(); ++k) {
      for (const char* name : {"port1.outletTemperature", "port1.heat", "store.energy"}) {
        EXPECT_EQ(two.rows[k][two.column(std::string("hot.") + name)],
                  alone.rows[k][alone.column(name)]);
      }
      const std::size_t hotOut = two.column("hot.port1.outletTemperature");
      const double in = !lagged ? two.rows[k][hotOut] : k == 0 ? 50.0 : two.rows[k - 1][hotOut];
      const double out = two.rows[k][two.column("fed.port1.outletTemperature")];
      EXPECT_NEAR(two.rows[k][two.column("fed.port1.heat")], kWPerK * (in - out), 1e-6) << k;
    }
  }
}

// Two units that feed each other through a gain of 2 and a thermostat (100
// below 50, else 0) never settle: every step ends after maxIterations calls,
// with one warning and status 3.
TEST_F(RunTest, LinkedUnitsThatCannotSettleEndEachStepAndAreReported) {
  class Loop final : public standin::Unit {
   public:
    Loop(bool gain, int& calls) : gain_(gain), calls_(calls) {}
    int call(const standin::HostClock&, double, double* xin, double* out, double*,
             int* info) override {
      calls_ += info[6] >= 0 && info[7] == 0 && info[12] == 0 ? 1 : 0;
      out[0] = gain_ ? 2.0 * xin[0] : (xin[0] > 50.0 ? 0.0 : 100.0);  // port1.outletTemperature
      return 1;
    }
    standin::UnitRecord& record() override { return record_; }

   private:
    bool gain_;
    int& calls_;
    standin::UnitRecord record_;
  };
  int calls = 0;  // the initial and iterative calls of the gain
  int none = 0;
  RunOptions options;
  options.progress = false;
  options.csv = folder / "loop.csv";
  options.unit = [&](const Scenario& u) {
    return std::make_unique<Loop>(u.name == "gain", u.name == "gain" ? calls : none);
  };
  auto unit = [](const char* name, const char* from) {
    return std::string("[[unit]]\nname = \"") + name + "\"\n[unit.inputs]\n" +
           "port1.temperatureA = { from = \"" + from +
           ".port1.outletTemperature\", initial = 10 }\n[unit.outputs]\ncolumns = "
           "[\"port1.outletTemperature\"]\n";
  };
  const Scenario s = parseScenario("[simulation]\nstop = 1\nstep = 0.25\nmaxIterations = 7\n" +
                                       unit("gain", "switch") + unit("switch", "gain"),
                                   folder / "loop.toml", false);
  const RunReport r = runScenario(s, options);
  ASSERT_EQ(r.result.steps, 4);
  EXPECT_EQ(r.result.convergence.unsettledSteps, 4);
  EXPECT_EQ(calls, 1 + 4 * 7);
  const Verdict v = judge(r, false);
  EXPECT_EQ(v.status, kNotTrustworthy);
  EXPECT_NE(v.reason.find("did not settle within 7 iterations in 4 of 4 steps"), std::string::npos)
      << v.reason;
  EXPECT_EQ(judge(r, true).status, 0);
  EXPECT_NE(summaryText(s, r).find("WARNING: the links did not settle"), std::string::npos);
}

TEST_F(RunTest, ThePlotGetsTheFlowsItDrawsByAndTheCsvStaysAsAsked) {
  const Scenario s = parseScenario(
      "[simulation]\nstop = 1\nstep = 0.25\n[parameters]\nport1 = { heightA = 0.05, heightB = 0.95 "
      "}\n"
      "hx.count = 1\n[inputs]\nport1.massFlow = { schedule = [[0, 0], [0.5, 100]] }\n"
      "port1.temperatureA = 10\nhx1.inletTemperature = 70\nhx1.massFlow = "
      "200\n[outputs]\ninitialRow = true\ncolumns = "
      "[\"port1.outletTemperature\", \"hx1.outletTemperature\", \"balance.heatIntoPlugs\"]\n",
      folder / "x.toml");
  RunOptions options;
  options.library = PLUGSTORE_COMPONENT;
  options.csv = folder / "asked.csv";
  options.plotCsv = folder / "plot.csv";
  options.progress = false;
  ASSERT_EQ(runScenario(s, options).exitStatus(), 0);
  const Csv asked = readCsv(options.csv);
  const Csv plot = readCsv(options.plotCsv);
  const std::vector<std::string> added = {"port1.massFlow", "hx1.heatToFluid", "hx1.heatToStore"};
  std::vector<std::string> header = asked.header;
  header.insert(header.end(), added.begin(), added.end());
  EXPECT_EQ(plot.header, header);
  ASSERT_EQ(plot.rows.size(), asked.rows.size());
  for (std::size_t r = 0; r < asked.rows.size(); ++r) {
    EXPECT_TRUE(std::equal(asked.rows[r].begin(), asked.rows[r].end(), plot.rows[r].begin()));
  }
  EXPECT_EQ(plot.rows[2][plot.column("port1.massFlow")], 0.0);
  EXPECT_EQ(plot.rows[3][plot.column("port1.massFlow")], 100.0);
}

}  // namespace
}  // namespace plugstore::runner
