#include "plugstore/load.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "plugstore/names.h"

namespace plugstore::runner {

namespace {

double parameterOf(const Scenario& s, const std::string& name) {
  return s.parameters[static_cast<std::size_t>(parameterNumber(name) - 1)];
}

// Below this lift of the store's water over the return the loop would take
// no heat worth a flow (and the flow would grow without bound).
constexpr double kLeastLift = 0.01;  // K

std::string kWh(double v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.4g", v);
  return buf;
}

}  // namespace

double relativeLoad(const LoadSpec& load, double ambient) {
  return std::max(0.0, (load.balancePoint - ambient) / (load.balancePoint - load.designAmbient));
}

double flowTemperature(const LoadSpec& load, double relative) {
  if (std::isnan(load.flowAtBalance)) return load.flow;
  return load.flowAtBalance + (load.flow - load.flowAtBalance) * std::clamp(relative, 0.0, 1.0);
}

Loads::Loads(const Scenario& s) : specificHeat_(parameterOf(s, "store.specificHeat")) {
  for (const LoadSpec& l : s.loads) {
    State st{
        &l,
        static_cast<std::size_t>(inputNumber(indexed("port", l.port, ".massFlow")) - 1),
        static_cast<std::size_t>(inputNumber(indexed("port", l.port, ".temperatureA")) - 1),
        static_cast<std::size_t>(outputNumber(indexed("port", l.port, ".outletTemperature")) - 1),
        static_cast<std::size_t>(outputNumber(indexed("port", l.port, ".heat")) - 1),
        parameterOf(s, "store.initialTemperature")};
    // Until the first step has run, the valve sees the store's start
    // temperature at the outlet connection.
    if (!s.initialProfile.empty()) {
      st.outlet =
          profileTemperature(s.initialProfile, parameterOf(s, indexed("port", l.port, ".heightB")));
    }
    state_.push_back(st);
    figures_.push_back({l.name, l.port, l.maxShort});
  }
  columns_.assign(3 * state_.size(), 0.0);
  totals_.assign(4 * state_.size(), 0.0);
}

void Loads::before(double a, double b, std::array<double, kNumInputs>& inputs) {
  for (State& st : state_) {
    const LoadSpec& l = *st.setting;
    const double ambient = l.ambient.origin.empty() ? 0.0 : l.ambient.over(a, b);
    const double relative = relativeLoad(l, ambient);
    st.askedKw =
        l.demand.origin.empty() ? l.designLoad * relative : std::max(0.0, l.demand.over(a, b));
    st.flowTemperature = flowTemperature(l, relative);
    if (std::isnan(l.returnTemperature)) {
      // The spread shrinks with the load, as the loop's radiators cool less.
      const double share =
          l.designLoad > 0.0 ? std::clamp(st.askedKw / l.designLoad, 0.0, 1.0) : 1.0;
      st.returnTemperature = st.flowTemperature - l.spread * share;
    } else {
      st.returnTemperature = l.returnTemperature;
    }
    // The valve also balances what the step before left short or gave too
    // much by judging from an outlet that then changed.
    const double q = std::max(0.0, st.askedKw + st.owed / (b - a)) * 3600.0;  // kJ/h
    const double loop = st.flowTemperature - st.returnTemperature;
    const double lift = std::min(st.outlet, st.flowTemperature) - st.returnTemperature;
    st.mass = 0.0;
    if (q > 0.0 && lift > kLeastLift) {
      // Warm enough: just the store's water the heat needs; colder: the
      // loop's own flow, all of it from the store.
      const double dt = st.outlet >= st.flowTemperature ? st.outlet - st.returnTemperature
                                                        : std::max(loop, kLeastLift);
      st.mass = std::min(l.maxFlow, q / (specificHeat_ * dt));
    }
    inputs[st.flowIndex] = st.mass;
    inputs[st.returnIndex] = st.returnTemperature;
  }
}

void Loads::after(double a, double b, const std::array<double, kNumOutputs>& outputs) {
  const double hours = b - a;
  for (std::size_t i = 0; i < state_.size(); ++i) {
    State& st = state_[i];
    st.outlet = outputs[st.outletIndex];
    const double asked = st.askedKw * hours;
    // The heat the port took, as the component counts it over its sub-steps.
    const double taken = -outputs[st.heatIndex] * hours;
    // Still owed after the step: made up in the next one while the store was
    // warm enough, up to one step's demand; given beyond the demand: taken
    // off the next step, up to its demand, and wasted beyond that.
    const double owed = asked + st.owed - std::max(taken, 0.0);
    const double upper = st.outlet >= st.flowTemperature ? asked : 0.0;
    const double shortfall = std::max(owed - upper, 0.0);
    const double wasted = std::max(-asked - owed, 0.0);
    const double delivered = std::max(taken, 0.0) - wasted;
    st.owed = owed - shortfall + wasted;
    const bool isShort = shortfall > st.setting->maxShort * asked && shortfall > 1e-12;
    LoadFigures& f = figures_[i];
    f.asked += asked;
    f.delivered += delivered;
    f.shortfall += shortfall;
    if (isShort) f.hoursShort += hours;
    columns_[3 * i] = st.askedKw;
    columns_[3 * i + 1] = delivered / hours;
    columns_[3 * i + 2] = std::min(st.outlet, st.flowTemperature);
    totals_[4 * i] = asked;
    totals_[4 * i + 1] = delivered;
    totals_[4 * i + 2] = shortfall;
    totals_[4 * i + 3] = isShort ? hours : 0.0;
  }
}

double largestFlow(const LoadSpec& load, double specificHeat) {
  auto most = [](const InputSource& in) {
    return in.schedule ? in.schedule->maxValue() : in.constant;
  };
  double q = most(load.demand);
  if (load.demand.origin.empty()) {
    const double coldest =
        load.ambient.schedule ? load.ambient.schedule->minValue() : load.ambient.constant;
    q = load.designLoad * relativeLoad(load, coldest);
  }
  double lift = load.spread;  // K at or above the design load
  if (std::isnan(load.returnTemperature)) {
    q = std::max(q, load.designLoad);  // below it the spread shrinks with the load
  } else {
    lift = (std::isnan(load.flowAtBalance) ? load.flow : std::min(load.flow, load.flowAtBalance)) -
           load.returnTemperature;
  }
  return std::min(load.maxFlow,
                  std::max(q, 0.0) * 3600.0 / (specificHeat * std::max(lift, kLeastLift)));
}

std::vector<LoadFigures> Loads::figures() const {
  std::vector<LoadFigures> f = figures_;
  for (std::size_t i = 0; i < f.size(); ++i) {
    const double owed = state_[i].owed;
    (owed > 0.0 ? f[i].shortfall : f[i].delivered) += owed;  // given ahead of no demand: wasted
  }
  return f;
}

std::vector<std::string> loadTotalsColumns(const Scenario& s) {
  std::vector<std::string> names;
  for (const LoadSpec& l : s.loads) {
    for (const char* k : {".asked", ".delivered", ".short", ".hoursShort"}) {
      names.push_back("load." + l.name + k);
    }
  }
  return names;
}

std::string loadSummary(const std::vector<LoadFigures>& loads) {
  std::string o;
  if (!loads.empty()) o += "loads (kWh):\n";
  char buf[300];
  for (const LoadFigures& f : loads) {
    std::snprintf(buf, sizeof buf,
                  "  %-26s asked %.4f, delivered %.4f, short %.4f in %.4g h (port %d took "
                  "%.4f)\n",
                  f.name.c_str(), f.asked, f.delivered, f.shortfall, f.hoursShort, f.port,
                  f.portOut);
    o += buf;
  }
  return o;
}

std::string loadReason(const std::vector<LoadFigures>& loads, const std::string& whose,
                       bool allowShort) {
  std::string why;
  for (const LoadFigures& f : loads) {
    if (f.delivered > f.portOut + 1e-6 * std::max(f.delivered, f.portOut) + 1e-9) {
      why += (why.empty() ? "load " : "; load ") + f.name + whose + " counts " + kWh(f.delivered) +
             " kWh delivered, but port " + std::to_string(f.port) + " took " + kWh(f.portOut) +
             " kWh out of the store";
    }
    if (allowShort || !(f.shortfall > f.maxShort * f.asked) || !(f.shortfall > 1e-9)) continue;
    if (!why.empty()) why += "; ";
    why += "load " + f.name + whose + " went short by " + kWh(f.shortfall) + " kWh of " +
           kWh(f.asked) + " kWh asked (" + kWh(100.0 * f.shortfall / f.asked) +
           " %, more than maxShort = " + kWh(100.0 * f.maxShort) + " %) in " + kWh(f.hoursShort) +
           " h (--allow-warnings accepts it)";
  }
  return why;
}

}  // namespace plugstore::runner
