#include "plugstore/collector.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "plugstore/initial_profile.h"
#include "plugstore/names.h"

namespace plugstore::runner {

namespace {

double parameter(const Scenario& s, const std::string& name) {
  return s.parameters[static_cast<std::size_t>(parameterNumber(name) - 1)];
}

std::size_t input(const std::string& name) {
  return static_cast<std::size_t>(inputNumber(name) - 1);
}

std::size_t output(const std::string& name) {
  return static_cast<std::size_t>(outputNumber(name) - 1);
}

}  // namespace

double incidenceModifier(double b0, double degrees) {
  const double c = std::cos(degrees * std::numbers::pi / 180.0);
  if (!(c > 0.0)) return 0.0;
  return std::clamp(1.0 - b0 * (1.0 / c - 1.0), 0.0, 1.0);
}

double collectorStep(const CollectorSetup& c, double start, double seconds, double absorbed,
                     double ambient, double flow, double inlet) {
  // alpha T + beta + A a1 x + A a2 x |x| = 0, with x = Tm - Ta = k T + d.
  const double area = c.area;
  const double capacity = c.capacity * 1000.0 * area / seconds;  // W/K
  const double mcp = flow * c.specificHeat * 1000.0;             // W/K
  const double alpha = capacity + mcp;
  const double beta = -capacity * start - area * absorbed - mcp * inlet;
  const bool flowing = flow > 0.0;
  const double k = flowing ? 0.5 : 1.0;
  const double d = flowing ? inlet / 2.0 - ambient : -ambient;
  // p x + A a2 x |x| = q: one root, as the left side rises with x.
  const double p = alpha / k + area * c.a1;
  const double q = alpha * d / k - beta;
  const double x = std::copysign(
      2.0 * std::abs(q) / (p + std::sqrt(p * p + 4.0 * area * c.a2 * std::abs(q))), q);
  return (x - d) / k;
}

void collectorInputs(const Scenario& s, std::array<InputSource, kNumInputs>& inputs) {
  for (const CollectorSetup& c : s.collectors) {
    const std::string loop = c.hx > 0 ? indexed("hx", c.hx, "") : indexed("port", c.port, "");
    auto set = [&](const std::string& name, double value) {
      InputSource& in = inputs[input(name)];
      in = InputSource{};
      in.constant = value;
      in.origin = "collector " + c.name;
      in.place = c.place;
    };
    if (c.flow >= 0.0) set(loop + ".massFlow", c.flow);
    set(loop + (c.hx > 0 ? ".inletTemperature" : ".temperatureA"), c.initial);
  }
}

std::string collectorColumnUnit(const std::string& column) {
  if (column.ends_with(".gain")) return "kW";
  if (column.ends_with(".flow")) return "kg/h";
  return "degC";
}

Collectors::Collectors(const Scenario& s)
    : setups_(s.collectors), columns_(4 * s.collectors.size()), step_(4 * s.collectors.size()) {
  for (const CollectorSetup& c : setups_) {
    const bool hx = c.hx > 0;
    const std::string loop = hx ? indexed("hx", c.hx, "") : indexed("port", c.port, "");
    loops_.push_back({input(loop + ".massFlow"),
                      input(loop + (hx ? ".inletTemperature" : ".temperatureA")),
                      output(loop + ".outletTemperature"),
                      output(loop + (hx ? ".heatToFluid" : ".heat")), hx ? -1.0 : 1.0});
    temperature_.push_back(c.initial);
    // Until the first step has run, the loop returns the store's water at
    // the height it leaves from.
    double back = parameter(s, "store.initialTemperature");
    if (!s.initialProfile.empty()) {
      back = profileTemperature(s.initialProfile,
                                parameter(s, hx ? loop + ".outletHeight" : loop + ".heightB"));
    }
    inlet_.push_back(back);
    CollectorFigures f;
    f.name = c.name;
    f.area = c.area;
    f.maxTemperature = c.initial;
    figures_.push_back(f);
  }
}

void Collectors::before(double a, double b, std::array<double, kNumInputs>& inputs,
                        const Controllers& controllers) {
  const double hours = b - a;
  for (std::size_t i = 0; i < setups_.size(); ++i) {
    const CollectorSetup& c = setups_[i];
    const Loop& l = loops_[i];
    const double sun = c.irradiance.over(a, b);
    const double ambient = c.ambient.over(a, b);
    double absorbed = c.eta0 * sun;
    if (c.hasIncidence) {
      const double beam = c.beam.over(a, b);
      absorbed = c.eta0 * (incidenceModifier(c.iam, c.incidence.over(a, b)) * beam + sun - beam);
    }
    double kgPerHour = inputs[l.flow];
    if (c.flow >= 0.0) {
      const bool on = c.controllerIndex < 0 ||
                      controllers.column(static_cast<std::size_t>(c.controllerIndex)) > 0.5;
      kgPerHour = on ? c.flow : 0.0;
    }
    kgPerHour = std::max(kgPerHour, 0.0);
    const double flow = kgPerHour / 3600.0;
    const double cp = c.specificHeat * 1000.0;
    const double t =
        collectorStep(c, temperature_[i], hours * 3600.0, absorbed, ambient, flow, inlet_[i]);
    // The pipe to the store: exponential decay towards the ambient along
    // its UA while the fluid moves; still fluid carries nothing.
    const double atStore =
        flow > 0.0 ? ambient + (t - ambient) * std::exp(-c.pipeUA / (flow * cp)) : t;
    const double gain = flow * cp * (t - inlet_[i]);  // W
    CollectorFigures& f = figures_[i];
    step_[4 * i] = gain * hours / 1000.0;
    step_[4 * i + 1] = flow * cp * (t - atStore) * hours / 1000.0;
    step_[4 * i + 3] = flow == 0.0 && sun > 0.0 ? hours : 0.0;
    f.yield += step_[4 * i];
    f.pipeLoss += step_[4 * i + 1];
    if (flow > 0.0) f.pumpHours += hours;
    f.stagnationHours += step_[4 * i + 3];
    f.maxTemperature = std::max(f.maxTemperature, t);
    temperature_[i] = t;
    inputs[l.flow] = kgPerHour;
    inputs[l.inlet] = atStore;
    columns_[4 * i] = t;
    columns_[4 * i + 1] = atStore;
    columns_[4 * i + 2] = gain / 1000.0;
    columns_[4 * i + 3] = kgPerHour;
  }
}

void Collectors::after(double hours, const std::array<double, kNumOutputs>& outputs) {
  for (std::size_t i = 0; i < setups_.size(); ++i) {
    // The fluid that left the store last waits in the return for the pump:
    // a step without flow leaves it there.
    if (columns_[4 * i + 3] > 0.0) inlet_[i] = outputs[loops_[i].outlet];
    step_[4 * i + 2] = loops_[i].sign * outputs[loops_[i].heat] * hours;
    figures_[i].delivered += step_[4 * i + 2];
  }
}

}  // namespace plugstore::runner
