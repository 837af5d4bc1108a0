// The runner's output files: none may replace a file the run reads or
// another output, a failed write ends the run with its own exit status and
// the reason, and files left by killed runs are cleared or told apart.
#include "plugstore/output_paths.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "plugstore/run.h"

namespace plugstore::runner {
namespace {

namespace fs = std::filesystem;

class OutputPathsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder = fs::path(::testing::TempDir()) / ("plugstore_paths_" + std::to_string(getpid()));
    fs::remove_all(folder);
    fs::create_directories(folder);
  }
  void TearDown() override { fs::remove_all(folder); }
  void write(const std::string& name, const std::string& text) const {
    std::ofstream(folder / name) << text;
  }
  std::string read(const std::string& name) const {
    std::stringstream s;
    s << std::ifstream(folder / name).rdbuf();
    return s.str();
  }
  // The exit status of `plugstore ARGS`, run in the folder; standard error into err.
  int plugstore(const std::string& args, const std::string& prefix = "") {
    const std::string command = "cd " + folder.string() + " && " + prefix + PLUGSTORE_EXE + " " +
                                args + " >/dev/null 2>err.txt";
    const int status = std::system(command.c_str());
    err = read("err.txt");
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  fs::path folder;
  std::string err;
};

TEST_F(OutputPathsTest, NoOutputReplacesAnInputOrAnotherOutput) {
  const std::string scenario =
      "[simulation]\nstop = 2\n[[series]]\nfile = \"draws.csv\"\n[outputs]\ntotals = \"daily\"\n";
  write("s.toml", scenario);
  write("draws.csv", "time,port1.massFlow\n0,0\n");
  write("o2-daily.csv", "time,port1.massFlow\n0,0\n");
  fs::create_symlink("s.toml", folder / "link.toml");
  for (const std::string args :
       {"-o s.toml", "-o link.toml", "-o o.csv --plot draws.csv", "-o both --summary both",
        "-o o.csv --summary o-daily.csv", "-o ./x/../s.toml"}) {
    EXPECT_EQ(plugstore("run s.toml -q " + args), 2) << args;
    EXPECT_NE(err.find("plugstore: "), std::string::npos) << err;
  }
  EXPECT_TRUE(read("s.toml") == scenario);
  EXPECT_TRUE(read("draws.csv") == "time,port1.massFlow\n0,0\n");
  EXPECT_FALSE(fs::exists(folder / "both"));
  // A series named as the totals of -o o2.csv would be.
  write("s2.toml", "[[series]]\nfile = \"o2-daily.csv\"\n[outputs]\ntotals = \"daily\"\n");
  EXPECT_EQ(plugstore("run s2.toml -q -o o2.csv"), 2);
  EXPECT_NE(err.find("the daily totals"), std::string::npos) << err;
  EXPECT_EQ(plugstore("deck s.toml -o s.toml"), 2);
  EXPECT_EQ(plugstore("run s.toml -q -o fine.csv --summary fine.json"), 0) << err;
}

TEST_F(OutputPathsTest, AFailedWriteStopsTheRunWithItsOwnStatusAndReason) {
  write("long.toml", "[simulation]\nstop = 2000\nstep = 0.1\n[outputs]\ntotals = \"daily\"\n");
  write("long.csv", "earlier rows\n");
  // Files may grow to 64 KiB: the CSV of all 202 columns fills that early.
  const int status =
      plugstore("run long.toml -o long.csv --summary long.json", "trap '' XFSZ; ulimit -f 64; ");
  EXPECT_EQ(status, kOutputFailed) << err;
  EXPECT_NE(err.find("plugstore: cannot write long.csv: File too large"), std::string::npos) << err;
  EXPECT_NE(err.find("energy account"), std::string::npos) << err;  // the summary stays
  EXPECT_EQ(err.find("20000 of 20000 steps"), std::string::npos) << err;
  EXPECT_EQ(read("long.csv"), "earlier rows\n");
  EXPECT_FALSE(fs::exists(folder / "long-daily.csv"));
  EXPECT_NE(read("long.json").find("\"exitStatus\" : 4"), std::string::npos);
}

TEST_F(OutputPathsTest, PartFilesOfKilledRunsGoAndTotalsCarryTheRunOfTheirSummary) {
  write("day.toml", "[simulation]\nstop = 48\n[outputs]\ntotals = \"daily\"\n");
  // Process 1 runs for ever; a number above the kernel's limit never ran.
  write(".day.csv.1.part", "");
  write(".day.csv.99999999.part", "");
  write(".day-daily.csv.99999999.part", "");
  ASSERT_EQ(plugstore("run day.toml -q -o day.csv --summary day.json"), 0) << err;
  EXPECT_TRUE(fs::exists(folder / ".day.csv.1.part"));
  EXPECT_FALSE(fs::exists(folder / ".day.csv.99999999.part"));
  EXPECT_FALSE(fs::exists(folder / ".day-daily.csv.99999999.part"));
  const std::string totals = read("day-daily.csv");
  ASSERT_EQ(totals.rfind("# run ", 0), 0u) << totals;
  const std::string id = totals.substr(6, totals.find('\n') - 6);
  EXPECT_NE(read("day.json").find("\"runId\" : \"" + id + "\""), std::string::npos) << id;
  EXPECT_EQ(read("day.csv").rfind("time,", 0), 0u);  // the CSV's columns as they were
}

}  // namespace
}  // namespace plugstore::runner
