#include "plugstore/defaults.h"

#include <cstddef>
#include <string_view>

#include "plugstore/names.h"

namespace plugstore::runner {

namespace {

struct Value {
  std::string_view name;
  double value;
};

constexpr Value kStore[] = {
    {"store.volume", 0.3},
    {"store.density", 1000.0},
    {"store.specificHeat", 4.19},
    {"store.conductivity", 0.6},
    {"store.height", 1.5},
    {"store.initialTemperature", 20.0},
    {"store.maxPlugs", 100.0},
    {"store.minPlugs", 30.0},
    {"store.minDeltaT", 0.1},
    {"store.startProfile", 0.0},
    {"store.referenceTemperature", 20.0},
    {"loss.uaBottom", 0.2},
    {"loss.uaSideLower", 0.5},
    {"loss.uaSideMiddle", 0.5},
    {"loss.uaSideUpper", 0.5},
    {"loss.uaTop", 0.3},
    {"barrier.mode", 0.0},
    {"barrier.height", 0.5},
    {"barrier.temperature", 50.0},
    {"barrier.ua", 0.0},
    {"hx.count", 0.0},
};

// A coil of 15 m smooth steel tube, 20/25 mm, in the lower third.
constexpr Value kHx[] = {
    {".inletHeight", 0.3},
    {".outletHeight", 0.05},
    {".innerDiameter", 0.02},
    {".outerDiameter", 0.025},
    {".length", 15.0},
    {".wallConductivity", 50.0},
    {".glycolConcentration", 0.0},
    {".volume", 0.0047},
    {".specificHeat", 4.19},
    {".density", 1000.0},
    {".numberOfCv", 20.0},
    {".uaModel", 0.0},
    {".outsideConstant", 0.0},
    {".outsideExponent", 0.0},
    {".flowExponent", 0.0},
    {".deltaTExponent", 0.0},
    {".temperatureExponent", 0.0},
    {".uaNominal", 1800.0},
    {".unused", 0.0},
};

}  // namespace

std::array<double, kNumParameters> defaultParameters() {
  std::array<double, kNumParameters> p{};
  auto set = [&p](const std::string& name, double value) {
    p[static_cast<std::size_t>(parameterNumber(name) - 1)] = value;
  };
  for (const Value& v : kStore) set(std::string(v.name), v.value);
  for (int d = 1; d <= kNumPorts; ++d) {
    set(indexed("port", d, ".heightA"), -1.0);
    set(indexed("port", d, ".heightB"), -1.0);
  }
  for (int i = 1; i <= kNumSensors; ++i)
    set(indexed("sensor", i, ".height"), (2.0 * i - 1.0) / 20.0);
  for (int z = 1; z <= kNumZones; ++z) {
    set(indexed("zone", z, ".low"), (z - 1) / 5.0);
    set(indexed("zone", z, ".high"), z / 5.0);
  }
  for (int k = 1; k <= kMaxHx; ++k) {
    for (const Value& v : kHx) set(indexed("hx", k, v.name), v.value);
  }
  return p;
}

std::array<double, kNumInputs> defaultInputs() {
  std::array<double, kNumInputs> x{};
  x[static_cast<std::size_t>(inputNumber("ambient.temperature") - 1)] = 20.0;
  return x;
}

}  // namespace plugstore::runner
