// The reference tables: generated from the catalog, and the committed page
// kept up to date with it.
#include "plugstore/describe.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "host/catalog.h"
#include "plugstore/names.h"

namespace plugstore::runner {
namespace {

TEST(Describe, TheCommittedReferencePageIsUpToDate) {
  const std::filesystem::path page =
      std::filesystem::path(PLUGSTORE_SOURCE_DIR) / "docs" / "reference.md";
  std::ifstream in(page, std::ios::binary);
  ASSERT_TRUE(in) << page;
  std::stringstream text;
  text << in.rdbuf();
  EXPECT_TRUE(text.str() == describeMarkdown())
      << page << " is out of date: bash tools/update_references.sh writes it anew";
}

TEST(Describe, EveryEntryHasItsRowWithNumberNameAndUnit) {
  const std::string page = describeMarkdown();
  const std::string text = describeText({});
  for (const auto& table : {parameterCatalog(), inputCatalog(), outputCatalog()}) {
    for (const CatalogEntry& e : table) {
      const std::string row = "| " + std::to_string(e.number) + " | `" + std::string(e.name) +
                              "` | " + std::string(e.unit) + " | ";
      EXPECT_NE(page.find(row), std::string::npos) << row;
      EXPECT_NE(text.find(std::string(e.name) + " "), std::string::npos) << e.name;
    }
  }
  // The parameter rows carry the runner's defaults.
  EXPECT_NE(page.find("| `store.volume` | m3 | 0.3 | "), std::string::npos);
  const std::string onlyInputs = describeText({false, true, false});
  EXPECT_EQ(onlyInputs.find("store.volume"), std::string::npos);
  EXPECT_NE(onlyInputs.find("ambient.temperature"), std::string::npos);
}

TEST(Names, NearestNamesAndPatterns) {
  EXPECT_EQ(editDistance("kitten", "sitting"), 3u);
  EXPECT_EQ(editDistance("Store.Volume", "store.volume"), 0u);
  EXPECT_EQ(editDistance("setp", "step"), 1u);
  EXPECT_EQ(nearestName(parameterCatalog(), "hx2.numberofcvs"), "hx2.numberOfCv");
  EXPECT_TRUE(globMatch("hx*.ua", "hx3.ua"));
  EXPECT_FALSE(globMatch("hx*.ua", "hx3.uaNominal"));
  EXPECT_TRUE(globMatch("*", "anything"));
  EXPECT_TRUE(globMatch("port1*", "port10.heat"));
  EXPECT_FALSE(globMatch("port1.*", "port10.heat"));
  EXPECT_EQ(formatNumber(0.1), "0.1");
  EXPECT_EQ(std::stod(formatNumber(1.0 / 3.0)), 1.0 / 3.0);
}

}  // namespace
}  // namespace plugstore::runner
