// Every heat flow of the store at once, through the real shared library: a
// direct port, two immersed coils (correlations and nominal UA, one of them
// reversed and resting now and then), a heat input, losses, conduction and a
// thermal barrier. The main power balance must close at every step.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "standin/in_process.h"
#include "standin/kernel.h"
#include "standin/protocol.h"

namespace {

using Params = std::array<double, standin::kParameters>;

Params busyStore() {
  Params p{};
  auto at = [&p](int n) -> double& { return p[static_cast<std::size_t>(n - 1)]; };
  at(1) = 0.3;  // m3
  at(2) = 1000.0;
  at(3) = 4.18;
  at(4) = 0.6;   // W/(m K)
  at(5) = 1.5;   // m
  at(6) = 40.0;  // degC
  at(7) = 100.0;
  at(8) = 30.0;
  at(9) = 0.1;
  at(11) = 20.0;
  at(12) = 0.5;  // losses, W/K
  at(13) = 1.0;
  at(14) = 1.0;
  at(15) = 1.0;
  at(16) = 0.5;
  for (int d = 1; d <= 10; ++d) {
    at(21 + 4 * (d - 1)) = -1.0;
    at(22 + 4 * (d - 1)) = -1.0;
  }
  at(21) = 0.95;  // port 1 from the top to the bottom
  at(22) = 0.05;
  for (int i = 0; i < 10; ++i) at(61 + i) = 0.05 + 0.1 * i;
  for (int z = 0; z < 5; ++z) {
    at(71 + 2 * z) = 0.2 * z;
    at(72 + 2 * z) = 0.2 * (z + 1);
  }
  at(81) = 2.0;  // barrier where the store crosses 45 degC
  at(83) = 45.0;
  at(84) = 2.0;
  at(85) = 2.0;
  // Hx 1: copper coil from 0.5 down to 0.1, correlations, 10 CVs.
  const int h1 = 86;
  at(h1) = 0.5;
  at(h1 + 1) = 0.1;
  at(h1 + 2) = 0.016;
  at(h1 + 3) = 0.018;
  at(h1 + 4) = 8.0;
  at(h1 + 5) = 380.0;
  at(h1 + 8) = 4.18;
  at(h1 + 9) = 1000.0;
  at(h1 + 10) = 10.0;
  // Hx 2: nominal UA with a flow exponent, 7 CVs (a higher top CV).
  const int h2 = 105;
  at(h2) = 0.15;
  at(h2 + 1) = 0.9;
  at(h2 + 7) = 0.002;
  at(h2 + 8) = 3.8;
  at(h2 + 9) = 1030.0;
  at(h2 + 10) = 7.0;
  at(h2 + 11) = 1.0;
  at(h2 + 14) = 0.3;
  at(h2 + 17) = 1800.0;
  at(200) = 0.7;  // heat input A1
  return p;
}

// Inputs of the busy store at step k: a port, two coils (one resting every
// fourth step, one reversed), a heat input.
void busyInputs(int step, std::array<double, standin::kInputs>& x) {
  auto in = [&x](int n) -> double& { return x[static_cast<std::size_t>(n - 1)]; };
  in(1) = 70.0;
  in(2) = step % 5 == 0 ? 0.0 : 100.0;  // kg/h
  in(3) = 30.0;
  in(31) = 15.0;
  in(32) = 65.0;                         // Hx 1 charges
  in(33) = step % 4 == 0 ? 0.0 : 300.0;  // and rests every fourth step
  in(35) = 10.0;
  in(36) = -200.0;  // Hx 2 reversed: enters at 0.9
  in(37) = 12.0;
  in(50) = 1.0;  // kW
}

// Steps that the heat part resolves in one go run exactly as they did before
// steps could be cut: every bit of every output of a day of the busy store at
// 6-minute steps, and every message, hash to what the component gave then.
TEST(HeatEndToEnd, ShortStepsGiveTheSameBitsAsBefore) {
  standin::kernel().clearRecord();
  standin::kernel().echo = false;
  standin::Component component{PLUGSTORE_COMPONENT};
  ASSERT_TRUE(component.loaded()) << component.error();
  standin::RunConfig cfg;
  cfg.stop = 24.0;
  cfg.step = 0.1;
  cfg.iterations = 2;
  cfg.parameters = busyStore();
  std::uint64_t hash = 14695981039346656037ULL;  // FNV-1a
  auto mix = [&hash](const void* data, std::size_t size) {
    const auto* bytes = static_cast<const unsigned char*>(data);
    for (std::size_t i = 0; i < size; ++i) hash = (hash ^ bytes[i]) * 1099511628211ULL;
  };
  standin::RunHooks hooks;
  hooks.inputs = [](double, int step, std::array<double, standin::kInputs>& x) {
    busyInputs(step, x);
  };
  hooks.outputs = [&mix](double, int, const std::array<double, standin::kOutputs>& y) {
    mix(y.data(), sizeof(double) * y.size());
  };
  EXPECT_EQ(standin::runSimulation(component, cfg, hooks).steps, 240);
  for (const auto& m : standin::kernel().messages) {
    if (m.severity != "NOTICE") mix(m.text.data(), m.text.size());
  }
  EXPECT_EQ(hash, 6608098299798538775ULL);
}

TEST(HeatEndToEnd, MainBalanceClosesWithEveryHeatFlowAtOnce) {
  standin::kernel().clearRecord();
  standin::kernel().echo = false;
  standin::Component component{PLUGSTORE_COMPONENT};
  ASSERT_TRUE(component.loaded()) << component.error();

  standin::RunConfig cfg;
  cfg.stop = 6.0;
  cfg.step = 0.25;
  cfg.iterations = 2;
  cfg.parameters = busyStore();
  standin::RunHooks hooks;
  hooks.inputs = [](double /*time*/, int step, std::array<double, standin::kInputs>& x) {
    busyInputs(step, x);
  };
  int checked = 0;
  double maxBal = 0.0;
  hooks.outputs = [&](double /*time*/, int step, const std::array<double, standin::kOutputs>& y) {
    auto out = [&y](int n) { return y[static_cast<std::size_t>(n - 1)]; };
    maxBal = std::max(maxBal, std::fabs(out(64)));
    // Everything the coils and the heat input gave reached the plugs.
    EXPECT_NEAR(out(176), out(104) + out(114) + out(181), 1e-9) << step;
    EXPECT_NEAR(out(181), 1.0, 1e-12);
    EXPECT_GT(out(104), 0.0) << step;  // Hx 1 charges (or gives off its fluid's heat)
    EXPECT_LT(out(114), 0.0) << step;  // Hx 2 discharges
    EXPECT_GT(out(68), 0.0) << step;   // losses to 15 degC
    ++checked;
  };
  const standin::RunResult r = standin::runSimulation(component, cfg, hooks);
  EXPECT_EQ(r.exitStatus, 0);
  EXPECT_EQ(checked, 24);
  EXPECT_LT(maxBal, 1e-6);  // kW
  EXPECT_FALSE(standin::kernel().fatalSeen());
  for (const auto& m : standin::kernel().messages) {
    EXPECT_EQ(m.text.find("OUT OF RANGE"), std::string::npos) << m.text;
  }
}

}  // namespace

// A store run in the process with host services of its own gives what the
// loaded library gives: every bit of every output and every message, over a
// day of the busy store with an inlet too hot now and then.
TEST(HeatEndToEnd, StoreInTheProcessGivesTheLibrarysBits) {
  standin::kernel().clearRecord();
  standin::kernel().echo = false;
  standin::Component component{PLUGSTORE_COMPONENT};
  ASSERT_TRUE(component.loaded()) << component.error();
  standin::LibraryUnit library(component, "");
  standin::InProcessUnit inProcess("");
  using Out = std::array<double, standin::kOutputs>;
  std::vector<Out> seen[2];
  std::vector<standin::DeckUnit> deck;
  for (standin::Unit* u :
       {static_cast<standin::Unit*>(&library), static_cast<standin::Unit*>(&inProcess)}) {
    const std::size_t i = deck.size();
    standin::DeckUnit d{u, 3, busyStore(), {}};
    d.hooks.inputs = [](double, int step, std::array<double, standin::kInputs>& x) {
      busyInputs(step, x);
      if (step % 7 == 0) x[0] = 97.0;  // warned about and limited
    };
    d.hooks.outputs = [&seen, i](double, int, const Out& y) { seen[i].push_back(y); };
    deck.push_back(std::move(d));
  }
  EXPECT_EQ(standin::runDeck(deck, {0.0, 24.0, 0.1, 2}).steps, 240);
  ASSERT_EQ(seen[0].size(), seen[1].size());
  EXPECT_EQ(std::memcmp(seen[0].data(), seen[1].data(), seen[0].size() * sizeof(Out)), 0);
  const auto& a = library.record().messages;
  const auto& b = inProcess.record().messages;
  ASSERT_EQ(a.size(), b.size());
  ASSERT_GT(a.size(), 30U);  // the notice and the warnings
  for (std::size_t k = 0; k < a.size(); ++k) {
    EXPECT_EQ(a[k].severity + a[k].text, b[k].severity + b[k].text);
    EXPECT_EQ(a[k].unit, b[k].unit);
  }
}
