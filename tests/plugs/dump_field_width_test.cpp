#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "plugs/diagnostics.h"
#include "support/fixtures.h"

namespace plugstore::test {
namespace {

namespace fs = std::filesystem;

class DumpFieldWidth : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string tmpl = (fs::temp_directory_path() / "plugstore-XXXXXX").string();
    ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
    dir = tmpl;
    st.store.dataPath.fill(' ');
    std::copy(tmpl.begin(), tmpl.end(), st.store.dataPath.begin());
  }
  void TearDown() override { fs::remove_all(dir); }
  // The data lines of a dump, without the two header lines.
  std::string body(const std::string& name) const {
    std::ifstream in(dir / name, std::ios::binary);
    std::string text{std::istreambuf_iterator<char>(in), {}};
    for (int k = 0; k < 2; ++k) text.erase(0, text.find('\n') + 1);
    return text;
  }
  fs::path dir;
  State st;
};

TEST_F(DumpFieldWidth, FieldsFillTheirWidthExactlyBeforeTurningToAsterisks) {
  buildChain(st, {{99999999.999, -9999.999999, 0, 500000}, {1.0, 99999.99999951, 500000, 1000000}});
  st.plugs[1].iDown = -999;
  st.plugs[1].Flow = -0.5;
  st.plugs[1].qV = 99999.999999;
  st.plugs[2].iDown = -1000;
  st.plugs[2].iUp = 9999;
  st.plugs[2].qA = -10000.0;
  dumpPlugTable(st, 0, "80_afterMix", -1);
  EXPECT_EQ(body("80_afterMix.txt"),
            "   1 99999.999999 -9999.999999 -9999.999999     0.000000     0.500000 -999    2"
            "    -0.500000 99999.999999     0.000000     0.000000\n"
            "   2     0.001000 ************ ************     0.500000     1.000000 **** 9999"
            "     0.000000     0.000000 ************     0.000000\n");
}

}  // namespace
}  // namespace plugstore::test
