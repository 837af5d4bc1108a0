// The call protocol end to end through the real shared library, loaded at
// run time as the host loads it, with the stand-in kernel serving it.
#include "standin/protocol.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "standin/kernel.h"

namespace {

std::array<double, standin::kParameters> restingStore() {
  std::array<double, standin::kParameters> p{};
  auto at = [&p](int n) -> double& { return p[static_cast<std::size_t>(n - 1)]; };
  at(1) = 0.3;
  at(2) = 1000.0;
  at(3) = 4.18;
  at(5) = 1.5;
  at(6) = 60.0;
  at(7) = 100.0;
  at(8) = 30.0;
  at(9) = 0.1;
  at(11) = 20.0;
  for (int d = 1; d <= 10; ++d) {
    at(21 + 4 * (d - 1)) = -1.0;
    at(22 + 4 * (d - 1)) = -1.0;
  }
  return p;
}

class ProtocolTest : public ::testing::Test {
 protected:
  void SetUp() override {
    standin::kernel().clearRecord();
    standin::kernel().echo = false;
    ASSERT_TRUE(component.loaded()) << component.error();
  }
  standin::Component component{PLUGSTORE_COMPONENT};
  std::array<double, standin::kParameters> par = restingStore();
  std::array<double, standin::kInputs> xin{};
  std::array<double, standin::kOutputs> out{};
  std::array<int, standin::kInfoSize> info{};

  int call(double time) {
    info[0] = 7;
    info[1] = 8642;
    return component.call(time, xin.data(), out.data(), par.data(), info.data());
  }
};

TEST_F(ProtocolTest, VersionSigningSetsTheInterfaceVersionEvenWithEndOfSimulation) {
  info.fill(0);
  info[6] = -2;
  info[7] = -1;
  EXPECT_EQ(call(0.0), 1);
  EXPECT_EQ(info[11], 16);
  EXPECT_EQ(standin::kernel().typeckCalls, 0);
}

TEST_F(ProtocolTest, StartOfSimulationDeclaresTheInterfaceOnce) {
  standin::kernel().timeStep = 0.5;
  info.fill(0);
  info[6] = -1;
  EXPECT_EQ(call(0.0), 1);
  EXPECT_EQ(info[5], 202);
  EXPECT_EQ(info[8], 1);
  EXPECT_EQ(info[9], 0);
  const auto& k = standin::kernel();
  EXPECT_EQ(k.typeckCalls, 1);
  EXPECT_EQ(k.typeckInputs, 69);
  EXPECT_EQ(k.typeckParameters, 219);
  EXPECT_EQ(k.typeckDerivatives, 0);
  EXPECT_EQ(k.setStorageCalls, 1);
  ASSERT_EQ(k.messages.size(), 1U);
  EXPECT_EQ(k.messages[0].severity, "NOTICE");
  EXPECT_NE(k.messages[0].text.find("8642"), std::string::npos);
  EXPECT_EQ(k.messages[0].unit, 7);
}

TEST_F(ProtocolTest, WholeRunAnswersEveryCallWithOne) {
  standin::RunConfig cfg;
  cfg.start = 0.0;
  cfg.stop = 2.0;
  cfg.step = 0.25;
  cfg.iterations = 3;
  cfg.parameters = par;
  const standin::RunResult r = standin::runSimulation(component, cfg, {});
  EXPECT_EQ(r.exitStatus, 0);
  EXPECT_EQ(r.steps, 8);
  // signing, start, initial, 8 x (3 iterative + end of step), end of simulation
  EXPECT_EQ(r.calls, 3 + 8 * 4 + 1);
  EXPECT_EQ(standin::kernel().typeckCalls, 1);
  EXPECT_FALSE(standin::kernel().fatalSeen());
}

// Units 4 and 9: stores of different volumes, each with a draw of its own.
TEST_F(ProtocolTest, TwoUnitsInOneSimulationEachGiveWhatTheyGiveAlone) {
  using Out = std::array<double, standin::kOutputs>;
  const int numbers[2] = {4, 9};
  const double volumes[2] = {0.3, 0.9};
  const double draws[2] = {300.0, 1200.0};
  auto run = [&](std::vector<int> which) {
    std::vector<std::unique_ptr<standin::LibraryUnit>> units;
    std::vector<standin::DeckUnit> deck;
    std::vector<std::vector<Out>> seen(which.size());
    for (std::size_t i = 0; i < which.size(); ++i) {
      const auto w = static_cast<std::size_t>(which[i]);
      units.push_back(std::make_unique<standin::LibraryUnit>(component, ""));
      standin::DeckUnit d{units.back().get(), numbers[w], par, {}};
      d.parameters[0] = volumes[w];
      d.parameters[20] = 0.02;  // port 1 from the bottom to the top
      d.parameters[21] = 0.98;
      d.hooks.inputs = [&, w](double time, int, std::array<double, standin::kInputs>& in) {
        in[0] = 10.0;
        in[1] = (time > 1.0 + static_cast<double>(w) && time <= 2.5) ? draws[w] : 0.0;
        in[30] = 15.0;
      };
      d.hooks.outputs = [&seen, i](double, int, const Out& out) { seen[i].push_back(out); };
      deck.push_back(std::move(d));
    }
    const standin::RunResult r = standin::runDeck(deck, {0.0, 4.0, 0.1, 2});
    EXPECT_EQ(r.exitStatus, 0);
    for (const auto& u : units) EXPECT_FALSE(u->record().messages.empty());  // its notice
    return seen;
  };
  const auto both = run({0, 1});
  const auto first = run({0});
  const auto second = run({1});
  ASSERT_EQ(both[0].size(), 40U);
  EXPECT_EQ(both[0], first[0]);
  EXPECT_EQ(both[1], second[0]);
  EXPECT_NE(both[0].back(), both[1].back());
}

}  // namespace
