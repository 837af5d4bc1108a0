// Looking up names of the catalog: exact numbers, the nearest known name for
// a misspelt one, and simple wildcard patterns for choosing outputs.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>

#include "host/catalog.h"

namespace plugstore::runner {

// Edit distance, case-insensitive (a case slip costs nothing); two
// neighbouring letters swapped count as one edit.
std::size_t editDistance(std::string_view a, std::string_view b);

// The name of `table` nearest to `name`; empty for an empty table.
std::string_view nearestName(std::span<const CatalogEntry> table, std::string_view name);

// "unknown parameter 'x'" with the nearest known name, and a hint when the
// name belongs to one of the other two tables.
std::string unknownNameMessage(std::string_view kind, std::string_view name);

// '*' matches any run of characters, everything else matches itself.
bool globMatch(std::string_view pattern, std::string_view name);

// Host number of a catalog name; throws std::logic_error when the catalog
// lacks it (a name the runner relies on was renamed).
int parameterNumber(std::string_view name);
int inputNumber(std::string_view name);
int outputNumber(std::string_view name);

// Catalog entry of a host number (1-based).
const CatalogEntry& parameterEntry(int number);
const CatalogEntry& inputEntry(int number);
const CatalogEntry& outputEntry(int number);

// The shortest text that reads back as exactly `value` ("0.3", "-1", "1e-05").
std::string formatNumber(double value);

// "port" + 3 + ".heightA" -> "port3.heightA".
std::string indexed(std::string_view prefix, int index, std::string_view suffix);

}  // namespace plugstore::runner
