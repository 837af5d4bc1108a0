#include "plugstore/account.h"

#include <algorithm>
#include <cmath>

#include "plugstore/names.h"

namespace plugstore::runner {

namespace {

std::size_t output(const std::string& name) {
  return static_cast<std::size_t>(outputNumber(name) - 1);
}

}  // namespace

double EnergyAccount::net(const std::string& kind) const {
  double sum = 0.0;
  for (const Flow& f : flows) {
    if (f.key.rfind(kind, 0) == 0) sum += f.net();
  }
  return sum;
}

double EnergyAccount::largestTerm() const {
  double largest = std::max(
      {std::abs(heatIntoPlugs), std::abs(limitHeat), std::abs(losses), std::abs(storedChange)});
  for (const Flow& f : flows) largest = std::max({largest, f.in, -f.out});
  return largest;
}

// 1e-9 kWh (3.6 mJ) keeps the round-off of a store that exchanges nothing
// from counting as a gap.
bool EnergyAccount::closes() const { return std::abs(residual()) <= 1e-6 * largestTerm() + 1e-9; }

AccountBook::AccountBook(const Scenario& s) {
  auto par = [&s](const std::string& name) {
    return s.parameters[static_cast<std::size_t>(parameterNumber(name) - 1)];
  };
  auto label = [&s](const std::string& key, const std::string& text) {
    const auto it = s.names.find(key);
    return it == s.names.end() ? text : text + " (" + it->second + ")";
  };
  // A port is in use unless both heights read -1 in the store's height units.
  auto off = [&par](const std::string& name) { return std::trunc(par(name) * 1e6) == -1e6; };
  for (int d = 1; d <= kNumPorts; ++d) {
    if (off(indexed("port", d, ".heightA")) && off(indexed("port", d, ".heightB"))) continue;
    const std::string key = indexed("port", d, "");
    blank_.flows.push_back({key, label(key, "port " + std::to_string(d))});
    sources_.push_back({output(key + ".heat"), false});
  }
  const int hxCount = std::clamp(static_cast<int>(par("hx.count")), 0, kMaxHx);
  for (int k = 1; k <= hxCount; ++k) {
    const std::string key = indexed("hx", k, "");
    blank_.flows.push_back({key, label(key, "heat exchanger " + std::to_string(k))});
    sources_.push_back({output(key + ".heatToStore"), false});
  }
  // A heat input that is on (height above 0) or given a power.
  for (const char* bank : {"heatA", "heatB"}) {
    for (int i = 1; i <= kNumHeatInputs; ++i) {
      const std::string key = indexed(bank, i, "");
      const auto power = static_cast<std::size_t>(inputNumber(key + ".power") - 1);
      if (par(key + ".height") <= 0.0 && !s.inputs[power].given()) continue;
      blank_.flows.push_back({key, label(key, "heat input " + key.substr(4))});
      sources_.push_back({power, true});
    }
  }
  intoPlugs_ = output("balance.heatIntoPlugs");
  loss_ = output("loss.heat");
  storageRate_ = output("balance.storageRate");
  balance_ = output("store.balance");
}

void AccountBook::add(EnergyAccount& a, const std::array<double, standin::kOutputs>& out,
                      const std::array<double, standin::kInputs>& inputs, double hours, double time,
                      bool limited, double fraction) const {
  const double h = hours * fraction;
  for (std::size_t i = 0; i < sources_.size(); ++i) {
    const Source& src = sources_[i];
    a.flows[i].add((src.input ? inputs[src.index] : out[src.index]) * h);
  }
  a.heatIntoPlugs += out[intoPlugs_] * h;
  // The component has no output for the heat its 0.1 ... 100 degC limit
  // takes; that heat is all its main balance leaves of such a step (a plug
  // limited at 100 degC loses the heat above it: a positive balance).
  if (limited) {
    a.limitHeat -= out[balance_] * h;
    ++a.limitedSteps;
  }
  a.losses -= out[loss_] * h;
  a.storedChange += out[storageRate_] * h;
  const double balance = std::abs(out[balance_]);
  if (balance > a.maxAbsBalance) {
    a.maxAbsBalance = balance;
    a.maxAbsBalanceTime = time;
  }
}

}  // namespace plugstore::runner
