#include "host/catalog.h"

#include <gtest/gtest.h>

#include <cctype>
#include <set>
#include <string>

#include "host/parameters.h"
#include "support/fixtures.h"
#include "support/named_values.h"

namespace plugstore::test {
namespace {

TEST(Catalog, EveryPositionNamedOnceAndFindable) {
  struct Table {
    std::span<const CatalogEntry> entries;
    std::size_t size;
    const CatalogEntry* (*find)(std::string_view);
  };
  for (const Table& t :
       {Table{parameterCatalog(), 219, findParameter}, Table{inputCatalog(), 69, findInput},
        Table{outputCatalog(), 202, findOutput}}) {
    ASSERT_EQ(t.entries.size(), t.size);
    std::set<std::string_view> names;
    for (std::size_t i = 0; i < t.entries.size(); ++i) {
      const CatalogEntry& e = t.entries[i];
      EXPECT_EQ(e.number, static_cast<int>(i + 1));
      EXPECT_TRUE(std::islower(static_cast<unsigned char>(e.name.front()))) << e.name;
      EXPECT_EQ(e.name.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
                                         "0123456789."),
                std::string_view::npos)
          << e.name;
      EXPECT_FALSE(e.description.empty()) << e.name;
      EXPECT_TRUE(names.insert(e.name).second) << "duplicate " << e.name;
      EXPECT_EQ(t.find(e.name), &e);
    }
    EXPECT_EQ(t.find("no.such.name"), nullptr);
  }
  EXPECT_NE(findOutput("unused202")->description.find("Never written"), std::string_view::npos);
}

// Names set to distinct values reach the fields the model reads for them,
// for every instance of the repeated blocks.
TEST(Catalog, NamesReachTheFieldsTheModelUses) {
  State st;
  RecordingHost host;
  Parameters par = validParameters();
  Inputs in{};
  param(par, "hx.count") = 6.0;
  for (int d = 1; d <= kNumPorts; ++d) {
    const std::string port = "port" + std::to_string(d);
    param(par, port + ".heightA") = 0.5;
    param(par, port + ".heightB") = d / 16.0;  // exact in binary
    param(par, port + ".inletMode") = d % 2;
    input(in, port + ".temperatureA") = 10.0 + d;
    input(in, port + ".massFlow") = -36.0 * d;
    input(in, port + ".temperatureB") = 50.0 + d;
  }
  for (int k = 1; k <= kMaxHx; ++k) {
    const std::string hx = "hx" + std::to_string(k);
    param(par, hx + ".inletHeight") = 0.1 * k;
    param(par, hx + ".outletHeight") = 0.1 * k + 0.05;
    param(par, hx + ".numberOfCv") = 10.0 + k;
    param(par, hx + ".uaNominal") = 100.0 * k;
    input(in, hx + ".massFlow") = 3.6 * k;
    input(in, hx + ".inletTemperature") = 60.0 + k;
  }
  for (int i = 1; i <= kNumHeatInputs; ++i) {
    param(par, "heatB" + std::to_string(i) + ".height") = 0.05 * i;
    input(in, "heatA" + std::to_string(i) + ".power") = i;
  }
  param(par, "sensor4.height") = 0.123;
  param(par, "zone2.high") = 0.7;
  param(par, "barrier.temperature") = 45.0;
  param(par, "loss.uaSideUpper") = 1.5;
  input(in, "ambient.temperature") = 12.0;
  readParameters(st, host, par.data());
  readInputs(st, host, in.data());

  for (int d = 1; d <= kNumPorts; ++d) {
    const DirectPort& p = st.ports[static_cast<std::size_t>(d - 1)];
    EXPECT_EQ(p.zIn, 62500 * d) << d;  // reversed flow enters at B
    EXPECT_EQ(p.inletMode, d % 2 == 1 ? -1 : 0) << d;
    EXPECT_DOUBLE_EQ(p.tIn, 50.0 + d);
    EXPECT_DOUBLE_EQ(p.tInRev, 50.0 + d);
    EXPECT_DOUBLE_EQ(p.mDot, 0.01 * d);
  }
  for (int k = 1; k <= kMaxHx; ++k) {
    const HxRecord& hx = st.hx[static_cast<std::size_t>(k - 1)];
    EXPECT_DOUBLE_EQ(hx.zOutPar, 0.1 * k + 0.05) << k;
    EXPECT_EQ(hx.numberOfHxCv, 10 + k);
    EXPECT_DOUBLE_EQ(hx.uaNominal, 100.0 * k);
    EXPECT_DOUBLE_EQ(hx.mDotHx, 0.001 * k);
    EXPECT_DOUBLE_EQ(hx.tInHx, 60.0 + k);
  }
  for (int i = 1; i <= kNumHeatInputs; ++i) {
    EXPECT_DOUBLE_EQ(st.store.zHeatB[static_cast<std::size_t>(i - 1)], 0.05 * i);
    EXPECT_DOUBLE_EQ(st.store.qHeatA[static_cast<std::size_t>(i - 1)], 1000.0 * i);
  }
  EXPECT_EQ(st.store.zSensor[3], 123000);
  EXPECT_EQ(st.store.zZoneHigh[1], 700000);
  EXPECT_DOUBLE_EQ(st.store.tBarrier, 45.0);
  EXPECT_DOUBLE_EQ(st.store.uaSide3, 1.5);
  EXPECT_DOUBLE_EQ(st.store.tAmb, 12.0);

  for (int k = 1; k <= kMaxHx; ++k) {
    st.hx[static_cast<std::size_t>(k - 1)].qLoss = 5000.0 * k;
    st.hx[static_cast<std::size_t>(k - 1)].tOutHx = 20.0 + k;
  }
  Outputs out{};
  writeOutputs(st, host, out.data());
  for (int k = 1; k <= kMaxHx; ++k) {
    const std::string hx = "hx" + std::to_string(k);
    EXPECT_DOUBLE_EQ(output(out, hx + ".heatToStore"), 5.0 * k);
    EXPECT_DOUBLE_EQ(output(out, hx + ".outletTemperature"), 20.0 + k);
    EXPECT_DOUBLE_EQ(output(out, hx + ".inletTemperature"), 60.0 + k);
  }
}

}  // namespace
}  // namespace plugstore::test
