// Names, units and descriptions of every parameter, input and output of the
// component, in one place. The stand-in host, the runner and the
// documentation address the host arrays by these names; the numbers are the
// host's 1-based positions.
#pragma once

#include <limits>
#include <span>
#include <string_view>

namespace plugstore {

// The values that mean what an entry's description says: a range whose ends
// may be left out, and for counts, modes and switches whole numbers only
// (the component truncates them). Unbounded unless given.
struct Limits {
  double min = -std::numeric_limits<double>::infinity();
  double max = std::numeric_limits<double>::infinity();
  bool openMin = false;  // min itself lies outside
  bool openMax = false;  // max itself lies outside
  bool integer = false;
};

struct CatalogEntry {
  int number;  // 1-based position in the host array
  std::string_view name;
  std::string_view unit;
  std::string_view description;
  Limits limits;
};

std::span<const CatalogEntry> parameterCatalog();  // numbers 1 ... 219 in order
std::span<const CatalogEntry> inputCatalog();      // 1 ... 69
std::span<const CatalogEntry> outputCatalog();     // 1 ... 202, never-written ones included

// nullptr when the name is unknown.
const CatalogEntry* findParameter(std::string_view name);
const CatalogEntry* findInput(std::string_view name);
const CatalogEntry* findOutput(std::string_view name);

}  // namespace plugstore
