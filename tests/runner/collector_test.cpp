// Solar collectors in the runner: the loop's heat from the collector to the
// store, stagnation, weather files and their transposition, and the reader's
// refusals.
#include "plugstore/collector.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <fstream>
#include <sstream>

#include "plugstore/epw.h"
#include "plugstore/figures.h"
#include "plugstore/run.h"

namespace plugstore::runner {
namespace {

namespace fs = std::filesystem;

const fs::path kSample = fs::path(PLUGSTORE_SOURCE_DIR) / "tests/runner/data/sample.epw";

// A 300 l store with a coil, a collector on it switched by a differential
// controller on the collector's temperature; 21 June of the sample weather.
std::string solarStore(const std::string& step, const std::string& collector) {
  return "[simulation]\nstart = 4104.0\nstop = 4128.0\nstep = " + step +
         "\n[parameters]\nstore.volume = 0.3\nstore.height = 1.5\nstore.initialTemperature = 20\n"
         "hx.count = 1\nhx1.inletHeight = 0.35\nhx1.outletHeight = 0.05\nhx1.innerDiameter = "
         "0.022\n"
         "hx1.outerDiameter = 0.028\nhx1.length = 15.0\nhx1.specificHeat = 3.8\n"
         "hx1.density = 1040.0\nhx1.numberOfCv = 20\nsensor1.height = 0.1\n"
         "[inputs]\nambient.temperature = 18.0\n"
         "[[collector]]\nname = \"roof\"\narea = 4.0\nhx = 1\n" +
         collector +
         "\n[[controller]]\nname = \"pump\"\ntype = \"differential\"\ninput = \"hx1.massFlow\"\n"
         "hot = \"collector.roof.temperature\"\ncold = \"sensor1.temperature\"\n"
         "deltaOn = 7.0\ndeltaOff = 3.0\nvalue = 200.0\n"
         "[outputs]\ncolumns = [\"hx1.outletTemperature\", \"hx1.heatToFluid\", \"collector.*\"]\n";
}

struct SolarRun {
  RunReport report;
  std::vector<std::vector<double>> rows;
};

SolarRun run(const std::string& text) {
  const fs::path folder =
      fs::path(::testing::TempDir()) / ("plugstore_collector_" + std::to_string(getpid()));
  fs::create_directories(folder);
  SolarRun r;
  RunOptions options;
  options.library = PLUGSTORE_COMPONENT;
  options.progress = false;
  options.rows = [&r](double, std::span<const double> v) {
    r.rows.emplace_back(v.begin(), v.end());
  };
  r.report = runScenario(parseScenario(text, folder / "case.toml"), options);
  return r;
}

std::string fault(const std::string& text, const std::vector<std::string>& overrides = {}) {
  try {
    parseScenario(text, fs::path(::testing::TempDir()) / "case.toml", true, overrides);
  } catch (const ScenarioError& e) {
    return e.what();
  }
  return "no fault";
}

TEST(Collector, ASunnyDayHeatsTheStoreThroughTheCoilAndTheLoopAccountCloses) {
  const std::string collector =
      "flow = 200.0\ncontroller = \"pump\"\npipeUA = 5.0\nweather = { epw = \"" + kSample.string() +
      "\", tilt = 45, azimuth = 0 }\n";
  const SolarRun r = run(solarStore("0.0166666666666666667", collector));
  ASSERT_EQ(r.report.exitStatus(), 0);
  EXPECT_TRUE(r.report.account.closes());
  ASSERT_EQ(r.report.collectors.size(), 1u);
  const CollectorFigures& c = r.report.collectors[0];
  // What the loop's fluid gave up, from the component's own rows (kW, -:
  // out of the fluid), and the return's temperature after the last pumping step.
  const double dt = 1.0 / 60.0;
  double fluid = 0.0;
  double last = 20.0;  // the store's start temperature waits in the return
  for (const std::vector<double>& row : r.rows) {
    fluid -= row[1] * dt;
    if (row[5] > 0.0) last = row[0];
  }
  EXPECT_NEAR(c.delivered, fluid, 1e-9 * fluid);
  EXPECT_GT(c.yield, 10.0);
  EXPECT_GT(c.pipeLoss, 0.0);
  // Yield = heat into the store's coil + pipe loss + the one step of fluid
  // the return holds (200 kg/h, 3.8 kJ/(kg K), 1 min).
  const double held = 200.0 * 3.8 * dt * (last - 20.0) / 3600.0;
  EXPECT_NEAR(c.yield, c.delivered + c.pipeLoss + held, 1e-6 * c.yield);
  EXPECT_LT(std::abs(held), 0.01 * c.yield);
  // The coil's heat reaches the store's account; its own fluid keeps a little.
  EXPECT_NEAR(r.report.account.net("hx"), c.delivered, 0.05 * c.delivered);
  EXPECT_NEAR(c.perArea(), c.yield / 4.0, 1e-12);
  EXPECT_GT(r.report.controllers[0].switchedOn, 0);
}

TEST(Collector, StagnatesWhereTheEfficiencyFallsToZero) {
  // Pump off, 800 W/m2 at 20 degC: eta0 G = a1 x + a2 x^2.
  const SolarRun r = run(solarStore("1.0",
                                    "flow = 0.0\nirradiance = 800.0\nambient = 20.0\n"
                                    "eta0 = 0.8\na1 = 3.5\na2 = 0.015\n"));
  ASSERT_EQ(r.report.exitStatus(), 0);
  const double x = (-3.5 + std::sqrt(3.5 * 3.5 + 4.0 * 0.015 * 0.8 * 800.0)) / (2.0 * 0.015);
  const CollectorFigures& c = r.report.collectors[0];
  EXPECT_NEAR(c.maxTemperature, 20.0 + x, 1e-6);
  EXPECT_DOUBLE_EQ(c.stagnationHours, 24.0);
  EXPECT_DOUBLE_EQ(c.yield, 0.0);
  // One step of any length lands there, never beyond.
  CollectorSetup s;
  s.area = 4.0;
  s.eta0 = 0.8;
  s.a1 = 3.5;
  s.a2 = 0.015;
  s.capacity = 7.0;
  EXPECT_NEAR(collectorStep(s, 20.0, 1e12, 640.0, 20.0, 0.0, 20.0), 20.0 + x, 1e-4);
  const double minute = collectorStep(s, 20.0, 60.0, 640.0, 20.0, 0.0, 20.0);
  EXPECT_GT(minute, 20.0);
  EXPECT_LT(minute, 20.0 + 640.0 * 60.0 / 7000.0);  // below the heating of a lossless node
}

TEST(Collector, WeatherTransposesOntoThePlaneAsByHand) {
  // 21 June (day 172), 12:30 standard time at 48 N, 11 E, UTC+1: equation of
  // time -1.3247 min, declination 23.4498 deg, solar time 12.2113 h, hour
  // angle 3.1688 deg; on a 45 deg plane facing south cos(theta) =
  // sin d sin(phi - beta) + cos d cos(phi - beta) cos w = 0.935578.
  // 680 W/m2 direct normal, 80 diffuse, 700 global, albedo 0.2:
  // 680 * 0.935578 + 80 * (1 + cos 45)/2 + 0.2 * 700 * (1 - cos 45)/2 = 724.980.
  const PlaneIrradiance p =
      transpose({48.0, 11.0, 1.0}, {45.0, 0.0, 0.2}, 171 * 24 + 12.5, 700.0, 680.0, 80.0);
  EXPECT_NEAR(p.total, 724.980, 1e-3);
  EXPECT_NEAR(p.beam, 636.193, 1e-3);
  EXPECT_NEAR(p.incidence, 20.6783, 1e-4);
  // At night nothing reaches the plane from the beam.
  EXPECT_DOUBLE_EQ(transpose({48.0, 11.0, 1.0}, {45.0, 0.0, 0.2}, 171 * 24 + 0.5, 0, 0, 0).beam, 0);

  const EpwData d = readEpw(kSample, {});
  EXPECT_DOUBLE_EQ(d.location.latitude, 48.0);
  ASSERT_EQ(d.hours.size(), 72u);
  EXPECT_DOUBLE_EQ(d.hours[0].start, 170 * 24.0);  // 20 June, the hour ending at 1:00
  EXPECT_EQ(d.hours[0].line, 9);
}

TEST(Collector, WeatherFilesWithMissingValuesAreRefusedAtTheirLine) {
  std::ifstream in(kSample);
  std::stringstream text;
  std::string line;
  for (int n = 1; std::getline(in, line); ++n) {
    // Line 21: 20 June, 13:00; its global horizontal irradiance (field 14) missing.
    if (n == 21) line.replace(line.find(",703,"), 5, ",9999,");
    text << line << "\n";
  }
  const fs::path bad = fs::path(::testing::TempDir()) / "missing.epw";
  std::ofstream(bad) << text.str();
  try {
    readEpw(bad, {});
    ADD_FAILURE() << "a missing value read";
  } catch (const ScenarioError& e) {
    EXPECT_EQ(e.diagnostics().front().place.line, 21);
    EXPECT_NE(std::string(e.what()).find("field 14 is missing (9999)"), std::string::npos);
  }
}

TEST(Collector, TheReaderRefusesLoopsInUseAndBadKeysAndDReachesTheKeys) {
  const std::string base = solarStore("0.25", "flow = 100.0\nirradiance = 500\nambient = 20\n");
  EXPECT_NE(fault(base + "[[collector]]\nname = \"two\"\narea = 2\nhx = 1\nirradiance = 5\n"
                         "ambient = 5\n")
                .find("hx 1 is the loop of collector roof already"),
            std::string::npos);
  EXPECT_NE(fault(std::string(base).replace(base.find("ambient.temperature"), 0,
                                            "hx1.inletTemperature = 40\n"))
                .find("is set by collector roof"),
            std::string::npos);
  EXPECT_NE(fault(solarStore("0.25", "flow = 1\nirradiance = 5\nambient = 5\neta0 = 1.5\n"))
                .find("case.toml:28:8: eta0 must be above 0 and at most 1"),
            std::string::npos);
  EXPECT_NE(fault(base, {"collector.roof.aera=3"}).find("did you mean 'area'?"), std::string::npos);
  EXPECT_NE(fault(base, {"collector.rof.area=3"}).find("did you mean 'roof'?"), std::string::npos);
  const Scenario s = parseScenario(base, fs::path(::testing::TempDir()) / "case.toml", true,
                                   {"collector.roof.area=8", "collector.roof.type=evacuated-tube"});
  EXPECT_DOUBLE_EQ(s.collectors[0].area, 8.0);
  EXPECT_DOUBLE_EQ(s.collectors[0].eta0, 0.65);
}

// The report figures are ratios of the account's rows: the coil in from the
// collector, the heater in as the auxiliary, the load's port out as drawn.
TEST(Collector, ReportFiguresAreTheAccountsRowsOfSolarAuxiliaryAndDrawnHeat) {
  std::string text =
      solarStore("0.25", "flow = 200.0\ncontroller = \"pump\"\nweather = { epw = \"" +
                             kSample.string() + "\" }\n");
  text.replace(text.find("[inputs]\n"), 9,
               "heatA1.height = 0.6\nport1.heightA = 0.3\nport1.heightB = 0.9\n[inputs]\n"
               "heatA1.power = 1.0\n");
  text.replace(text.find("initialTemperature = 20"), 23, "initialTemperature = 40");
  text += "[[load]]\nname = \"house\"\nport = 1\ndemand = 0.5\nflow = 30\nreturn = 22\n";
  const Scenario s = parseScenario(text, fs::path(::testing::TempDir()) / "case.toml");
  const SolarRun r = run(text);
  ASSERT_EQ(r.report.exitStatus(), 0);
  const EnergyAccount& a = r.report.account;
  const ReportFigures f = reportFigures(s, a, runDemand(r.report.tapping, r.report.loads));
  EXPECT_DOUBLE_EQ(f.auxiliary, 24.0);  // 1 kW for a day
  EXPECT_DOUBLE_EQ(f.solar, a.flows[1].in);
  EXPECT_GT(f.solar, 5.0);
  EXPECT_DOUBLE_EQ(f.drawn, -a.flows[0].out);
  ASSERT_TRUE(f.solarFraction && f.spaceCoverage && f.storageEfficiency);
  EXPECT_NEAR(*f.solarFraction, f.solar / (f.solar + 24.0), 1e-15);
  EXPECT_NEAR(*f.spaceCoverage, r.report.loads[0].delivered / 12.0, 1e-12);
  EXPECT_GT(*f.spaceCoverage, 0.99);
  EXPECT_NEAR(*f.storageEfficiency, f.drawn / (f.solar + 24.0), 1e-15);
  EXPECT_FALSE(f.dhwCoverage);  // no tapping list
  const std::string summary = summaryText(s, r.report);
  EXPECT_NE(summary.find("solar fraction"), std::string::npos);
  EXPECT_EQ(summary.find("hot-water coverage"), std::string::npos);
}

}  // namespace
}  // namespace plugstore::runner
