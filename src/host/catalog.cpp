#include "host/catalog.h"

#include <array>
#include <cstddef>

#include "store/state.h"

namespace plugstore {
namespace {

// A catalog is written as groups of fields. A group repeats its fields
// `count` times, `stride` positions apart (ten ports, six Hx blocks, ...);
// every '#' in a name or description becomes the instance number
// indexBase + i. All text is expanded at compile time into fixed tables.
struct Field {
  int offset;
  std::string_view name;
  std::string_view unit;
  std::string_view description;
  Limits limits{};
};

struct Group {
  int first;
  int count;
  int stride;
  int indexBase;
  std::span<const Field> fields;
};

constexpr std::size_t digits(int v) {
  std::size_t n = 1;
  while (v >= 10) {
    v /= 10;
    ++n;
  }
  return n;
}

constexpr std::size_t expandedLength(std::string_view tpl, int index) {
  std::size_t n = 0;
  for (char c : tpl) n += (c == '#') ? digits(index) : 1;
  return n;
}

constexpr std::size_t textSize(std::span<const Group> groups) {
  std::size_t n = 0;
  for (const Group& g : groups) {
    for (int i = 0; i < g.count; ++i) {
      for (const Field& f : g.fields) {
        n += expandedLength(f.name, g.indexBase + i) +
             expandedLength(f.description, g.indexBase + i);
      }
    }
  }
  return n;
}

template <std::size_t N, std::size_t C>
struct Text {
  std::array<char, C> chars{};
  std::array<std::size_t, N> nameOff{};
  std::array<std::size_t, N> nameLen{};
  std::array<std::size_t, N> descOff{};
  std::array<std::size_t, N> descLen{};
  std::array<std::string_view, N> unit{};
  std::array<Limits, N> limits{};
  std::array<int, N> times{};  // how often a number was given: must be 1
};

template <std::size_t N, std::size_t C>
constexpr std::size_t expand(Text<N, C>& t, std::size_t pos, std::string_view tpl, int index) {
  for (char c : tpl) {
    if (c != '#') {
      t.chars[pos++] = c;
      continue;
    }
    const std::size_t d = digits(index);
    int v = index;
    for (std::size_t k = d; k > 0; --k) {
      t.chars[pos + k - 1] = static_cast<char>('0' + v % 10);
      v /= 10;
    }
    pos += d;
  }
  return pos;
}

template <std::size_t N, std::size_t C>
constexpr Text<N, C> buildText(std::span<const Group> groups) {
  Text<N, C> t{};
  std::size_t pos = 0;
  for (const Group& g : groups) {
    for (int i = 0; i < g.count; ++i) {
      const int index = g.indexBase + i;
      for (const Field& f : g.fields) {
        const int number = g.first + g.stride * i + f.offset;
        if (number < 1 || number > static_cast<int>(N)) continue;  // caught by `complete`
        const auto e = static_cast<std::size_t>(number - 1);
        ++t.times[e];
        t.nameOff[e] = pos;
        pos = expand(t, pos, f.name, index);
        t.nameLen[e] = pos - t.nameOff[e];
        t.descOff[e] = pos;
        pos = expand(t, pos, f.description, index);
        t.descLen[e] = pos - t.descOff[e];
        t.unit[e] = f.unit;
        t.limits[e] = f.limits;
      }
    }
  }
  return t;
}

template <std::size_t N>
constexpr bool complete(std::span<const CatalogEntry, N> e) {
  for (std::size_t i = 0; i < N; ++i) {
    if (e[i].number != static_cast<int>(i + 1) || e[i].name.empty()) return false;
    for (std::size_t j = 0; j < i; ++j) {
      if (e[i].name == e[j].name) return false;
    }
  }
  return true;
}

template <std::size_t N, std::size_t C>
constexpr std::array<CatalogEntry, N> entries(const Text<N, C>& t) {
  std::array<CatalogEntry, N> e{};
  for (std::size_t i = 0; i < N; ++i) {
    // A number given twice or never is marked by an empty name.
    const bool once = t.times[i] == 1;
    e[i] = CatalogEntry{
        static_cast<int>(i + 1),
        once ? std::string_view(t.chars.data() + t.nameOff[i], t.nameLen[i]) : std::string_view(),
        t.unit[i], std::string_view(t.chars.data() + t.descOff[i], t.descLen[i]), t.limits[i]};
  }
  return e;
}

// ---------------------------------------------------------------- parameters

constexpr Limits kPositive{.min = 0.0, .openMin = true};
constexpr Limits kNonNegative{.min = 0.0};
constexpr Limits kRelative{.min = 0.0, .max = 1.0};
constexpr Limits kPortHeight{.min = -1.0, .max = 1.0};  // -1: port not used
constexpr Limits kPlugCount{.min = 10.0, .max = 400.0, .integer = true};
constexpr Limits kSwitch{.min = 0.0, .max = 1.0, .integer = true};

constexpr Field kStorePar[] = {
    {0, "store.volume", "m3", "Store volume", kPositive},
    {1, "store.density", "kg/m3", "Density of the store fluid", kPositive},
    {2, "store.specificHeat", "kJ/(kg K)", "Specific heat of the store fluid (also of every port)",
     kPositive},
    {3, "store.conductivity", "W/(m K)", "Thermal conductivity of the store fluid", kNonNegative},
    {4, "store.height", "m", "Store height", kPositive},
    {5, "store.initialTemperature", "degC", "Initial temperature of a uniform store"},
    {6, "store.maxPlugs", "-", "Maximum number of plugs (10 ... 400, above the minimum)",
     kPlugCount},
    {7, "store.minPlugs", "-", "Minimum number of plugs (10 ... 400); a uniform store has as many",
     kPlugCount},
    {8, "store.minDeltaT", "K", "Minimum temperature difference between two plugs", kNonNegative},
    {9, "store.startProfile", "-",
     "1: read the initial plugs from startProfile.ini in the folder of label 1", kSwitch},
    {10, "store.referenceTemperature", "degC", "Reference temperature of energy and exergy",
     Limits{.min = -273.15, .openMin = true}},
    {11, "loss.uaBottom", "W/K", "Loss UA of the store bottom", kNonNegative},
    {12, "loss.uaSideLower", "W/K", "Loss UA of the lower third of the side wall", kNonNegative},
    {13, "loss.uaSideMiddle", "W/K", "Loss UA of the middle third of the side wall", kNonNegative},
    {14, "loss.uaSideUpper", "W/K", "Loss UA of the upper third of the side wall", kNonNegative},
    {15, "loss.uaTop", "W/K", "Loss UA of the store top", kNonNegative},
};

constexpr Field kUnusedPar[] = {{0, "unused#", "", "Not used"}};

constexpr Field kPortPar[] = {
    {0, "port#.heightA", "-",
     "Port #: relative height of connection A, where forward flow enters (-1: port not used)",
     kPortHeight},
    {1, "port#.heightB", "-",
     "Port #: relative height of connection B, where forward flow leaves (-1: port not used)",
     kPortHeight},
    {2, "port#.unused", "", "Port #: not used"},
    {3, "port#.inletMode", "-",
     "Port #: inlet mode, above 0.5 the entering fluid seeks its temperature layer, else it "
     "enters at the connection height and mixes",
     kRelative},
};

constexpr Field kSensorPar[] = {
    {0, "sensor#.height", "-", "Relative height of temperature sensor #", kRelative}};

constexpr Field kZonePar[] = {
    {0, "zone#.low", "-", "Relative lower height of averaging zone #", kRelative},
    {1, "zone#.high", "-", "Relative upper height of averaging zone #", kRelative},
};

constexpr Field kBarrierPar[] = {
    {0, "barrier.mode", "-", "Thermal barrier: 0 none, 1 at a fixed height, 2 at a temperature",
     Limits{.min = 0.0, .max = 2.0, .integer = true}},
    {1, "barrier.height", "-", "Relative height of the thermal barrier (mode 1)", kRelative},
    {2, "barrier.temperature", "degC", "Temperature of the thermal barrier (mode 2)"},
    {3, "barrier.ua", "W/K", "UA of the thermal barrier", kNonNegative},
    {4, "hx.count", "-", "Number of immersed heat exchangers in use (0 ... 6)",
     Limits{.min = 0.0, .max = kMaxHx, .integer = true}},
};

constexpr Field kHxPar[] = {
    {0, "hx#.inletHeight", "-", "Hx #: relative inlet height (0 ... 1)", kRelative},
    {1, "hx#.outletHeight", "-",
     "Hx #: relative outlet height (0 ... 1, at least 0.001 from the inlet)", kRelative},
    {2, "hx#.innerDiameter", "m", "Hx #: inner pipe diameter", kPositive},
    {3, "hx#.outerDiameter", "m", "Hx #: outer pipe diameter", kPositive},
    {4, "hx#.length", "m", "Hx #: pipe length", kPositive},
    {5, "hx#.wallConductivity", "W/(m K)", "Hx #: thermal conductivity of the pipe wall",
     kPositive},
    {6, "hx#.glycolConcentration", "%",
     "Hx #: antifreeze concentration of the Hx fluid (below 0.001: water)",
     Limits{.min = 0.0, .max = 100.0}},
    {7, "hx#.volume", "m3",
     "Hx #: fluid volume, used with UA model 1 (model 0 computes it from the pipe)", kNonNegative},
    {8, "hx#.specificHeat", "kJ/(kg K)", "Hx #: specific heat of the Hx fluid", kPositive},
    {9, "hx#.density", "kg/m3", "Hx #: density of the Hx fluid", kPositive},
    {10, "hx#.numberOfCv", "-", "Hx #: number of control volumes",
     Limits{.min = 1.0, .integer = true}},
    {11, "hx#.uaModel", "-", "Hx #: UA model, 0 from correlations, 1 from the nominal UA", kSwitch},
    {12, "hx#.outsideConstant", "-", "Hx #: constant K of the outside power-law correlation"},
    {13, "hx#.outsideExponent", "-", "Hx #: exponent m of the outside power-law correlation"},
    {14, "hx#.flowExponent", "-", "Hx #: exponent of the mass flow in the UA law"},
    {15, "hx#.deltaTExponent", "-", "Hx #: exponent of the temperature difference in the UA law"},
    {16, "hx#.temperatureExponent", "-", "Hx #: exponent of the temperature in the UA law"},
    {17, "hx#.uaNominal", "kJ/(h K)", "Hx #: nominal UA of the whole heat exchanger", kNonNegative},
    {18, "hx#.unused", "", "Hx #: stored, not used"},
};

constexpr Field kHeatAPar[] = {{0, "heatA#.height", "-",
                                "Relative height of heat input A# (0 or below: input off)",
                                Limits{.max = 1.0}}};
constexpr Field kHeatBPar[] = {{0, "heatB#.height", "-",
                                "Relative height of heat input B# (0 or below: input off)",
                                Limits{.max = 1.0}}};

constexpr Group kParameterGroups[] = {
    {1, 1, 0, 1, kStorePar},
    {17, 4, 1, 17, kUnusedPar},
    {21, kNumPorts, 4, 1, kPortPar},
    {61, kNumSensors, 1, 1, kSensorPar},
    {71, kNumZones, 2, 1, kZonePar},
    {81, 1, 0, 1, kBarrierPar},
    {86, kMaxHx, 19, 1, kHxPar},
    {200, kNumHeatInputs, 1, 1, kHeatAPar},
    {210, kNumHeatInputs, 1, 1, kHeatBPar},
};

// ---------------------------------------------------------------- inputs

constexpr Field kPortIn[] = {
    {0, "port#.temperatureA", "degC", "Port #: temperature of the fluid entering at A"},
    {1, "port#.massFlow", "kg/h",
     "Port #: mass flow, negative for reversed flow (enters at B, leaves at A)"},
    {2, "port#.temperatureB", "degC",
     "Port #: temperature of the fluid entering at B (reversed flow)"},
};

constexpr Field kAmbientIn[] = {
    {0, "ambient.temperature", "degC", "Ambient temperature of the losses"}};

constexpr Field kHxIn[] = {
    {0, "hx#.inletTemperature", "degC", "Hx #: inlet temperature (forward flow)"},
    {1, "hx#.massFlow", "kg/h", "Hx #: mass flow, negative for reversed flow"},
    {2, "hx#.inletTemperatureReversed", "degC", "Hx #: inlet temperature when reversed"},
};

constexpr Field kHeatAIn[] = {{0, "heatA#.power", "kW", "Heat input A#"}};
constexpr Field kHeatBIn[] = {{0, "heatB#.power", "kW", "Heat input B#"}};

constexpr Group kInputGroups[] = {
    {1, kNumPorts, 3, 1, kPortIn},
    {31, 1, 0, 1, kAmbientIn},
    {32, kMaxHx, 3, 1, kHxIn},
    {50, kNumHeatInputs, 1, 1, kHeatAIn},
    {60, kNumHeatInputs, 1, 1, kHeatBIn},
};

// ---------------------------------------------------------------- outputs

constexpr Field kPortFlowOut[] = {
    {0, "port#.outletTemperature", "degC", "Port #: temperature of the fluid leaving the store"},
    {1, "port#.massFlow", "kg/h", "Port #: mass flow (absolute value)"},
};

constexpr Field kProfileOut[] = {
    {0, "profile.t05", "degC", "Store temperature at relative height 0.05"},
    {1, "profile.t15", "degC", "Store temperature at relative height 0.15"},
    {2, "profile.t25", "degC", "Store temperature at relative height 0.25"},
    {3, "profile.t35", "degC", "Store temperature at relative height 0.35"},
    {4, "profile.t45", "degC", "Store temperature at relative height 0.45"},
    {5, "profile.t55", "degC", "Store temperature at relative height 0.55"},
    {6, "profile.t65", "degC", "Store temperature at relative height 0.65"},
    {7, "profile.t75", "degC", "Store temperature at relative height 0.75"},
    {8, "profile.t85", "degC", "Store temperature at relative height 0.85"},
    {9, "profile.t95", "degC", "Store temperature at relative height 0.95"},
};

constexpr Field kPortHeatOut[] = {
    {0, "port#.heat", "kW", "Port #: heat flow brought into the store"}};
constexpr Field kPortEntropyOut[] = {
    {0, "port#.entropyFlow", "kW/K", "Port #: entropy flow brought into the store"}};
constexpr Field kPortExergyOut[] = {
    {0, "port#.exergyFlow", "kW", "Port #: exergy flow brought into the store"}};

constexpr Field kStoreOut[] = {
    {0, "store.energy", "MJ", "Store energy relative to the reference temperature"},
    {1, "store.entropy", "MJ/K", "Store entropy relative to the reference temperature"},
    {2, "store.exergy", "MJ", "Store exergy"},
    {3, "store.balance", "kW", "Main power balance of the store (near 0 when consistent)"},
    {4, "store.meanTemperature", "degC", "Mean store temperature from the energy"},
    {5, "store.plugCount", "-", "Number of plugs counted by the flow calculation"},
    {6, "store.timeStep", "h", "Time step"},
    {7, "loss.heat", "kW", "Heat loss of the store"},
    {8, "loss.entropyFlow", "kW/K", "Entropy flow of the losses"},
    {9, "loss.exergyFlow", "kW", "Exergy flow of the losses"},
};

constexpr Field kSensorOut[] = {
    {0, "sensor#.temperature", "degC", "Temperature at the height of sensor #"}};

constexpr Field kEntropyOut[] = {
    {0, "entropy.residual", "kW/K", "Entropy balance residual (entropy production)"},
    {1, "entropy.residualMean", "kW/K", "Entropy balance residual from the mean temperatures"},
    {2, "entropy.storeRate", "kW/K", "Rate of change of the store entropy"},
    {3, "entropy.storeRateMean", "kW/K",
     "Rate of change of the store entropy from the mean temperatures"},
    {4, "entropy.portFlow", "kW/K", "Entropy flow of all ports"},
    {5, "entropy.portFlowMean", "kW/K", "Entropy flow of all ports from the mean temperature"},
    {6, "entropy.lossFlow", "kW/K", "Entropy flow of the losses"},
    {7, "unused88", "-", "Always 0"},
    {8, "exergy.residual", "kW", "Exergy balance residual (exergy destruction)"},
    {9, "exergy.residualMean", "kW", "Exergy balance residual from the mean temperatures"},
};

constexpr Field kZoneOut[] = {
    {0, "zone#.temperature", "degC", "Mean temperature of averaging zone #"}};

constexpr Field kHxOut[] = {
    {0, "hx#.lmtd", "K",
     "Hx #: logarithmic mean temperature difference (written only while Hx # is in use)"},
    {1, "hx#.ua", "kW/K",
     "Hx #: UA of the flowing heat exchanger (written only while Hx # is in use)"},
    {2, "hx#.effectiveness", "-", "Hx #: effectiveness (written only while Hx # is in use)"},
    {3, "hx#.insideCoefficient", "kW/(m2 K)",
     "Hx #: mean inside heat-transfer coefficient (written only while Hx # is in use)"},
    {4, "hx#.wallCoefficient", "kW/(m2 K)",
     "Hx #: mean wall heat-transfer coefficient (written only while Hx # is in use)"},
    {5, "hx#.outsideCoefficient", "kW/(m2 K)",
     "Hx #: mean outside heat-transfer coefficient (written only while Hx # is in use)"},
    {6, "hx#.outletTemperature", "degC",
     "Hx #: outlet temperature (written only while Hx # is in use)"},
    {7, "hx#.inletTemperature", "degC",
     "Hx #: inlet temperature (written only while Hx # is in use)"},
    {8, "hx#.heatToStore", "kW",
     "Hx #: heat the Hx gives to the store (written only while Hx # is in use)"},
    {9, "hx#.heatToFluid", "kW",
     "Hx #: heat taken up by the Hx fluid (written only while Hx # is in use)"},
};

constexpr Field kNeverWrittenOut[] = {
    {0, "unused#", "", "Never written: keeps the value the host put there"}};

constexpr Field kBalanceOut[] = {
    {0, "balance.heatIntoPlugs", "kW", "Heat from heat exchangers and heat inputs into the plugs"},
    {1, "balance.heatLoss", "kW", "Heat loss of the store (equal to loss.heat)"},
    {2, "balance.storageRate", "kW", "Rate of change of the store energy"},
    {3, "balance.portHeat", "kW", "Heat brought into the store by all ports"},
    {4, "store.averageTemperature", "degC", "Capacitance-weighted mean plug temperature"},
    {5, "heatInputs.power", "kW", "Sum of the heat inputs of both banks"},
};

constexpr Field kHeatAOut[] = {
    {0, "heatA#.temperature", "degC",
     "Store temperature at the height of heat input A# (0 when the input is off)"}};
constexpr Field kHeatBOut[] = {
    {0, "heatB#.temperature", "degC",
     "Store temperature at the height of heat input B# (0 when the input is off)"}};

constexpr Group kOutputGroups[] = {
    {1, kNumPorts, 2, 1, kPortFlowOut},     {21, 1, 0, 1, kProfileOut},
    {31, kNumPorts, 1, 1, kPortHeatOut},    {41, kNumPorts, 1, 1, kPortEntropyOut},
    {51, kNumPorts, 1, 1, kPortExergyOut},  {61, 1, 0, 1, kStoreOut},
    {71, kNumSensors, 1, 1, kSensorOut},    {81, 1, 0, 1, kEntropyOut},
    {91, kNumZones, 1, 1, kZoneOut},        {96, kMaxHx, 10, 1, kHxOut},
    {156, 20, 1, 156, kNeverWrittenOut},    {176, 1, 0, 1, kBalanceOut},
    {182, kNumHeatInputs, 1, 1, kHeatAOut}, {192, kNumHeatInputs, 1, 1, kHeatBOut},
    {202, 1, 0, 202, kNeverWrittenOut},
};

// ---------------------------------------------------------------- tables

constexpr auto kParameterText =
    buildText<kNumParameters, textSize(kParameterGroups)>(kParameterGroups);
constexpr auto kInputText = buildText<kNumInputs, textSize(kInputGroups)>(kInputGroups);
constexpr auto kOutputText = buildText<kNumOutputs, textSize(kOutputGroups)>(kOutputGroups);

constexpr auto kParameters = entries(kParameterText);
constexpr auto kInputs = entries(kInputText);
constexpr auto kOutputs = entries(kOutputText);

// Every number named exactly once, names unique.
static_assert(complete(std::span<const CatalogEntry, kNumParameters>(kParameters)));
static_assert(complete(std::span<const CatalogEntry, kNumInputs>(kInputs)));
static_assert(complete(std::span<const CatalogEntry, kNumOutputs>(kOutputs)));

const CatalogEntry* find(std::span<const CatalogEntry> table, std::string_view name) {
  for (const CatalogEntry& e : table) {
    if (e.name == name) return &e;
  }
  return nullptr;
}

}  // namespace

std::span<const CatalogEntry> parameterCatalog() { return kParameters; }
std::span<const CatalogEntry> inputCatalog() { return kInputs; }
std::span<const CatalogEntry> outputCatalog() { return kOutputs; }

const CatalogEntry* findParameter(std::string_view name) { return find(kParameters, name); }
const CatalogEntry* findInput(std::string_view name) { return find(kInputs, name); }
const CatalogEntry* findOutput(std::string_view name) { return find(kOutputs, name); }

}  // namespace plugstore
