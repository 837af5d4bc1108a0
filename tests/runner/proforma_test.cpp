// The proforma: the committed copy in docs/ is the one the catalog makes now.
// Its XML form, names, units, defaults and ranges are read back by
// proforma_check.py.
#include "plugstore/proforma.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace plugstore::runner {
namespace {

TEST(Proforma, TheCommittedCopyIsUpToDate) {
  const std::filesystem::path copy =
      std::filesystem::path(PLUGSTORE_SOURCE_DIR) / "docs" / "Type8642.tmf";
  std::ifstream in(copy, std::ios::binary);
  ASSERT_TRUE(in) << copy;
  std::stringstream text;
  text << in.rdbuf();
  EXPECT_TRUE(text.str() == proformaXml())
      << copy << " is out of date: bash tools/update_references.sh writes it anew";
}

TEST(Proforma, UnitsWithoutAStudioNameAreSaidInTheDefinition) {
  EXPECT_EQ(studioUnit("kg/h").unit, "kg/hr");
  EXPECT_TRUE(studioUnit("W/K").dimension.empty());
  const std::string xml = proformaXml();
  EXPECT_NE(xml.find("<definition>Loss UA of the store bottom. Unit W/K, which has no name in the "
                     "studio: shown as dimensionless</definition>"),
            std::string::npos);
  EXPECT_NE(xml.find("<maxInstance>100</maxInstance>"), std::string::npos);
}

}  // namespace
}  // namespace plugstore::runner
