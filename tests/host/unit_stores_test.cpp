// Several units of the component in one simulation: each unit its own store,
// a bounded number of them, released at the end of the simulation.
#include "host/unit_stores.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/fixtures.h"
#include "support/named_values.h"

namespace plugstore::test {
namespace {

struct Deck {
  struct Unit {
    int number;
    Parameters par;
    Inputs in;
    Outputs out;
  };
  std::vector<Unit> units;
  std::vector<std::vector<Outputs>> outputs;  // per unit, per step

  // A store with a draw-off port: its own volume, draw and start temperature.
  void add(int number, double volume, double draw, double initial) {
    Unit u{number, validParameters(), {}, {}};
    param(u.par, "store.volume") = volume;
    param(u.par, "store.initialTemperature") = initial;
    param(u.par, "store.conductivity") = 0.6;
    param(u.par, "port1.heightA") = 0.02;
    param(u.par, "port1.heightB") = 0.98;
    input(u.in, "ambient.temperature") = 20.0;
    input(u.in, "port1.temperatureA") = 10.0;
    input(u.in, "port1.massFlow") = draw;
    units.push_back(u);
    outputs.emplace_back();
  }

  // Every phase of the protocol calls all units, one after the other.
  void run(UnitStores& stores, RecordingHost& host, int steps) {
    std::vector<Protocol> p;
    for (Unit& u : units) p.emplace_back(stores, u.number, host);
    for (auto& q : p) q.versionSigning();
    for (auto& q : p) q.startOfSimulation();
    for (std::size_t i = 0; i < units.size(); ++i) p[i].initialCall(units[i].par);
    for (int k = 1; k <= steps; ++k) {
      const double time = host.timeStepHours * k;
      for (int it = 0; it < 2; ++it) {
        for (std::size_t i = 0; i < units.size(); ++i) {
          p[i].iterativeCall(time, units[i].par, units[i].in, units[i].out, it);
        }
      }
      for (std::size_t i = 0; i < units.size(); ++i) {
        outputs[i].push_back(units[i].out);
        p[i].endOfTimeStep(time, units[i].par);
      }
    }
    const double end = host.timeStepHours * steps;
    for (std::size_t i = 0; i < units.size(); ++i) p[i].endOfSimulation(end, units[i].par);
  }
};

TEST(UnitStores, TwoUnitsInOneSimulationEachGiveWhatTheyGiveAlone) {
  RecordingHost host;
  host.timeStepHours = 0.1;
  UnitStores stores;
  Deck both;
  both.add(3, 0.3, 200.0, 60.0);
  both.add(11, 0.8, 500.0, 45.0);
  both.run(stores, host, 20);
  EXPECT_EQ(stores.count(), 0);  // all released at the end of the simulation
  int unit3 = 0;
  int unit11 = 0;
  for (const auto& m : host.messagesSent) {
    unit3 += m.unit == 3 ? 1 : 0;
    unit11 += m.unit == 11 ? 1 : 0;
  }
  EXPECT_GT(unit3, 0);
  EXPECT_EQ(unit3, unit11);  // each unit says its own notice (and nothing else)

  for (std::size_t i = 0; i < 2; ++i) {
    RecordingHost aloneHost;
    aloneHost.timeStepHours = 0.1;
    UnitStores aloneStores;
    Deck alone;
    alone.units.push_back(both.units[i]);
    alone.outputs.emplace_back();
    alone.run(aloneStores, aloneHost, 20);
    ASSERT_EQ(alone.outputs[0].size(), both.outputs[i].size());
    for (std::size_t k = 0; k < both.outputs[i].size(); ++k) {
      ASSERT_EQ(alone.outputs[0][k], both.outputs[i][k]) << "unit " << i << " step " << k;
    }
  }
  EXPECT_NE(both.outputs[0].back(), both.outputs[1].back());
}

TEST(UnitStores, PastTheBoundAUnitGetsOneFatalMessageAndNoStoreUntilOneIsReleased) {
  RecordingHost host;
  UnitStores stores;
  for (int u = 1; u <= kMaxUnits; ++u) Protocol(stores, u, host).versionSigning();
  EXPECT_EQ(stores.count(), kMaxUnits);
  EXPECT_EQ(host.countMessages("", "Fatal"), 0);
  Protocol(stores, 1, host).startOfSimulation();
  EXPECT_EQ(stores.find(1)->dumpFileUnit, 1);  // dumps of several stores carry their unit

  const int extra = kMaxUnits + 7;
  Protocol late(stores, extra, host);
  Parameters par = validParameters();
  Inputs in{};
  Outputs out{};
  out.fill(-3.0);
  late.startOfSimulation();
  late.initialCall(par);
  late.iterativeCall(1.0, par, in, out);
  EXPECT_EQ(late.endOfTimeStep(1.0, par), 1);
  ASSERT_EQ(host.countMessages("", "Fatal"), 1);
  EXPECT_EQ(host.messagesSent.back().unit, extra);
  EXPECT_NE(host.messagesSent.back().text.find("Unit " + std::to_string(extra) + " gets no store"),
            std::string::npos);
  EXPECT_EQ(out[0], -3.0);  // nothing calculated
  EXPECT_EQ(stores.find(extra), nullptr);

  Protocol(stores, 1, host).endOfSimulation(1.0, par);
  EXPECT_EQ(stores.find(1), nullptr);
  late.startOfSimulation();
  EXPECT_NE(stores.find(extra), nullptr);
  EXPECT_EQ(host.countMessages("", "Fatal"), 1);
}

}  // namespace
}  // namespace plugstore::test
