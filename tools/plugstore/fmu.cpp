#include "plugstore/fmu.h"

#include <toml++/toml.h>
#include <unistd.h>
#include <zip.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <climits>
#include <cstdint>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>

#include "fmu/settings.h"
#include "host/catalog.h"
#include "plugstore/initial_profile.h"
#include "plugstore/names.h"

namespace plugstore::runner {

namespace fs = std::filesystem;

namespace {

constexpr double kSecondsPerHour = 3600.0;

std::string number(double v) {
  std::array<char, 32> buf{};
  const auto r = std::to_chars(buf.data(), buf.data() + buf.size(), v);
  return {buf.data(), r.ptr};
}

std::string xmlEscaped(std::string_view text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

// A unit of the catalog as the FMU names it (Modelica's notation: "." for
// a product) and its definition in SI base units.
struct UnitDefinition {
  std::string_view catalog;
  std::string_view name;
  std::string_view baseUnit;  // attributes of <BaseUnit>
};
constexpr std::array<UnitDefinition, 18> kUnits = {{
    {"s", "s", R"(s="1")"},
    {"h", "h", R"(s="1" factor="3600")"},
    {"degC", "degC", R"(K="1" offset="273.15")"},
    {"K", "K", R"(K="1")"},
    {"kg/h", "kg/h", R"(kg="1" s="-1" factor="0.0002777777777777778")"},
    {"kW", "kW", R"(kg="1" m="2" s="-3" factor="1000")"},
    {"m", "m", R"(m="1")"},
    {"m3", "m3", R"(m="3")"},
    {"kg/m3", "kg/m3", R"(kg="1" m="-3")"},
    {"kJ/(kg K)", "kJ/(kg.K)", R"(m="2" s="-2" K="-1" factor="1000")"},
    {"W/(m K)", "W/(m.K)", R"(kg="1" m="1" s="-3" K="-1")"},
    {"W/K", "W/K", R"(kg="1" m="2" s="-3" K="-1")"},
    {"kJ/(h K)", "kJ/(h.K)", R"(kg="1" m="2" s="-3" K="-1" factor="0.2777777777777778")"},
    {"kW/K", "kW/K", R"(kg="1" m="2" s="-3" K="-1" factor="1000")"},
    {"kW/(m2 K)", "kW/(m2.K)", R"(kg="1" s="-3" K="-1" factor="1000")"},
    {"MJ", "MJ", R"(kg="1" m="2" s="-2" factor="1000000")"},
    {"MJ/K", "MJ/K", R"(kg="1" m="2" s="-2" K="-1" factor="1000000")"},
    {"%", "%", R"(factor="0.01")"},
}};

// Units with a type of their own, as Modelica tools and building
// simulations know these quantities.
struct TypeDefinition {
  std::string_view unit;
  std::string_view name;
  std::string_view attributes;
};
constexpr std::array<TypeDefinition, 4> kTypes = {{
    {"degC", "Temperature", R"(quantity="ThermodynamicTemperature" unit="degC")"},
    {"K", "TemperatureDifference",
     R"(quantity="ThermodynamicTemperature" unit="K" relativeQuantity="true")"},
    {"kg/h", "MassFlowRate", R"(quantity="MassFlowRate" unit="kg/h")"},
    {"kW", "Power", R"(quantity="Power" unit="kW")"},
}};

// The attributes of <Real> that give a variable's unit; empty without one.
std::string unitAttributes(std::string_view catalogUnit) {
  if (catalogUnit.empty() || catalogUnit == "-") return {};
  for (const TypeDefinition& t : kTypes) {
    if (t.unit == catalogUnit) return " declaredType=\"" + std::string(t.name) + "\"";
  }
  for (const UnitDefinition& u : kUnits) {
    if (u.catalog == catalogUnit) return " unit=\"" + xmlEscaped(u.name) + "\"";
  }
  throw std::logic_error("no unit definition for " + std::string(catalogUnit));
}

bool unused(std::string_view name) {
  return name.starts_with("unused") || name.find(".unused") != std::string_view::npos;
}

bool portUsed(const Scenario& s, int d) {
  const auto a = static_cast<std::size_t>(20 + 4 * (d - 1));
  return !(s.parameters[a] == -1.0 && s.parameters[a + 1] == -1.0);
}

int hxCount(const Scenario& s) { return std::clamp(static_cast<int>(s.parameters[84]), 0, 6); }

// The inputs of what the store has in use: ports, Hx, heat inputs at a
// height, and the ambient temperature.
std::vector<int> exposedInputs(const Scenario& s) {
  std::vector<int> inputs;
  for (int d = 1; d <= 10; ++d) {
    if (portUsed(s, d)) inputs.insert(inputs.end(), {3 * d - 2, 3 * d - 1, 3 * d});
  }
  inputs.push_back(31);
  for (int k = 1; k <= hxCount(s); ++k) {
    inputs.insert(inputs.end(), {32 + 3 * (k - 1), 33 + 3 * (k - 1), 34 + 3 * (k - 1)});
  }
  for (int i = 1; i <= 20; ++i) {
    if (s.parameters[static_cast<std::size_t>(198 + i)] > 0.0) inputs.push_back(49 + i);
  }
  return inputs;
}

bool scenarioNamesOutputs(const Scenario& s) {
  try {
    const toml::table doc = toml::parse_file(s.file.string());
    return doc["outputs"]["columns"].is_value() || doc["outputs"]["columns"].is_array();
  } catch (const std::exception&) {
    return false;  // read before: the default then
  }
}

// The scenario's output columns of the component; without [outputs] the
// outlet temperatures and heat of the ports and Hx in use, the profile, the
// sensors the scenario places, the store's energy, balance and losses.
std::vector<int> chosenOutputs(const Scenario& s) {
  std::vector<int> outputs;
  if (scenarioNamesOutputs(s)) {
    for (int n : s.outputs) {
      if (n <= kNumOutputs && !unused(outputEntry(n).name)) outputs.push_back(n);
    }
    return outputs;
  }
  for (int d = 1; d <= 10; ++d) {
    if (portUsed(s, d)) outputs.insert(outputs.end(), {2 * d - 1, 30 + d});
  }
  for (int i = 21; i <= 30; ++i) outputs.push_back(i);
  outputs.insert(outputs.end(), {61, 64, 65, 68});
  for (int i = 1; i <= 10; ++i) {
    if (s.parameterPlace[static_cast<std::size_t>(59 + i)].line != 0) outputs.push_back(70 + i);
  }
  for (int k = 1; k <= hxCount(s); ++k) {
    outputs.insert(outputs.end(), {102 + 10 * (k - 1), 104 + 10 * (k - 1)});
  }
  const auto heat = s.parameters.begin() + 199;
  if (std::any_of(heat, heat + 20, [](double z) { return z > 0.0; })) outputs.push_back(181);
  std::sort(outputs.begin(), outputs.end());
  return outputs;
}

struct Variable {
  unsigned reference = 0;
  const CatalogEntry* entry = nullptr;
  std::string causality;
  double start = 0.0;
  // An output with an input's name (port#.massFlow, hx#.inletTemperature)
  // has "Output" appended: names are unique in an FMU.
  [[nodiscard]] std::string name() const {
    return std::string(entry->name) +
           (causality == "output" && findInput(entry->name) != nullptr ? "Output" : "");
  }
};

std::string variableXml(const Variable& v) {
  std::string x = "    <ScalarVariable name=\"" + v.name() + "\" valueReference=\"" +
                  std::to_string(v.reference) + "\" description=\"" +
                  xmlEscaped(v.entry->description) + "\" causality=\"" + v.causality + "\"";
  if (v.causality == "parameter") {
    x += " variability=\"fixed\" initial=\"exact\">\n";
  } else if (v.causality == "input") {
    x += " variability=\"continuous\">\n";
  } else {
    x += " variability=\"continuous\" initial=\"calculated\">\n";
  }
  x += "      <Real" + unitAttributes(v.entry->unit);
  if (v.causality != "output") x += " start=\"" + number(v.start) + "\"";
  return x + "/>\n    </ScalarVariable>\n";
}

// 128 bits of the FNV-1a hash of the FMU's text, written as a GUID: the
// same scenario gives the same GUID, another scenario another.
std::string guidOf(std::string_view text) {
  std::array<std::uint64_t, 2> h = {0xcbf29ce484222325ULL, 0x84222325cbf29ce4ULL};
  for (std::uint64_t& x : h) {
    for (char c : text) {
      x ^= static_cast<unsigned char>(c);
      x *= 0x100000001b3ULL;
    }
  }
  std::array<char, 33> hex{};
  std::snprintf(hex.data(), hex.size(), "%016llx%016llx", static_cast<unsigned long long>(h[0]),
                static_cast<unsigned long long>(h[1]));
  const std::string s(hex.data(), 32);
  return "{" + s.substr(0, 8) + "-" + s.substr(8, 4) + "-" + s.substr(12, 4) + "-" +
         s.substr(16, 4) + "-" + s.substr(20) + "}";
}

std::string documentationHtml(const Scenario& s, const std::vector<Variable>& variables,
                              const std::vector<std::string>& notes) {
  const std::string title = xmlEscaped(s.title.empty() ? s.file.stem().string() : s.title);
  std::string h = "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>" + title +
                  "</title></head>\n<body>\n<h1>" + title + "</h1>\n";
  if (!s.description.empty()) h += "<p>" + xmlEscaped(s.description) + "</p>\n";
  h += "<p>A plug-flow model of a stratified hot-water store (the simulation component Type "
       "8642) as an FMI 2.0 co-simulation unit, made by <code>plugstore fmu</code> from "
       "<code>" +
       xmlEscaped(s.file.filename().string()) +
       "</code>.</p>\n"
       "<p>Time is in seconds. Each <code>fmi2DoStep</code> is one time step of the store over "
       "the communication step, with the inputs set before it held over the step; the store "
       "cuts the step into sub-steps where it needs to. The outputs are those at the end of the "
       "step; before the first step they show the store at rest. Inputs and outputs keep the "
       "component's units (degC, kg/h, kW, ...), each defined in SI base units. Any communication "
       "step size is taken; a step that is not a positive number, an input that is not a finite "
       "number, or a fatal message of the store gives <code>fmi2Error</code> with the reason "
       "through the logger, and the instance then takes no further call but "
       "<code>fmi2Reset</code> and <code>fmi2FreeInstance</code>. Warnings of the store make "
       "<code>fmi2DoStep</code> return <code>fmi2Warning</code>. The FMU state cannot be "
       "kept (<code>canGetAndSetFMUstate=\"false\"</code>).</p>\n";
  for (const std::string& n : notes) h += "<p>Note: " + xmlEscaped(n) + "</p>\n";
  h += "<table border=\"1\" cellspacing=\"0\" cellpadding=\"3\">\n"
       "<tr><th>causality</th><th>name</th><th>unit</th><th>start</th><th>meaning</th></tr>\n";
  for (const Variable& v : variables) {
    if (v.causality == "parameter") continue;
    h += "<tr><td>" + v.causality + "</td><td>" + v.name() + "</td><td>" +
         xmlEscaped(v.entry->unit) + "</td><td>" + (v.causality == "input" ? number(v.start) : "") +
         "</td><td>" + xmlEscaped(v.entry->description) + "</td></tr>\n";
  }
  return h +
         "</table>\n<p>Every parameter of the store is a fixed parameter with the scenario's "
         "value.</p>\n</body></html>\n";
}

// Adds the entry; a source the archive did not take is freed.
bool add(zip_t* zip, const std::string& name, zip_source_t* source) {
  if (source == nullptr) return false;
  if (zip_file_add(zip, name.c_str(), source, ZIP_FL_ENC_UTF_8) >= 0) return true;
  zip_source_free(source);
  return false;
}

std::string readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  if (!in) throw std::runtime_error("cannot read " + path.string());
  return text.str();
}

}  // namespace

FmuFiles fmuFiles(const Scenario& s) {
  const Place where{s.file.string(), 0, 0};
  if (!s.units.empty()) {
    throw ScenarioError(where, "an FMU holds one store; this scenario has " +
                                   std::to_string(s.units.size()) +
                                   " units: give each its own scenario");
  }
  FmuFiles files;
  if (!s.controllers.empty()) {
    files.notes.push_back(
        "the scenario's controllers are not part of the FMU: the inputs they "
        "set are inputs of the FMU, for the master to control");
  }
  if (s.tapping.port != 0) {
    files.notes.push_back("the scenario's tapping list is not part of the FMU: port" +
                          std::to_string(s.tapping.port) + ".massFlow is an input of the FMU");
  }
  if (s.interval > 0.0 || s.totals != Period::none || s.initialRow) {
    files.notes.push_back(
        "[outputs] interval, totals and initialRow are for runs; the FMU's "
        "outputs are those at the end of each communication step");
  }

  fmu::Settings settings;
  settings.start = s.start;
  settings.step = s.step;
  settings.iterations = s.iterations;
  settings.unit = s.unit;
  settings.parameters = s.parameters;
  for (std::size_t i = 0; i < settings.inputs.size(); ++i) {
    settings.inputs[i] = s.inputs[i].over(s.start, s.start + s.step);
  }
  if (!s.initialProfile.empty()) {
    files.startProfile = startProfileText(profilePlugs(s.initialProfile, s.parameters));
  } else if (s.parameters[9] >= 1.0) {
    const fs::path ini = fs::path(s.label1) / "startProfile.ini";
    if (!fs::exists(ini)) {
      throw ScenarioError(where, "store.startProfile = 1, but there is no " + ini.string() +
                                     " to put into the FMU");
    }
    files.startProfile = readFile(ini);
  }

  std::vector<Variable> variables;
  for (const CatalogEntry& e : parameterCatalog()) {
    if (unused(e.name)) continue;
    variables.push_back({static_cast<unsigned>(e.number), &e, "parameter",
                         s.parameters[static_cast<std::size_t>(e.number - 1)]});
  }
  for (int n : exposedInputs(s)) {
    variables.push_back({fmu::kInputBase + static_cast<unsigned>(n), &inputEntry(n), "input",
                         settings.inputs[static_cast<std::size_t>(n - 1)]});
  }
  const std::size_t firstOutput = variables.size() + 2;  // 1-based, after time
  for (int n : chosenOutputs(s)) {
    variables.push_back({fmu::kOutputBase + static_cast<unsigned>(n), &outputEntry(n), "output"});
  }

  std::string body;
  body += "  <CoSimulation modelIdentifier=\"" + std::string(fmu::kModelIdentifier) +
          "\" needsExecutionTool=\"false\" canHandleVariableCommunicationStepSize=\"true\""
          " canInterpolateInputs=\"false\" maxOutputDerivativeOrder=\"0\""
          " canRunAsynchronuously=\"false\" canBeInstantiatedOnlyOncePerProcess=\"false\""
          " canNotUseMemoryManagementFunctions=\"true\" canGetAndSetFMUstate=\"false\""
          " canSerializeFMUstate=\"false\" providesDirectionalDerivative=\"false\"/>\n";
  body += "  <UnitDefinitions>\n";
  for (const UnitDefinition& u : kUnits) {
    body += "    <Unit name=\"" + xmlEscaped(u.name) + "\"><BaseUnit " + std::string(u.baseUnit) +
            "/></Unit>\n";
  }
  body += "  </UnitDefinitions>\n  <TypeDefinitions>\n";
  for (const TypeDefinition& t : kTypes) {
    body += "    <SimpleType name=\"" + std::string(t.name) + "\"><Real " +
            std::string(t.attributes) + "/></SimpleType>\n";
  }
  body +=
      "  </TypeDefinitions>\n  <LogCategories>\n"
      "    <Category name=\"logStatusWarning\" description=\"Warnings of the store\"/>\n"
      "    <Category name=\"logStatusError\" description=\"Errors: fatal messages of the "
      "store, rejected parameters, refused calls\"/>\n"
      "    <Category name=\"logNotices\" description=\"Notices of the store (with debug "
      "logging on)\"/>\n  </LogCategories>\n";
  body += "  <DefaultExperiment startTime=\"" + number(s.start * kSecondsPerHour) +
          "\" stopTime=\"" + number(s.stop * kSecondsPerHour) + "\" stepSize=\"" +
          number(s.step * kSecondsPerHour) + "\"/>\n";
  body +=
      "  <ModelVariables>\n"
      "    <ScalarVariable name=\"time\" valueReference=\"0\" description=\"Simulation "
      "time\" causality=\"independent\" variability=\"continuous\">\n"
      "      <Real unit=\"s\"/>\n    </ScalarVariable>\n";
  for (const Variable& v : variables) body += variableXml(v);
  body += "  </ModelVariables>\n  <ModelStructure>\n    <Outputs>\n";
  std::string initial;
  for (std::size_t i = firstOutput; i < variables.size() + 2; ++i) {
    // At a communication point an output depends on no input: it is that
    // of the step that ended there.
    body += "      <Unknown index=\"" + std::to_string(i) + "\" dependencies=\"\"/>\n";
    initial += "      <Unknown index=\"" + std::to_string(i) + "\"/>\n";
  }
  body += "    </Outputs>\n    <InitialUnknowns>\n" + initial +
          "    </InitialUnknowns>\n  </ModelStructure>\n</fmiModelDescription>\n";

  const std::string title = s.title.empty() ? s.file.stem().string() : s.title;
  const std::string head = " modelName=\"" + xmlEscaped(s.file.stem().string()) +
                           "\" description=\"" + xmlEscaped(title) +
                           "\" generationTool=\"plugstore " PLUGSTORE_VERSION
                           "\" variableNamingConvention=\"structured\""
                           " numberOfEventIndicators=\"0\">\n";
  settings.guid = guidOf(head + body + fmu::settingsText(settings) + files.startProfile);
  files.settings = fmu::settingsText(settings);
  files.modelDescription =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<fmiModelDescription fmiVersion=\"2.0\" "
      "guid=\"" +
      settings.guid + "\"" + head + body;
  files.documentation = documentationHtml(s, variables, files.notes);
  return files;
}

fs::path defaultFmuBinary() {
  std::string self(PATH_MAX, '\0');
  const ssize_t n = readlink("/proc/self/exe", self.data(), self.size());
  if (n <= 0) return "fmu/plugstore.so";
  self.resize(static_cast<std::size_t>(n));
  return fs::path(self).parent_path() / "fmu" / "plugstore.so";
}

void writeFmu(const FmuFiles& files, const FmuBinaries& binaries, const fs::path& output) {
  for (const fs::path& b : {binaries.linux64, binaries.win64}) {
    if (!b.empty() && !fs::is_regular_file(b)) {
      throw std::runtime_error("no FMU binary " + b.string() +
                               " (cmake --build BUILD --target plugstore_fmu makes it)");
    }
  }
  int error = 0;
  // libzip writes to a temporary file and renames it at zip_close.
  zip_t* zip = zip_open(output.string().c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
  if (zip == nullptr) throw std::runtime_error("cannot write " + output.string());
  const std::string id(fmu::kModelIdentifier);
  std::vector<std::pair<std::string, const std::string*>> texts = {
      {"modelDescription.xml", &files.modelDescription},
      {"resources/" + std::string(fmu::kSettingsFile), &files.settings},
      {"documentation/index.html", &files.documentation}};
  if (!files.startProfile.empty())
    texts.emplace_back("resources/startProfile.ini", &files.startProfile);
  bool ok = true;
  for (const auto& [name, text] : texts) {
    ok = ok && add(zip, name, zip_source_buffer(zip, text->data(), text->size(), 0));
  }
  const std::pair<std::string, fs::path> platforms[] = {
      {"binaries/linux64/" + id + ".so", binaries.linux64},
      {"binaries/win64/" + id + ".dll", binaries.win64}};
  for (const auto& [name, path] : platforms) {
    if (path.empty()) continue;
    ok = ok && add(zip, name, zip_source_file(zip, path.string().c_str(), 0, -1));
  }
  if (!ok) {
    const std::string why = zip_strerror(zip);
    zip_discard(zip);
    throw std::runtime_error("cannot write " + output.string() + ": " + why);
  }
  if (zip_close(zip) != 0) {
    const std::string why = zip_strerror(zip);
    zip_discard(zip);
    throw std::runtime_error("cannot write " + output.string() + ": " + why);
  }
}

}  // namespace plugstore::runner
