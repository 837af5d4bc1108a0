#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "store/plug_table.h"
#include "store/profile_reader.h"
#include "support/fixtures.h"

namespace plugstore::test {
namespace {

// The reader as the set-up calls it: after the reset of the table.
class ProfileReaderState : public ::testing::Test {
 protected:
  void SetUp() override { reset(); }
  void reset() {
    for (int i = 1; i < kTopSentinel; ++i) st.plugs[i].Cap = st.plugs[i].CapSolver = 0.0;
    st.plugs[0].Cap = st.plugs[0].CapSolver = -1.0;
    st.plugs[0].iUp = 1;
    st.plugs[kTopSentinel].Cap = st.plugs[kTopSentinel].CapSolver = -1.0;
    st.plugs[kTopSentinel].iUp = kTopSentinel;
    host.clear();
  }
  void read(const std::string& text) {
    BufferLines lines(text);
    readProfileRecords(st, host, lines, "mem");
  }
  State st;
  RecordingHost host;
};

TEST_F(ProfileReaderState, LineNumberAndReadVariablesSurviveARepeatedRead) {
  read("5 2 30 30 0 1 0 400\n");
  EXPECT_TRUE(host.stdoutLines.empty());
  reset();
  // A header line reports the index of the last record of the previous read,
  // and the record is taken with the read variables as that read left them.
  read("Index Cap\nnot reached\n");
  EXPECT_EQ(host.stdoutLines, (std::vector<std::string>{"unknown option= 1  at line number= 5"}));
  EXPECT_DOUBLE_EQ(st.plugs[5].Cap, 2000.0);
  EXPECT_EQ(st.plugs[0].iUp, 5);
  EXPECT_EQ(st.profile.recordCount, 1);
}

TEST_F(ProfileReaderState, ContinuationLinesDropTheirValuesAfterTheEighth) {
  read("\t1\n\n2 10 10 0\n0.5 0 3 99 98\n3 2 20 20 0.5 1 1 400 97\n");
  EXPECT_TRUE(host.stdoutLines.empty());
  EXPECT_EQ(chainIndices(st), (std::vector<int>{1, 3}));
  EXPECT_EQ(st.plugs[1].zUp, 500000);
  EXPECT_EQ(st.plugs[1].iUp, 3);
  EXPECT_EQ(st.plugs[3].zDown, 500000);
}

TEST_F(ProfileReaderState, RepeatCountsFillAcrossLinesAndStopAtTheEighthValue) {
  read("2 1.5 2*25\n0,1 0 12*400 7\n");
  EXPECT_TRUE(host.stdoutLines.empty());
  const Plug& p = st.plugs[2];
  EXPECT_TRUE(p.Cap == 1500.0 && p.Temp == 25.0 && p.Temp0 == 25.0) << p.Cap;
  EXPECT_EQ(p.zDown, 0);
  EXPECT_EQ(p.zUp, 1000000);
  EXPECT_EQ(p.iDown, 0);
  EXPECT_EQ(p.iUp, 400);
}

TEST_F(ProfileReaderState, EndOfTextInsideARecordIsTheEndOfFileAndStoresNothing) {
  read("4 1 20 20 0 1 0 9\n6 1 20 20\n");
  EXPECT_EQ(host.stdoutLines,
            (std::vector<std::string>{"End of file encountered at line number= 4"}));
  EXPECT_EQ(st.plugs[6].Cap, 0.0);
  EXPECT_EQ(st.profile.readStatus, kReadEnd);
}

}  // namespace
}  // namespace plugstore::test
