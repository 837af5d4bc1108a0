// The unit's block for a host input file: read back, it gives the values
// the scenario ran with.
#include "plugstore/deck.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "host/catalog.h"

namespace plugstore::runner {
namespace {

namespace fs = std::filesystem;

std::vector<fs::path> exampleScenarios() {
  std::vector<fs::path> found;
  for (const auto& dir : fs::directory_iterator(fs::path(PLUGSTORE_SOURCE_DIR) / "examples")) {
    if (!dir.is_directory()) continue;
    for (const auto& f : fs::directory_iterator(dir.path())) {
      // Sweep files (NAME.sweep.toml) name a base scenario and its variants.
      const bool sweep = f.path().filename().string().ends_with(".sweep.toml");
      if (f.path().extension() == ".toml" && !sweep) found.push_back(f.path());
    }
  }
  return found;
}

TEST(Deck, ReadBackGivesTheSame219ParametersAndTheInitialInputs) {
  const auto scenarios = exampleScenarios();
  ASSERT_GE(scenarios.size(), 3u);
  for (const fs::path& file : scenarios) {
    const std::string whole = writeDeck(loadScenario(file));
    const Scenario loaded = loadScenario(file);
    std::size_t from = 0;
    for (const Scenario* store : storesOf(loaded)) {  // a block of its own for each unit
      const Scenario& s = *store;
      from = whole.find("UNIT " + std::to_string(s.unit) + " TYPE 8642", from);
      ASSERT_NE(from, std::string::npos) << file << " unit " << s.unit;
      const std::string deck = whole.substr(from);
      const std::vector<double> par = deckParameters(deck);
      ASSERT_EQ(par.size(), static_cast<std::size_t>(kNumParameters)) << file;
      for (std::size_t i = 0; i < par.size(); ++i) {
        EXPECT_EQ(par[i], s.parameters[i]) << file << " parameter " << i + 1;
      }
      const std::vector<double> in = deckInitialInputs(deck);
      ASSERT_EQ(in.size(), static_cast<std::size_t>(kNumInputs)) << file;
      for (std::size_t i = 0; i < in.size(); ++i) {
        EXPECT_EQ(in[i], s.inputs[i].over(s.start, s.start + s.step)) << file << " input " << i + 1;
      }
      EXPECT_NE(deck.find("LABELS 1\n\"" + s.label1 + "\""), std::string::npos);
    }
  }
}

// Each unit's block connects the inputs it takes from the other, and names
// the control statements with which the host settles them.
TEST(Deck, LinkedUnitsAreConnectedBothWays) {
  const std::string deck = writeDeck(loadScenario(fs::path(PLUGSTORE_SOURCE_DIR) /
                                                  "examples/dhw-from-buffer/dhw-from-buffer.toml"));
  const std::size_t dhw = deck.find("UNIT 2 TYPE 8642");
  EXPECT_LT(deck.find("2,3                     ! 7 port3.temperatureA"), dhw);
  EXPECT_GT(deck.find("1,5                     ! 4 port2.temperatureA"), dhw);
  const char* control = "TOLERANCES 0.001 0.001 and LIMITS 30";
  EXPECT_LT(deck.find(control), dhw);
  EXPECT_GT(deck.rfind(control), deck.find("* Store unit dhw"));
}

TEST(Deck, EveryValueLineNamesItsValue) {
  const Scenario s = loadScenario(exampleScenarios().front());
  const std::string deck = writeDeck(s);
  for (const CatalogEntry& e : parameterCatalog()) {
    const std::string tag = "! " + std::to_string(e.number) + " " + std::string(e.name);
    EXPECT_NE(deck.find(tag), std::string::npos) << tag;
  }
  for (const CatalogEntry& e : inputCatalog()) {
    const std::string tag = "! " + std::to_string(e.number) + " " + std::string(e.name);
    const std::size_t first = deck.find(tag);
    ASSERT_NE(first, std::string::npos) << tag;
    EXPECT_NE(deck.find(tag, first + 1), std::string::npos) << "initial value of " << tag;
  }
}

TEST(Deck, TheScenarioTakesTheDeckBlockAsItsPositionalList) {
  const Scenario s = loadScenario(exampleScenarios().front());
  std::string deck = writeDeck(s);
  // Quotes of the label would end the TOML literal string: keep the block.
  deck = deck.substr(0, deck.find("LABELS"));
  const Scenario back =
      parseScenario("[parameters]\npositional = '''\n" + deck + "'''\n", s.file, false);
  EXPECT_EQ(back.parameters, s.parameters);
}

TEST(HostText, CommentsSeparatorsAndFortranExponents) {
  const std::vector<double> v =
      parseHostNumbers("* a comment line 1 2 3\n 1.5D3, -2 ! 4 5\n\n+7 1e-2\t8d-1\n");
  EXPECT_EQ(v, (std::vector<double>{1500.0, -2.0, 7.0, 0.01, 0.8}));
  try {
    parseHostNumbers("1 2\n 3 Vol 4\n");
    FAIL() << "accepted a name";
  } catch (const HostTextError& e) {
    EXPECT_EQ(e.line, 2);
    EXPECT_EQ(e.column, 4);
  }
  EXPECT_THROW(deckParameters("PARAMETERS 3\n1 2\n"), HostTextError);
  EXPECT_THROW(deckParameters("INPUTS 3\n1 2 3\n"), HostTextError);
  EXPECT_EQ(deckParameters("UNIT 1 TYPE 8642\nparameters 2\n1 ! x\n2\nINPUTS 1\n0,0\n5\n"),
            (std::vector<double>{1.0, 2.0}));
  EXPECT_EQ(deckInitialInputs("INPUTS 2\n3,1 ! a\n0,0\n*** values\n5 6\n"),
            (std::vector<double>{5.0, 6.0}));
}

}  // namespace
}  // namespace plugstore::runner
