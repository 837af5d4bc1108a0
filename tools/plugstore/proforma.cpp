#include "plugstore/proforma.h"

#include <array>
#include <cmath>
#include <span>

#include "host/catalog.h"
#include "host/unit_stores.h"
#include "plugstore/defaults.h"
#include "plugstore/names.h"
#include "store/state.h"

namespace plugstore::runner {

namespace {

struct UnitName {
  std::string_view catalog;
  StudioUnit studio;
};

// The studio's names of the catalog's units. W/K, kJ/(h K), kW/K, MJ/K,
// kW/(m2 K) and % are not among them.
constexpr std::array<UnitName, 13> kUnitNames{{
    {"degC", {"Temperature", "C"}},
    {"K", {"Temp. Difference", "deltaC"}},
    {"-", {"Dimensionless", "-"}},
    {"", {"Dimensionless", "-"}},
    {"kg/h", {"Flow Rate", "kg/hr"}},
    {"kW", {"Power", "kW"}},
    {"m", {"Length", "m"}},
    {"m3", {"Volume", "m^3"}},
    {"kg/m3", {"Density", "kg/m^3"}},
    {"kJ/(kg K)", {"Specific Heat", "kJ/kg.K"}},
    {"W/(m K)", {"Thermal Conductivity", "W/m.K"}},
    {"MJ", {"Energy", "MJ"}},
    {"h", {"Time", "hr"}},
}};

std::string escaped(std::string_view text) {
  std::string o;
  for (char c : text) {
    switch (c) {
      case '&':
        o += "&amp;";
        break;
      case '<':
        o += "&lt;";
        break;
      case '>':
        o += "&gt;";
        break;
      case '"':
        o += "&quot;";
        break;
      default:
        o += c;
    }
  }
  return o;
}

std::string bound(double v) {
  if (std::isinf(v)) return v > 0 ? "+Inf" : "-Inf";
  return formatNumber(v);
}

void element(std::string& o, std::string_view indent, std::string_view tag, std::string_view text) {
  o += std::string(indent) + "<" + std::string(tag) + ">" + escaped(text) + "</" +
       std::string(tag) + ">\n";
}

// One variable of a role; `defaults` null for the outputs (default 0).
void variables(std::string& o, int& order, std::string_view role,
               std::span<const CatalogEntry> table, const double* defaults) {
  for (const CatalogEntry& e : table) {
    const Limits& l = e.limits;
    StudioUnit su = studioUnit(e.unit);
    std::string definition(e.description);
    if (su.dimension.empty()) {
      su = {"Dimensionless", "-"};
      definition += ". Unit " + std::string(e.unit) +
                    ", which has no name in the studio: shown as dimensionless";
    }
    const double value = defaults != nullptr ? defaults[e.number - 1] : 0.0;
    o += "    <variable><!--" + std::string(role) + "-" + std::to_string(e.number) + "-->\n";
    element(o, "      ", "order", std::to_string(++order));
    element(o, "      ", "name", e.name);
    element(o, "      ", "role", role);
    element(o, "      ", "dimension", su.dimension);
    element(o, "      ", "unit", su.unit);
    element(o, "      ", "type", l.integer ? "integer" : "real");
    element(o, "      ", "min", bound(l.min));
    element(o, "      ", "max", bound(l.max));
    element(o, "      ", "boundaries",
            std::string(l.openMin ? "]" : "[") + " ; " + (l.openMax ? "[" : "]"));
    element(o, "      ", "default", formatNumber(value));
    element(o, "      ", "symbol", e.name);
    element(o, "      ", "definition", definition);
    o += "    </variable>\n";
  }
}

}  // namespace

StudioUnit studioUnit(std::string_view catalogUnit) {
  for (const UnitName& u : kUnitNames) {
    if (u.catalog == catalogUnit) return u.studio;
  }
  return {};
}

std::string proformaXml() {
  const auto parameters = defaultParameters();
  const auto inputs = defaultInputs();
  std::string o = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"no\" ?>\n";
  o += "<TrnsysModel>\n";
  element(o, "  ", "object", "plugstore plug-flow stratified store");
  element(o, "  ", "author", "plugstore developers");
  element(o, "  ", "organization", "plugstore project");
  element(o, "  ", "editor", "plugstore proforma");
  element(o, "  ", "creationDate", "2026-12-08");
  element(o, "  ", "modifictionDate", "2026-12-08");
  element(o, "  ", "mode", "1");
  element(o, "  ", "validation", "0");
  element(o, "  ", "icon", "");
  element(o, "  ", "type", "8642");
  element(o, "  ", "maxInstance", std::to_string(kMaxUnits));
  o += "  <keywords>\n";
  for (const char* k :
       {"storage", "stratified store", "plug flow", "hot water", "heat exchanger"}) {
    element(o, "    ", "keyword", k);
  }
  o += "  </keywords>\n";
  element(o, "  ", "details",
          "A stratified hot-water store computed as a stack of fluid plugs. Ten direct ports draw "
          "fluid from the store and return it as new plugs at their inlets (or, seeking their "
          "temperature, under the lowest warmer plug); up to six immersed heat exchangers, "
          "modelled in control volumes with heat-transfer correlations or a nominal UA, and two "
          "banks of ten heat inputs at fixed heights heat or cool the plugs; conduction between "
          "the plugs and losses through bottom, side and top to the ambient are solved "
          "implicitly. The outputs give the outlet temperatures, the heat, entropy and exergy "
          "flows of every port and heat exchanger, the store's energy, entropy and exergy with "
          "their balances, a 20-point temperature profile, ten sensor and five zone "
          "temperatures. Heights are relative (0 bottom, 1 top). Label 1 names the folder of "
          "startProfile.ini and of the diagnostic dump files.");
  o += "  <variables>\n";
  int order = 0;
  variables(o, order, "parameter", parameterCatalog(), parameters.data());
  variables(o, order, "input", inputCatalog(), inputs.data());
  variables(o, order, "output", outputCatalog(), nullptr);
  o += "  </variables>\n";
  o += "  <cycles>\n  </cycles>\n";
  element(o, "  ", "compileCommand",
          "cmake -S . -B build-msvc -A x64 -DPLUGSTORE_TESTS=OFF -DPLUGSTORE_BENCHMARKS=OFF && "
          "cmake --build build-msvc --config Release --target type8642");
  element(o, "  ", "source", "src");
  o += "</TrnsysModel>\n";
  return o;
}

}  // namespace plugstore::runner
