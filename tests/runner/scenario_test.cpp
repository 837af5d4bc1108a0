// Reading scenarios: every catalog name reaches its host number, and every
// kind of fault is reported with its file, line and column.
#include "plugstore/scenario.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "host/catalog.h"
#include "plugstore/defaults.h"
#include "plugstore/names.h"

// Under AddressSanitizer (GCC says so by a macro, Clang by a feature).
#if defined(__SANITIZE_ADDRESS__)
#define PLUGSTORE_TEST_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define PLUGSTORE_TEST_ASAN 1
#endif
#endif

namespace plugstore::runner {
namespace {

namespace fs = std::filesystem;

class ScenarioTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // One folder per test process: test programs may run side by side.
    folder =
        fs::path(::testing::TempDir()) / ("plugstore_scenario_test_" + std::to_string(getpid()));
    fs::create_directories(folder);
  }
  fs::path file() const { return folder / "case.toml"; }
  void write(const std::string& name, const std::string& text) const {
    std::ofstream(folder / name) << text;
  }
  Scenario parse(const std::string& text, bool checks = true) const {
    return parseScenario(text, file(), checks);
  }
  // The first diagnostic of a scenario that must fail.
  Diagnostic error(const std::string& text, bool checks = true) const {
    try {
      parse(text, checks);
    } catch (const ScenarioError& e) {
      EXPECT_FALSE(e.diagnostics().empty());
      return e.diagnostics().front();
    }
    ADD_FAILURE() << "no error for:\n" << text;
    return {};
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(folder, ignored);
  }
  fs::path folder;
};

std::size_t at(int number) { return static_cast<std::size_t>(number - 1); }

TEST_F(ScenarioTest, EveryParameterNameSetsItsOwnNumber) {
  std::string text = "[parameters]\n";
  for (const CatalogEntry& e : parameterCatalog()) {
    text += std::string(e.name) + " = " + std::to_string(e.number * 10 + 0.5) + "\n";
  }
  const Scenario s = parse(text, false);
  for (const CatalogEntry& e : parameterCatalog()) {
    EXPECT_EQ(s.parameters[at(e.number)], e.number * 10 + 0.5) << e.name;
    EXPECT_EQ(s.parameterPlace[at(e.number)].line, e.number + 1) << e.name;
  }
}

TEST_F(ScenarioTest, EveryInputNameSetsItsOwnNumber) {
  std::string text = "[inputs]\n";
  for (const CatalogEntry& e : inputCatalog()) {
    text += std::string(e.name) + " = " + std::to_string(e.number + 0.25) + "\n";
  }
  const Scenario s = parse(text, false);
  for (const CatalogEntry& e : inputCatalog()) {
    const InputSource& in = s.inputs[at(e.number)];
    EXPECT_EQ(in.constant, e.number + 0.25) << e.name;
    EXPECT_TRUE(in.given()) << e.name;
    EXPECT_EQ(in.over(0.0, 1.0), e.number + 0.25) << e.name;
  }
}

TEST_F(ScenarioTest, OutputsKeepTheOrderGivenAndPatternsExpandInCatalogOrder) {
  const auto outputs = outputCatalog();
  std::string list;
  for (auto it = outputs.rbegin(); it != outputs.rend(); ++it) {
    list += "\"" + std::string(it->name) + "\", ";
  }
  Scenario s = parse("[outputs]\ncolumns = [" + list + "]\n");
  ASSERT_EQ(s.outputs.size(), outputs.size());
  for (std::size_t i = 0; i < outputs.size(); ++i) {
    EXPECT_EQ(s.outputs[i], outputs[outputs.size() - 1 - i].number);
  }

  s = parse("[outputs]\ncolumns = [\"store.energy\", \"profile.*\", \"store.energy\"]\n");
  std::vector<int> expected = {outputNumber("store.energy")};
  for (const CatalogEntry& e : outputs) {
    if (std::string_view(e.name).starts_with("profile.")) expected.push_back(e.number);
  }
  EXPECT_EQ(s.outputs, expected);  // the repeated name once, where it came first
  EXPECT_EQ(parse("").outputs.size(), outputs.size());
}

TEST_F(ScenarioTest, NestedTablesAndDottedKeysNameTheSameValues) {
  const Scenario dotted = parse(
      "[parameters]\nport2.heightA = 0.9\nport2.heightB = 0.1\nhx.count = 1\n"
      "hx1.inletHeight = 0.6\n");
  const Scenario nested = parse(
      "[parameters]\nhx = { count = 1 }\nport2 = { heightA = 0.9, heightB = 0.1 }\n"
      "[parameters.hx1]\ninletHeight = 0.6\n");
  EXPECT_EQ(dotted.parameters, nested.parameters);
  EXPECT_EQ(dotted.parameters[at(parameterNumber("port2.heightA"))], 0.9);
  EXPECT_EQ(dotted.parameters[at(parameterNumber("hx1.inletHeight"))], 0.6);
}

TEST_F(ScenarioTest, UnsetValuesTakeTheDefaultsAndTheDefaultsPassTheChecks) {
  const Scenario s = parse("");
  EXPECT_EQ(s.parameters, defaultParameters());
  const auto x = defaultInputs();
  for (std::size_t i = 0; i < x.size(); ++i) {
    EXPECT_EQ(s.inputs[i].constant, x[i]);
    EXPECT_FALSE(s.inputs[i].given());
  }
  EXPECT_EQ(s.label1, fs::absolute(folder).lexically_normal().string());
  EXPECT_EQ(s.steps(), 96);
}

TEST_F(ScenarioTest, PositionalListsComeAsArraysOrAsHostText) {
  std::string array = "[parameters]\npositional = [";
  std::string text = "[parameters]\npositional = '''\n";
  for (int n = 1; n <= kNumParameters; ++n) {
    array += std::to_string(n) + (n < kNumParameters ? ", " : "]\n");
    text += std::to_string(n) + ".0D0  ! " + std::to_string(n) + "\n";
  }
  text += "'''\nstore.volume = 0.5\n";
  const Scenario a = parse(array, false);
  const Scenario b = parse(text, false);
  for (int n = 1; n <= kNumParameters; ++n) {
    EXPECT_EQ(a.parameters[at(n)], n);
    EXPECT_EQ(b.parameters[at(n)], n == 1 ? 0.5 : n);  // a name overrides its position
  }

  Diagnostic d = error("[parameters]\npositional = [1, 2, 3]\n", false);
  EXPECT_EQ(d.place.line, 2);
  EXPECT_NE(d.message.find("3 values instead of 219"), std::string::npos) << d.message;
  d = error("[parameters]\npositional = \"1 2 Vol\"\n", false);
  EXPECT_NE(d.message.find("'Vol' is not a number"), std::string::npos) << d.message;
}

TEST_F(ScenarioTest, SyntaxErrorsGiveFileLineAndColumn) {
  const Diagnostic d = error("title = \"x\"\n[simulation]\nstop = 24\nstep = = 0.1\n");
  EXPECT_EQ(d.place.file, file().string());
  EXPECT_EQ(d.place.line, 4);
  EXPECT_EQ(d.place.column, 8);
  EXPECT_NE(formatDiagnostic(d).find("case.toml:4:8: "), std::string::npos);
}

TEST_F(ScenarioTest, UnknownNamesPointAtTheKeyAndNameTheNearestKnownOne) {
  Diagnostic d = error("[parameters]\nstore.volume = 0.3\n  store.heigth = 1.5\n");
  EXPECT_EQ(d.place.line, 3);
  EXPECT_EQ(d.place.column, 9);  // at "heigth"
  EXPECT_NE(d.message.find("did you mean 'store.height'?"), std::string::npos) << d.message;

  d = error("[inputs]\nport1.massflow = 10\n");
  EXPECT_NE(d.message.find("'port1.massFlow'"), std::string::npos) << d.message;

  d = error("[parameters]\nport1.massFlow = 10\n");
  EXPECT_NE(d.message.find("it is an input"), std::string::npos) << d.message;

  d = error("[outputs]\ncolumns = [\"store.energy\", \"store.enrgy\"]\n");
  EXPECT_EQ(d.place.line, 2);
  EXPECT_EQ(d.place.column, 28);
  EXPECT_NE(d.message.find("did you mean 'store.energy'?"), std::string::npos) << d.message;

  d = error("[outputs]\ncolumns = [\"nothing.*\"]\n");
  EXPECT_NE(d.message.find("no output matches"), std::string::npos) << d.message;

  d = error("[simulation]\nsteps = 0.1\n");
  EXPECT_NE(d.message.find("did you mean 'step'?"), std::string::npos) << d.message;
}

TEST_F(ScenarioTest, WrongTypesAreNamed) {
  Diagnostic d = error("[parameters]\nstore.volume = \"large\"\n");
  EXPECT_EQ(d.place.line, 2);
  EXPECT_NE(d.message.find("store.volume must be a number, not a string"), std::string::npos);
  d = error("[simulation]\niterations = 1.5\n");
  EXPECT_NE(d.message.find("iterations must be an integer"), std::string::npos) << d.message;
  d = error("[simulation]\nlinks = \"late\"\n");
  EXPECT_NE(d.message.find("\"converged\" or \"lagged\""), std::string::npos) << d.message;
  d = error("[simulation]\ntolerance = 0\n");
  EXPECT_NE(d.message.find("tolerance must be 1e-12 ... 0.1"), std::string::npos) << d.message;
  d = error("[inputs]\nport1.massFlow = { daily = [[0, 1, 2]] }\n");
  EXPECT_NE(d.message.find("pair [hour, value]"), std::string::npos) << d.message;
  d = error("[inputs]\nport1.massFlow = { daily = [[0, 1]], interpolation = \"cubic\" }\n");
  EXPECT_NE(d.message.find("\"hold\" or \"linear\""), std::string::npos) << d.message;
}

TEST_F(ScenarioTest, ValuesTheComponentRejectsAreReportedWhereTheyAreSet) {
  try {
    parse(
        "[parameters]\nstore.volume = -0.3\nstore.minPlugs = 5\nport1.heightA = 0.0\n"
        "port1.heightB = 0.9\nport2.heightA = 0.5\nhx.count = 1\nhx1.uaModel = 3\n");
    FAIL() << "accepted";
  } catch (const ScenarioError& e) {
    std::vector<std::pair<int, std::string>> got;
    for (const Diagnostic& d : e.diagnostics()) got.emplace_back(d.place.line, d.message);
    auto has = [&got](int line, const std::string& start) {
      for (const auto& [l, m] : got) {
        if (l == line && m.rfind(start, 0) == 0) return true;
      }
      return false;
    };
    EXPECT_TRUE(has(2, "store.volume must be above 0")) << e.what();
    EXPECT_TRUE(has(3, "store.minPlugs must be 10 ... 400")) << e.what();
    EXPECT_TRUE(has(4, "port1.heightA must lie above 0")) << e.what();
    EXPECT_TRUE(has(6, "port2.heightA is set but port2.heightB is -1")) << e.what();
    EXPECT_TRUE(has(8, "hx1.uaModel must be 0")) << e.what();
    EXPECT_EQ(got.size(), 5u) << e.what();
  }
  // Exactly 0.001 between the coil ends passes, as in the component.
  EXPECT_NO_THROW(
      parse("[parameters]\nhx.count = 1\nhx1.inletHeight = 0.5\n"
            "hx1.outletHeight = 0.501\nhx1.numberOfCv = 1\n"));
  // A second Hx with bad heights matters only once it is counted in.
  EXPECT_NO_THROW(parse("[parameters]\nhx.count = 1\nhx2.inletHeight = 2\n"));
  EXPECT_EQ(error("[parameters]\nhx.count = 2\nhx2.inletHeight = 2\n").place.line, 3);
  // Sizes no store has, as the component's own checks find them.
  EXPECT_NE(error("[parameters]\nstore.volume = 1e-300\n").message.find("from 1e-12 to 1e12"),
            std::string::npos);
  EXPECT_EQ(error("[parameters]\nstore.initialTemperature = 3e7\n").place.line, 2);
}

TEST_F(ScenarioTest, InputsThatWouldHaveNoEffectAreRefused) {
  Diagnostic d = error("[inputs]\nport4.massFlow = 100\n");
  EXPECT_EQ(d.place.line, 2);
  EXPECT_NE(d.message.find("port 4 is not in use"), std::string::npos) << d.message;
  d = error(
      "[parameters]\nport1 = { heightA = 0.1, heightB = 0.9 }\n[inputs]\n"
      "port1.massFlow = -100\nport1.temperatureA = 10\n");
  EXPECT_NE(d.message.find("port1.temperatureB is not given"), std::string::npos) << d.message;
  d = error("[inputs]\nhx1.massFlow = 100\n");
  EXPECT_NE(d.message.find("hx.count is 0"), std::string::npos) << d.message;
  d = error("[inputs]\nheatB2.power = { daily = [[0, 0], [5, 1]] }\n");
  EXPECT_NE(d.message.find("heatB2.height is 0"), std::string::npos) << d.message;
  // A zero flow is harmless wherever it goes.
  EXPECT_NO_THROW(parse("[inputs]\nport4.massFlow = 0\n"));
}

TEST_F(ScenarioTest, TimeGridAndLabelAreChecked) {
  EXPECT_NE(error("[simulation]\nstop = 1\nstep = 0.3\n").message.find("whole number of steps"),
            std::string::npos);
  EXPECT_NE(error("[simulation]\nstart = 5\nstop = 5\n").message.find("stop after it starts"),
            std::string::npos);
  // More steps than an int counts once gave a negative step count that passed.
  EXPECT_NE(error("[simulation]\nstop = 1e12\nstep = 0.25\n").message.find("more than the 1e9"),
            std::string::npos);
  EXPECT_NE(error("[simulation]\nlabel1 = \"no-such-folder\"\n").message.find("does not exist"),
            std::string::npos);
  fs::create_directories(folder / "profiles");
  const Scenario s = parse("[simulation]\nlabel1 = \"profiles/\"\n");
  EXPECT_EQ(s.label1, (fs::absolute(folder) / "profiles").lexically_normal().string());
  const Diagnostic d =
      error("[simulation]\nlabel1 = \"profiles\"\n[parameters]\nstore.startProfile = 1\n");
  EXPECT_EQ(d.place.line, 4);
  EXPECT_NE(d.message.find("startProfile.ini does not exist"), std::string::npos) << d.message;
}

TEST_F(ScenarioTest, ValuesTheComponentTakesButMisreadsAreCaught) {
  // A step count beyond what a run can count once read as 96 steps.
  EXPECT_NE(error("[simulation]\nstop = 1073741848\n").message.find("more than the"),
            std::string::npos);
  for (const char* text :
       {"zone2 = { low = 0.6, high = 0.4 }", "sensor3.height = 1.2", "sensor1.height = -0.1",
        "store.initialTemperature = 120", "store.initialTemperature = 0"}) {
    const Diagnostic d = error(std::string("[parameters]\n") + text + "\n");
    EXPECT_EQ(d.place.line, 2) << text << ": " << d.message;
  }
  // Specific heat in J/(kg K): refused, or said when allowed; an odd one said.
  EXPECT_EQ(error("[parameters]\nstore.specificHeat = 4190\n").place.line, 2);
  EXPECT_EQ(parse("[parameters]\nstore.specificHeat = 20\n").notes.size(), 1u);
  const Scenario s =
      parseScenario("[parameters]\nstore.specificHeat = 4190\n", file(), true, {}, true);
  ASSERT_EQ(s.notes.size(), 1u);
  EXPECT_EQ(s.notes[0].place.line, 2);
  EXPECT_NE(s.notes[0].message.find("J/(kg K)?"), std::string::npos) << s.notes[0].message;
  EXPECT_TRUE(parse("").notes.empty());
}

TEST_F(ScenarioTest, SeriesFilesMapColumnsToInputs) {
  write("flows.csv", "# draws\ntime, port1.massFlow, tank\n0, 0, 5\n7, 480, 6\n7.1, 0, 7\n");
  const std::string ports = "[parameters]\nport1 = { heightA = 0.1, heightB = 0.9 }\n";
  const Scenario s = parse(ports +
                           "[inputs]\nport1.temperatureA = 10\n[[series]]\nfile = \"flows.csv\"\n"
                           "columns = { \"port1.massFlow\" = \"port1.massFlow\", tank = "
                           "\"ambient.temperature\" }\n");
  const InputSource& flow = s.inputs[at(inputNumber("port1.massFlow"))];
  ASSERT_TRUE(flow.schedule);
  EXPECT_EQ(flow.origin, "flows.csv:port1.massFlow");
  EXPECT_EQ(flow.over(7.0, 7.05), 480.0);
  EXPECT_EQ(s.inputs[at(inputNumber("ambient.temperature"))].over(8.0, 9.0), 7.0);

  // Without a mapping every column must be an input name.
  Diagnostic d = error(ports + "[[series]]\nfile = \"flows.csv\"\n");
  EXPECT_EQ(d.place.file, (folder / "flows.csv").string());
  EXPECT_EQ(d.place.line, 1);
  EXPECT_EQ(d.place.column, 23);  // at "tank", after the blank
  EXPECT_NE(d.message.find("unknown input 'tank'"), std::string::npos) << d.message;

  d = error(ports +
            "[[series]]\nfile = \"flows.csv\"\ncolumns = { tnak = \"ambient.temperature\" }\n");
  EXPECT_NE(d.message.find("did you mean 'tank'?"), std::string::npos) << d.message;

  write("broken.csv", "time,ambient.temperature\n0,5\n\n2,warm\n");
  d = error("[[series]]\nfile = \"broken.csv\"\n");
  EXPECT_EQ(d.place.line, 4);
  EXPECT_EQ(d.place.column, 3);
  EXPECT_NE(d.message.find("'warm'"), std::string::npos) << d.message;

  write("backwards.csv", "time,ambient.temperature\n0,5\n2,6\n1,7\n");
  d = error("[[series]]\nfile = \"backwards.csv\"\n");
  EXPECT_EQ(d.place.line, 4);
  EXPECT_NE(d.message.find("times must increase"), std::string::npos) << d.message;

  d = error("[[series]]\nfile = \"missing.csv\"\n");
  EXPECT_EQ(d.place.line, 2);
  EXPECT_NE(d.message.find("cannot open the series file"), std::string::npos) << d.message;

  // A device or a folder would be read for ever, or as empty: refused where named.
  for (const char* other : {"/dev/zero", "."}) {
    d = error(std::string("[[series]]\nfile = \"") + other + "\"\n");
    EXPECT_EQ(d.place.line, 2);
    EXPECT_NE(d.message.find("is not a regular file"), std::string::npos) << d.message;
  }

  d = error(ports +
            "[inputs]\nport1.massFlow = 3\nport1.temperatureA = 10\n[[series]]\n"
            "file = \"flows.csv\"\n"
            "columns = { \"port1.massFlow\" = \"port1.massFlow\" }\n");
  EXPECT_NE(d.message.find("given twice"), std::string::npos) << d.message;
}

TEST_F(ScenarioTest, CheckReportsEveryFaultInFileOrder) {
  try {
    parse(
        "titel = \"x\"\n[simulation]\nsetp = 0.5\n[parameters]\nstore.volume = -1\n"
        "store.heigth = 1.5\n[inputs]\nport1.massFlow = { daily = [[0, 1], [24, 0]] }\n"
        "[[controller]]\nname = \"h\"\ntype = \"thermostat\"\ninput = \"heatA1.power\"\n"
        "sensor = \"sensor1.temprature\"\non = 1\noff = 2\nvalue = 1\n"
        "[outputs]\ncolumns = [\"store.enrgy\"]\n");
    FAIL() << "accepted";
  } catch (const ScenarioError& e) {
    std::vector<int> lines;
    for (const Diagnostic& d : e.diagnostics()) lines.push_back(d.place.line);
    EXPECT_EQ(lines, (std::vector<int>{1, 3, 5, 6, 8, 13, 18})) << e.what();
    const std::string all = e.what();
    for (const char* hint : {"did you mean 'title'", "did you mean 'step'", "must be above 0",
                             "did you mean 'store.height'", "must equal the point at 0 h",
                             "did you mean 'sensor1.temperature'", "did you mean 'store.energy'"}) {
      EXPECT_NE(all.find(hint), std::string::npos) << hint << "\n" << all;
    }
  }
}

TEST_F(ScenarioTest, CommandLineSettingsReplaceTheFilesAndAreCheckedAlike) {
  const std::string text =
      "[simulation]\nstop = 24\n[parameters]\nstore.volume = 0.3\n"
      "port1 = { heightA = 0.1, heightB = 0.9 }\n"
      "[inputs]\nport1.temperatureA = 10\nport1.massFlow = { daily = [[0, 0], [7, 300], [24, 0]] "
      "}\n";
  const Scenario s =
      parseScenario(text, file(), true,
                    {"store.volume=0.4", "port1.massFlow = 120", "simulation.stop=48",
                     "store.initialProfile=[[0, 20], [1, 60]]"});
  EXPECT_EQ(s.parameters[at(parameterNumber("store.volume"))], 0.4);
  EXPECT_EQ(s.parameters[at(parameterNumber("store.startProfile"))], 1.0);
  EXPECT_EQ(s.inputs[at(inputNumber("port1.massFlow"))].over(7.0, 8.0), 120.0);
  EXPECT_EQ(s.stop, 48.0);
  ASSERT_EQ(s.initialProfile.size(), 2u);

  try {
    parseScenario(text, file(), true,
                  {"store.volume=big", "port2.massFlow=5", "store.vol=3", "novalue"});
    FAIL() << "accepted";
  } catch (const ScenarioError& e) {
    const std::string all = e.what();
    for (const char* hint :
         {"-D store.volume=big: store.volume must be a number, not a string",
          "-D port2.massFlow=5: port2.massFlow is given but port 2 is not in use",
          "did you mean 'store.volume'", "-D takes name=value"}) {
      EXPECT_NE(all.find(hint), std::string::npos) << hint << "\n" << all;
    }
  }
}

TEST_F(ScenarioTest, CommandLineReachesControllersAndTappingsOfEachUnit) {
  const std::string unit =
      "[unit.parameters]\nport1 = { heightA = 0.1, heightB = 0.9 }\nheatA1.height = 0.2\n"
      "[unit.inputs]\nport1.temperatureA = 10\n[[unit.controller]]\nname = \"aux\"\n"
      "type = \"thermostat\"\ninput = \"heatA1.power\"\nsensor = \"sensor1.temperature\"\n"
      "on = 40\noff = 45\nvalue = 3\n[unit.tapping]\nport = 1\nlist = [[7, 0.1, 25, 3]]\n";
  const std::string two = "[[unit]]\nname = \"a\"\n" + unit + "[[unit]]\nname = \"dhw\"\n" + unit;
  const Scenario s =
      parseScenario(two, file(), true, {"dhw.controller.aux.on=50", "dhw.tapping.delivery=50"});
  EXPECT_EQ(s.units[1].controllers[0].on, 50.0);
  EXPECT_EQ(s.units[1].tapping.delivery, 50.0);
  EXPECT_EQ(s.units[0].controllers[0].on, 40.0);
  try {
    parseScenario(two, file(), true,
                  {"dhw.controller.heater.on=50", "a.controller.aux.onn=1",
                   "dhw.controller.aux.on=x", "dhw.controler.aux.on=1"});
    FAIL() << "accepted";
  } catch (const ScenarioError& e) {
    const std::string all = e.what();
    for (const char* hint :
         {"no [[controller]] of unit dhw is named 'heater'; did you mean 'aux'?",
          "'onn' in [[controller]]; did you mean 'on'?",
          "-D dhw.controller.aux.on=x: on must be a number", "did you mean 'controller.aux.on'"}) {
      EXPECT_NE(all.find(hint), std::string::npos) << hint << "\n" << all;
    }
  }
}

TEST_F(ScenarioTest, ControllersTappingsAndProfilesAreCheckedWhereWritten) {
  const std::string port =
      "[parameters]\nport1 = { heightA = 0.1, heightB = 0.9 }\n[inputs]\nport1.temperatureA = 10\n";
  const std::string thermostat =
      "[[controller]]\nname = \"h\"\ntype = \"thermostat\"\ninput = \"hx1.massFlow\"\n"
      "sensor = \"sensor1.temperature\"\non = 55\noff = 60\nvalue = 100\n";
  Diagnostic d = error(thermostat);
  EXPECT_EQ(d.place.line, 1);
  EXPECT_NE(d.message.find("hx.count is 0"), std::string::npos) << d.message;
  d = error(thermostat + "hot = \"sensor2.temperature\"\n");
  EXPECT_NE(d.message.find("'hot' belongs to a differential controller"), std::string::npos);
  d = error(port +
            "[tapping]\nport = 1\ndelivery = 45\nlist = [[7, 0.1, 25, 3], [6, 1.4, 50, 6]]\n");
  EXPECT_EQ(d.place.line, 8);
  EXPECT_NE(d.message.find("tapping 2: times must not decrease"), std::string::npos) << d.message;
  const Scenario upsideDown = parse(
      "[parameters]\nport1 = { heightA = 0.9, heightB = 0.1 }\n[inputs]\nport1.temperatureA = 10\n"
      "[tapping]\nport = 1\nlist = [[7, 0.1, 25, 3]]\n");
  ASSERT_EQ(upsideDown.notes.size(), 1u);
  EXPECT_NE(upsideDown.notes[0].message.find("at height 0.1 (connection B), below"),
            std::string::npos);
  d = error(port + "port1.massFlow = 3\n[tapping]\nport = 1\nlist = [[7, 0.1, 25, 3]]\n");
  EXPECT_NE(d.message.find("set by the tapping list"), std::string::npos) << d.message;
  d = error("[parameters]\nstore.initialProfile = [[0, 20], [0.5, 30], [0.4, 60]]\n");
  EXPECT_EQ(d.place.column, 45);  // at the third point
  EXPECT_NE(d.message.find("point 3: heights must not decrease"), std::string::npos);
  d = error("[parameters]\nstore.startProfile = 0\nstore.initialProfile = [[0, 20]]\n");
  EXPECT_EQ(d.place.line, 2);
  d = error("[parameters]\nhx.count = 1\nhx1.density = 1.05\n");
  EXPECT_EQ(d.message,
            "hx1.density is 1.05 kg/m3, more than 10 times from water's 1000: was it "
            "given in kg/l? (--allow-unusual runs it)");
}

TEST_F(ScenarioTest, HostileInputIsRefusedBeforeItIsRead) {
  // Nesting that would drive the TOML parser's recursion past the stack.
  std::string deep = "a";
  for (int i = 0; i < 40000; ++i) deep += ".a";
  Diagnostic d = error("[inputs]\n" + deep + " = 1\n");
  EXPECT_EQ(d.place.line, 2);
  EXPECT_NE(d.message.find("nested more than 64 levels"), std::string::npos) << d.message;
  const std::string braces = std::string(3000, '{');
  EXPECT_THROW(parseScenario("", file(), true, {"port1.massFlow=" + braces}), ScenarioError);
  // A NUL would cut a path short; a pipe is no start profile.
  write("draws.csv", "time,port1.massFlow\n0,0\n");
  d = error("[[series]]\nfile = \"draws.csv\\u0000.evil\"\n");
  EXPECT_EQ(d.message, "file: a path cannot hold a NUL character (\\u0000)");
  ASSERT_EQ(mkfifo((folder / "startProfile.ini").c_str(), 0600), 0);
  d = error("[parameters]\nstore.startProfile = 1\n");
  EXPECT_NE(d.message.find("startProfile.ini is not a regular file"), std::string::npos);
}

TEST_F(ScenarioTest, SeriesAreHeldAsArraysOfNumbers) {
#if defined(PLUGSTORE_TEST_ASAN)
  GTEST_SKIP() << "AddressSanitizer's shadow memory is no measure of the runner's";
#endif
  // A million rows (24 MB) read by `check`: its peak stays near the numbers
  // (16 bytes a row and the schedule's 16), far from a row of strings each.
  {
    std::ofstream csv(folder / "big.csv");
    csv.precision(10);
    csv << "time,ambient.temperature\n";
    for (int i = 0; i < 1000000; ++i) csv << i * 0.01 << "," << 10.0 + (i % 100) * 0.01 << "\n";
  }
  write("big.toml", "[simulation]\nstop = 9999\nstep = 1\n[[series]]\nfile = \"big.csv\"\n");
  const pid_t child = fork();
  if (child == 0) {
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, STDERR_FILENO);
    execl(PLUGSTORE_EXE, PLUGSTORE_EXE, "check", (folder / "big.toml").c_str(), nullptr);
    _exit(127);
  }
  int status = 0;
  rusage use{};
  ASSERT_EQ(wait4(child, &status, 0, &use), child);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_LT(use.ru_maxrss, 60 * 1024) << "KiB";
}

TEST_F(ScenarioTest, MissingScenarioFileIsAnError) {
  try {
    loadScenario(folder / "absent.toml");
    FAIL() << "loaded";
  } catch (const ScenarioError& e) {
    EXPECT_NE(std::string(e.what()).find("cannot open the scenario file"), std::string::npos);
  }
}

TEST_F(ScenarioTest, UnitsAreNamedNumberedAndLinkedToOneAnother) {
  const std::string two =
      "[simulation]\nunit = 4\n"
      "[[unit]]\nname = \"a\"\n[unit.parameters]\nport1 = { heightA = 0.05, heightB = 0.95 }\n"
      "[unit.inputs]\nport1.massFlow = 10\n"
      "port1.temperatureA = { from = \"b.port1.outletTemperature\", initial = 12 }\n"
      "[[unit]]\nname = \"b\"\n";
  const Scenario s = parse(two);
  ASSERT_EQ(s.units.size(), 2u);
  EXPECT_EQ(s.units[0].unit, 4);
  EXPECT_EQ(s.units[1].unit, 5);
  const InputSource& in = s.units[0].inputs[at(inputNumber("port1.temperatureA"))];
  ASSERT_TRUE(in.link);
  EXPECT_EQ(in.link->unit, 1u);
  EXPECT_EQ(in.link->output, outputNumber("port1.outletTemperature"));
  EXPECT_EQ(in.constant, 12.0);
  EXPECT_EQ(columnCount(s), 2u * kNumOutputs);

  std::string faults;
  try {
    parse(
        "[[unit]]\nname = \"a\"\n[unit.inputs]\nambient.temperature = { from = \"c.loss.heat\" }\n"
        "[[unit]]\nname = \"a\"\n[[unit]]\n"
        "[unit.inputs]\nambient.temperature = { from = \"a.store.energy\" }\n");
  } catch (const ScenarioError& e) {
    faults = e.what();
  }
  EXPECT_NE(faults.find("case.toml:4:32: no unit is named c (units: a, a, )"), std::string::npos)
      << faults;
  EXPECT_NE(faults.find("two units are named a"), std::string::npos) << faults;
  EXPECT_NE(faults.find("[[unit]] needs 'name'"), std::string::npos) << faults;
  EXPECT_EQ(
      error("[inputs]\nambient.temperature = { from = \"a.loss.heat\" }\n").message,
      "ambient.temperature: 'from' takes an output of another [[unit]], and this scenario has "
      "one store");
  try {
    parseScenario(two, file(), true, {"store.volume=0.5"});
    ADD_FAILURE() << "-D without its unit";
  } catch (const ScenarioError& e) {
    EXPECT_EQ(e.diagnostics().front().message, "name the unit first, as in -D a.store.volume=...");
  }
  EXPECT_EQ(parseScenario(two, file(), true, {"b.store.volume=0.5"})
                .units[1]
                .parameters[at(parameterNumber("store.volume"))],
            0.5);
}

}  // namespace
}  // namespace plugstore::runner
