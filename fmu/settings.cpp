#include "fmu/settings.h"

#include <algorithm>
#include <charconv>
#include <cstdio>

#include "host/catalog.h"

namespace plugstore::fmu {

namespace {

std::string number(double v) {
  std::array<char, 32> buf{};
  const auto r = std::to_chars(buf.data(), buf.data() + buf.size(), v);  // shortest exact
  return {buf.data(), r.ptr};
}

template <typename T>
bool parse(std::string_view text, T& value) {
  const auto r = std::from_chars(text.data(), text.data() + text.size(), value);
  return r.ec == std::errc() && r.ptr == text.data() + text.size();
}

std::string_view word(std::string_view& line) {
  const std::size_t begin = line.find_first_not_of(' ');
  if (begin == std::string_view::npos) return line = {};
  line.remove_prefix(begin);
  const std::size_t end = std::min(line.find(' '), line.size());
  const std::string_view w = line.substr(0, end);
  line.remove_prefix(end);
  return w;
}

}  // namespace

std::string settingsText(const Settings& s) {
  std::string t = "# Settings of the store FMU (plugstore fmu); parameters and inputs by number\n";
  t += "guid " + s.guid + "\n";
  t += "start " + number(s.start) + "\n";
  t += "step " + number(s.step) + "\n";
  t += "iterations " + std::to_string(s.iterations) + "\n";
  t += "unit " + std::to_string(s.unit) + "\n";
  for (const CatalogEntry& e : parameterCatalog()) {
    t += "parameter " + std::to_string(e.number) + " " +
         number(s.parameters[static_cast<std::size_t>(e.number - 1)]) + " " + std::string(e.name) +
         "\n";
  }
  for (const CatalogEntry& e : inputCatalog()) {
    t += "input " + std::to_string(e.number) + " " +
         number(s.inputs[static_cast<std::size_t>(e.number - 1)]) + " " + std::string(e.name) +
         "\n";
  }
  return t;
}

std::string readSettings(std::string_view text, Settings& s) {
  std::array<bool, standin::kParameters> parameterSeen{};
  std::array<bool, standin::kInputs> inputSeen{};
  int lineNumber = 0;
  while (!text.empty()) {
    const std::size_t end = std::min(text.find('\n'), text.size());
    std::string_view line = text.substr(0, end);
    text.remove_prefix(std::min(end + 1, text.size()));
    ++lineNumber;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    const std::string_view key = word(line);
    if (key.empty() || key.front() == '#') continue;
    const std::string_view a = word(line);
    bool ok = true;
    if (key == "guid") {
      s.guid = std::string(a);
    } else if (key == "start") {
      ok = parse(a, s.start);
    } else if (key == "step") {
      ok = parse(a, s.step) && s.step > 0.0;
    } else if (key == "iterations") {
      ok = parse(a, s.iterations) && s.iterations >= 1;
    } else if (key == "unit") {
      ok = parse(a, s.unit);
    } else if (key == "parameter" || key == "input") {
      const bool parameter = key == "parameter";
      int n = 0;
      const int count = parameter ? standin::kParameters : standin::kInputs;
      ok = parse(a, n) && n >= 1 && n <= count;
      const auto i = static_cast<std::size_t>(n - 1);
      if (ok) ok = parse(word(line), parameter ? s.parameters[i] : s.inputs[i]);
      if (ok) (parameter ? parameterSeen[i] : inputSeen[i]) = true;
    } else {
      ok = false;
    }
    if (!ok) return "line " + std::to_string(lineNumber) + " cannot be read";
  }
  for (std::size_t i = 0; i < parameterSeen.size(); ++i) {
    if (!parameterSeen[i]) return "parameter " + std::to_string(i + 1) + " is missing";
  }
  for (std::size_t i = 0; i < inputSeen.size(); ++i) {
    if (!inputSeen[i]) return "input " + std::to_string(i + 1) + " is missing";
  }
  if (s.guid.empty()) return "the guid is missing";
  return {};
}

}  // namespace plugstore::fmu
