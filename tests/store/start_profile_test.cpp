#include "store/start_profile.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "plugs/diagnostics.h"
#include "store/plug_table.h"
#include "store/profile_reader.h"
#include "support/fixtures.h"

namespace plugstore::test {
namespace {

namespace fs = std::filesystem;

std::string rec(int e, double cap, double t, double z0, double z1, int down, int up) {
  return std::to_string(e) + " " + std::to_string(cap) + " " + std::to_string(t) + " " +
         std::to_string(t) + " " + std::to_string(z0) + " " + std::to_string(z1) + " " +
         std::to_string(down) + " " + std::to_string(up) + "\n";
}

std::string padded(const std::string& s) { return s + std::string(300 - s.size(), ' '); }

int openFiles() {
  int n = 0;
  for ([[maybe_unused]] const auto& e : fs::directory_iterator("/proc/self/fd")) ++n;
  return n;
}

class StartProfileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string tmpl = (fs::temp_directory_path() / "plugstore-XXXXXX").string();
    ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
    dir = tmpl;
    resetTable();
  }
  void TearDown() override { fs::remove_all(dir); }

  // the reset of the set-up that precedes the reader
  void resetTable() {
    for (int i = 1; i < kTopSentinel; ++i) st.plugs[i].Cap = st.plugs[i].CapSolver = 0.0;
    st.plugs[0] = {kBottomSentinelTemp, -1.0, -1.0};
    st.plugs[0].iUp = 1;
    st.plugs[kTopSentinel] = {kTopSentinelTemp, -1.0, -1.0};
    st.plugs[kTopSentinel].iUp = kTopSentinel;
  }

  // Reads `text` as a start profile; true when the run was stopped.
  bool read(const std::string& text) {
    BufferLines lines(text);
    try {
      readProfileRecords(st, host, lines, "mem");
      checkProfileChain(st, host);
    } catch (const FatalStop&) {
      return true;
    }
    return false;
  }
  bool readFile() {
    const std::string d = dir.string();
    std::copy_n(d.begin(), d.size(), st.store.dataPath.begin());
    try {
      readStartProfile(st, host);
    } catch (const FatalStop&) {
      return true;
    }
    return false;
  }
  std::vector<std::string> out() const { return host.stdoutLines; }
  int chainFaults() const { return host.countMessages("does not form a chain", "FATAL"); }

  fs::path dir;
  State st;
  RecordingHost host;
};

TEST_F(StartProfileTest, TopPlugEndsTheReadSilentlyAndFixesBothSentinelLinks) {
  EXPECT_FALSE(read(rec(7, 1.5, 20, 0, 0.25, 0, 3) + rec(3, 1.5, 40, 0.25, 0.5, 7, 12) +
                    rec(12, 3, 60, 0.5, 1, 3, 400) + "not read\n"));
  EXPECT_TRUE(out().empty());
  EXPECT_EQ(chainIndices(st), (std::vector<int>{7, 3, 12}));
  EXPECT_EQ(highestPlug(st.plugs), 12);
  EXPECT_DOUBLE_EQ(st.plugs[12].Cap, 3000.0);
  EXPECT_EQ(st.plugs[3].zUp, 500000);
  EXPECT_EQ(st.profile.lineNumber, 12);
}

TEST_F(StartProfileTest, EndOfFileBeforeTheTopPlugReportsTheLastIndexAndIsNoChain) {
  EXPECT_TRUE(read(rec(1, 1, 20, 0, 0.5, 0, 9) + rec(9, 1, 20, 0.5, 1, 1, 5)));
  EXPECT_EQ(out(), (std::vector<std::string>{"End of file encountered at line number= 9"}));
  EXPECT_EQ(chainFaults(), 1);
  EXPECT_TRUE(st.stopped);
}

TEST_F(StartProfileTest, AHeaderLineIsAReadFailureAtLineZeroAndTheRecordsFollow) {
  EXPECT_FALSE(read("Index Cap Temp\n" + rec(1, 1, 20, 0, 1, 0, 400)));
  EXPECT_EQ(out(), (std::vector<std::string>{"unknown option= 1  at line number= 0"}));
  EXPECT_DOUBLE_EQ(st.plugs[1].Temp, 20.0);
}

TEST_F(StartProfileTest, TakesAtMost402RecordsWithoutATopPlug) {
  std::string text;
  for (int e = 1; e <= 402; ++e) text += rec(e % 399 + 1, 1, e, 0, 1, 0, 1);
  text += rec(9, 1, 999, 0, 1, 0, 1);
  read(text);
  EXPECT_EQ(out(), (std::vector<std::string>{" WARNING : FILE NOT COMPLETELY READED"}));
  EXPECT_DOUBLE_EQ(st.plugs[4].Temp, 402.0);  // record 402 taken, over record 3
  EXPECT_DOUBLE_EQ(st.plugs[9].Temp, 8.0);    // record 403 never read
}

TEST_F(StartProfileTest, ConvertsUnitsAndTruncatesHeightsTowardsZero) {
  read("1 12.5 20 20 -0.0000019 0.3333339 0 400\n");
  EXPECT_DOUBLE_EQ(st.plugs[1].Cap, 12500.0);
  EXPECT_EQ(st.plugs[1].zDown, -1);
  EXPECT_EQ(st.plugs[1].zUp, 333333);
}

TEST_F(StartProfileTest, FreeFormatSeparatorsContinuationSlashRepeatAndNulls) {
  EXPECT_FALSE(
      read("4, 1.0,\t30 ,30\n 0 0.5\r\n\n   \n 0 7 junk\n6 2.0 40 / 7 7 7\n7,,,35,,,6,400 1*x\n"));
  EXPECT_TRUE(out().empty());
  const Plug& p4 = st.plugs[4];
  EXPECT_TRUE(p4.Cap == 1000.0 && p4.Temp == 30.0 && p4.zUp == 500000 && p4.iUp == 7);
  const Plug& p6 = st.plugs[6];  // slash: Temp0 ... iUp as in the record before
  EXPECT_TRUE(p6.Cap == 2000.0 && p6.Temp == 40.0 && p6.Temp0 == 30.0 && p6.iUp == 7);
  const Plug& p7 = st.plugs[7];  // nulls keep Cap, Temp, zDown and zUp
  EXPECT_TRUE(p7.Cap == 2000.0 && p7.Temp == 40.0 && p7.Temp0 == 35.0 && p7.zUp == 500000);
  EXPECT_EQ(p7.iDown, 6);

  std::array<double, 8> v{};
  for (const char* bad : {"1 2 3x", "0*5", "1.2.3", "1.5e", "--1", "nan", "."}) {
    BufferLines lines(bad);
    EXPECT_EQ(ProfileScanner(lines).readRecord(v), kReadBadValue) << bad;
  }
  BufferLines good("+.5 1.0+2 2.5d-1 -3E1 3*4 1\n");
  EXPECT_EQ(ProfileScanner(good).readRecord(v), kReadOk);
  EXPECT_EQ(v, (std::array<double, 8>{0.5, 100.0, 0.25, -30.0, 4.0, 4.0, 4.0, 1.0}));
}

TEST_F(StartProfileTest, RecordsOutOfTheTableAreReportedAndNotStored) {
  EXPECT_FALSE(read(rec(400, 1, 20, 0, 1, 0, 400) + rec(500, 1, 20, 0, 1, 0, 400) +
                    rec(3, 1, 20, 0, 1, -1, 400) + rec(4, 1, 20, 0, 1, 0, 401) +
                    rec(0, 1, 20, 0, 1, 0, 2) + rec(-2, 1, 20, 0, 1, 0, 2) +
                    rec(1, 1, 20, 0, 1, 0, 400)));
  const std::string msg = "Plug record not stored, index or link out of range at line number= ";
  EXPECT_EQ(out(), (std::vector<std::string>{msg + "400", msg + "500", msg + "3", msg + "4"}));
  EXPECT_DOUBLE_EQ(st.plugs[kTopSentinel].Temp, kTopSentinelTemp);
  EXPECT_EQ(st.plugs[kTopSentinel].iUp, kTopSentinel);
  EXPECT_EQ(st.plugs[3].Cap + st.plugs[4].Cap, 0.0);
  EXPECT_EQ(chainIndices(st), (std::vector<int>{1}));
  // An index beyond any integer is shown as read.
  st = State{};
  resetTable();
  host.clear();
  read("1e20 1 20 20 0 1 0 400\n");
  EXPECT_EQ(out(), (std::vector<std::string>{"End of file encountered at line number= 1E+20"}));
}

TEST_F(StartProfileTest, AProfileThatIsNoChainStopsTheRun) {
  for (const std::string& text : {rec(5, 1, 20, 0, 1, 3, 400),  // first pointer 1 is free
                                  rec(1, 1, 20, 0, 0.5, 0, 2) + rec(2, 1, 20, 0.5, 1, 1, 1),
                                  rec(1, 0, 20, 0, 1, 0, 400), rec(1, 1, 20, 0, 1, 0, 0),
                                  // upward chain fine, but plug 2 names 3 as the plug below
                                  rec(1, 1, 20, 0, 0.5, 0, 2) + rec(2, 1, 20, 0.5, 1, 3, 400)}) {
    st = State{};
    resetTable();
    host.clear();
    EXPECT_TRUE(read(text)) << text;
    EXPECT_EQ(chainFaults(), 1) << text;
  }
}

class FailingLines final : public ProfileLines {
 public:
  int next(std::string_view& line) override {
    line = "1 1 20 20 0 1 0 2";
    return calls++ == 0 ? kReadOk : kReadIoError;
  }
  int calls = 0;
};

TEST_F(StartProfileTest, AnInputErrorOfTheFileWritesItsLineAndIsFatal) {
  FailingLines lines;
  EXPECT_THROW(readProfileRecords(st, host, lines, "x"), FatalStop);
  EXPECT_EQ(out(), (std::vector<std::string>{"ERROR in reading file at line number= 1"}));
  EXPECT_EQ(host.countMessages("ERROR in reading start profile x", "FATAL"), 1);
  EXPECT_TRUE(st.stopped);
}

TEST_F(StartProfileTest, FileIsFoundWithASlashAndClosedOnEveryExit) {
  const std::string path = (dir / "startProfile.ini").string();
  const int before = openFiles();
  EXPECT_TRUE(readFile());  // missing
  EXPECT_EQ(host.countMessages("Start profile file cannot be opened: " + path, "FATAL"), 1);
  EXPECT_EQ(out(), (std::vector<std::string>{"dataPath= " + padded(dir.string()) +
                                             "  myIniFileWithPath= " + padded(path)}));
  fs::create_directory(path);  // opens, but every read fails
  EXPECT_TRUE(readFile());
  EXPECT_EQ(out().back(), "ERROR in reading file at line number= 0");
  fs::remove(path);
  std::ofstream(path) << "1 1 20 20 0 1 0 2\r\n";
  EXPECT_TRUE(readFile());  // end of file, no chain
  EXPECT_EQ(out().back(), "End of file encountered at line number= 1");
  EXPECT_EQ(chainFaults(), 1);
  EXPECT_EQ(openFiles(), before);
}

TEST_F(StartProfileTest, TheDumpOfAUniformStoreReadsBackAsTheSamePlugTable) {
  constexpr int kN = 30;
  State uniform;
  uniform.plugs = st.plugs;
  for (int k = 1; k <= kN; ++k) {
    Plug& p = uniform.plugs[k];
    p.Cap = p.CapSolver = 4.18e6 / kN;
    p.Temp = p.Temp0 = 20.0 + k;
    p.zDown = (k - 1) * kZTop / kN;
    p.zUp = k * kZTop / kN;
    p.iDown = k - 1;
    p.iUp = k == kN ? kTopSentinel : k + 1;
  }
  uniform.plugs[kTopSentinel].iDown = kN;
  const std::string d = dir.string();
  std::copy_n(d.begin(), d.size(), uniform.store.dataPath.begin());
  dumpPlugTable(uniform, 0, "startProfile", -1);
  fs::rename(dir / "startProfile.txt", dir / "startProfile.ini");
  EXPECT_FALSE(readFile());
  EXPECT_EQ(out().size(), 3U);  // the path line and the two header lines
  EXPECT_EQ(out()[2], "unknown option= 1  at line number= 0");
  EXPECT_EQ(chainIndices(st), chainIndices(uniform));
  EXPECT_EQ(highestPlug(st.plugs), kN);
  for (int k = 1; k <= kN; ++k) {
    const Plug& a = st.plugs[k];
    const Plug& b = uniform.plugs[k];
    EXPECT_TRUE(a.zDown == b.zDown && a.zUp == b.zUp && a.Temp == b.Temp && a.iDown == b.iDown);
    EXPECT_NEAR(a.Cap, b.Cap, 5e-4);  // six decimals of kJ/K
  }
}

}  // namespace
}  // namespace plugstore::test
