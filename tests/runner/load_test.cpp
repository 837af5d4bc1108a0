// Space-heating loads: met from a heated store with the account closed,
// short from a cold one (exit 3), refused when written wrongly, reached by -D.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "plugstore/run.h"

namespace plugstore::runner {
namespace {

namespace fs = std::filesystem;

// 24 h at 0 degC ambient: the curve asks 5 x (15 - 0) / (15 + 10) = 3 kW.
const std::string kHouse =
    "[simulation]\nstop = 24\nstep = 0.25\n"
    "[parameters]\nstore.volume = 0.75\nstore.initialTemperature = 65\nheatA1.height = 0.6\n"
    "sensor1.height = 0.7\nport1 = { heightA = 0.05, heightB = 0.95 }\n"
    "[[controller]]\nname = \"aux\"\ntype = \"thermostat\"\ninput = \"heatA1.power\"\n"
    "sensor = \"sensor1.temperature\"\non = 58\noff = 63\nvalue = 6\n"
    "[[load]]\nname = \"house\"\nport = 1\nambient = 0\ndesignLoad = 5\n"
    "flow = 50\nflowAtBalance = 30\nspread = 10\n";

class LoadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder = fs::path(::testing::TempDir()) / ("plugstore_load_test_" + std::to_string(getpid()));
    fs::create_directories(folder);
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(folder, ignored);
  }
  RunReport run(const Scenario& s) const {
    RunOptions options;
    options.library = PLUGSTORE_COMPONENT;
    options.csv = folder / "load.csv";
    options.progress = false;
    return runScenario(s, options);
  }
  // The exit status of the command and the last line it wrote.
  int command(const std::string& text, const std::string& arguments, std::string& last) const {
    std::ofstream(folder / "case.toml") << text;
    const std::string log = (folder / "log").string();
    const bool run = arguments.starts_with("run");
    const int status = std::system(
        (std::string(PLUGSTORE_EXE) + " " + arguments + " " + (folder / "case.toml").string() +
         (run ? " -q -o " + (folder / "c.csv").string() : "") + " 2>" + log)
            .c_str());
    std::ifstream in(log);
    for (std::string line; std::getline(in, line);) last = line;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  fs::path folder;
};

TEST_F(LoadTest, HeatingCurveLoadIsMetFromAHeatedStoreAndCountedInTheTotals) {
  const Scenario s = parseScenario(kHouse + "[outputs]\ntotals = \"daily\"\n", folder / "h.toml");
  const RunReport r = run(s);
  ASSERT_EQ(r.exitStatus(), 0);
  EXPECT_EQ(judge(r, false).status, 0) << judge(r, false).reason;
  ASSERT_EQ(r.loads.size(), 1u);
  const LoadFigures& l = r.loads[0];
  EXPECT_NEAR(l.asked, 72.0, 1e-9);
  EXPECT_NEAR(l.delivered, l.asked, 0.01 * l.asked);
  EXPECT_NEAR(l.shortfall, l.asked - l.delivered, 1e-9);
  // What the house got came out of the store through its port.
  EXPECT_TRUE(r.account.closes());
  EXPECT_LE(l.delivered, l.portOut + 1e-6);
  EXPECT_NEAR(l.portOut, l.delivered, 0.02 * l.asked);
  std::ifstream totals(folder / "load-daily.csv");
  std::string header;
  std::string row;
  std::getline(totals, header);  // the run's line
  std::getline(totals, header);
  std::getline(totals, row);
  EXPECT_NE(header.find("load.house.asked,load.house.delivered,load.house.short,"
                        "load.house.hoursShort"),
            std::string::npos)
      << header;
  EXPECT_NE(row.find(",72,"), std::string::npos) << row;
}

TEST_F(LoadTest, ALoadOnAColdStoreGoesShortAndEndsWithStatus3) {
  const std::string cold =
      "[simulation]\nstop = 6\n[parameters]\nstore.initialTemperature = 35\n"
      "port2 = { heightA = 0.1, heightB = 0.9 }\n"
      "[[load]]\nname = \"floor\"\nport = 2\ndemand = { daily = [[0, 2], "
      "[3, 4]] }\nflow = 40\nreturn = 30\n";
  const RunReport r = run(parseScenario(cold, folder / "c.toml"));
  ASSERT_EQ(r.loads.size(), 1u);
  EXPECT_NEAR(r.loads[0].asked, 18.0, 1e-9);
  EXPECT_GT(r.loads[0].shortfall, 0.01 * 18.0);
  EXPECT_GT(r.loads[0].hoursShort, 0.0);
  EXPECT_LE(r.loads[0].delivered, r.loads[0].portOut + 1e-6);
  std::string last;
  EXPECT_EQ(command(cold, "run", last), 3);
  EXPECT_NE(last.find("load floor went short by"), std::string::npos) << last;
  EXPECT_EQ(command(cold, "run --allow-warnings", last), 0);
}

TEST_F(LoadTest, LoadsWrittenWronglyAreRefused) {
  auto fault = [&](const std::string& text) {
    try {
      parseScenario(text, folder / "bad.toml");
    } catch (const ScenarioError& e) {
      return std::string(e.what());
    }
    return std::string();
  };
  const std::string port = "[parameters]\nport1 = { heightA = 0.05, heightB = 0.95 }\n";
  const std::string load = "[[load]]\nname = \"house\"\nport = 1\ndemand = 3\nreturn = 30\n";
  EXPECT_NE(fault(port + load + "desingLoad = 5\n").find("did you mean 'designLoad'"),
            std::string::npos);
  EXPECT_NE(fault(port + "[tapping]\nport = 1\nlist = [[1, 1, 40, 6]]\n" + load)
                .find("load house: port 1 is the tapping list's"),
            std::string::npos);
  EXPECT_NE(fault(port + load + load).find("a load named 'house' exists already"),
            std::string::npos);
  EXPECT_NE(fault(port + "[inputs]\nport1.massFlow = 100\n" + load).find("is set by the load"),
            std::string::npos);
  EXPECT_NE(fault(port + "[[load]]\nname = \"house\"\nport = 1\ndesignLoad = 5\nreturn = 30\n")
                .find("the heating curve needs 'ambient'"),
            std::string::npos);
  EXPECT_NE(fault(port + load + "flow = 28\n").find("must lie below the flow temperature"),
            std::string::npos);
  std::string last;
  EXPECT_EQ(command(port + load + "spread = 5\n", "check", last), 2);
  EXPECT_NE(last.find("give either 'return'"), std::string::npos) << last;
}

TEST_F(LoadTest, CommandLineSettingsReachLoadsByName) {
  const Scenario s = parseScenario(kHouse, folder / "h.toml", true,
                                   {"load.house.designLoad=8", "load.house.ambient=-10"});
  ASSERT_EQ(s.loads.size(), 1u);
  EXPECT_EQ(s.loads[0].designLoad, 8.0);
  EXPECT_EQ(s.loads[0].ambient.constant, -10.0);
  auto fault = [&](const std::string& setting) {
    try {
      parseScenario(kHouse, folder / "h.toml", true, {setting});
    } catch (const ScenarioError& e) {
      return std::string(e.what());
    }
    return std::string();
  };
  EXPECT_NE(fault("load.house.on=5").find("in [[load]]; did you mean"), std::string::npos);
  EXPECT_NE(fault("load.hose.flow=5").find("did you mean 'house'"), std::string::npos);
}

TEST_F(LoadTest, CheckNotesAPortThatDrawsBelowEveryHeaterAndItsReturn) {
  std::string text = kHouse;
  text.replace(text.find("heightA = 0.05, heightB = 0.95"), 30, "heightA = 0.5, heightB = 0.3");
  const Scenario s = parseScenario(text, folder / "h.toml");
  std::string notes;
  for (const Diagnostic& d : s.notes) notes += d.message + "\n";
  EXPECT_NE(notes.find("below its return let in at 0.5 (A)"), std::string::npos) << notes;
  EXPECT_NE(notes.find("below every heater and coil (the lowest at 0.6)"), std::string::npos)
      << notes;
  EXPECT_TRUE(parseScenario(kHouse, folder / "h.toml").notes.empty());
}

}  // namespace
}  // namespace plugstore::runner
