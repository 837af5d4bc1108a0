#include "plugstore/names.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <stdexcept>
#include <vector>

namespace plugstore::runner {

namespace {

char lower(char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); }

int numberIn(const CatalogEntry* e, std::string_view kind, std::string_view name) {
  if (e == nullptr) {
    throw std::logic_error("the catalog has no " + std::string(kind) + " named " +
                           std::string(name));
  }
  return e->number;
}

const CatalogEntry& entryIn(std::span<const CatalogEntry> table, int number) {
  if (number < 1 || static_cast<std::size_t>(number) > table.size()) {
    throw std::out_of_range("no catalog entry " + std::to_string(number));
  }
  return table[static_cast<std::size_t>(number - 1)];
}

}  // namespace

std::size_t editDistance(std::string_view a, std::string_view b) {
  // Three rows of the table: two letters swapped ("setp" for "step") are one
  // slip, not two.
  std::vector<std::size_t> before(b.size() + 1);
  std::vector<std::size_t> above(b.size() + 1);
  std::vector<std::size_t> row(b.size() + 1);
  for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i) {
    before.swap(above);
    above.swap(row);
    row[0] = i;
    for (std::size_t j = 1; j <= b.size(); ++j) {
      const std::size_t cost = lower(a[i - 1]) == lower(b[j - 1]) ? 0 : 1;
      row[j] = std::min({above[j] + 1, row[j - 1] + 1, above[j - 1] + cost});
      if (i > 1 && j > 1 && lower(a[i - 1]) == lower(b[j - 2]) &&
          lower(a[i - 2]) == lower(b[j - 1])) {
        row[j] = std::min(row[j], before[j - 2] + 1);
      }
    }
  }
  return row[b.size()];
}

std::string_view nearestName(std::span<const CatalogEntry> table, std::string_view name) {
  std::string_view best;
  std::size_t bestDistance = 0;
  for (const CatalogEntry& e : table) {
    const std::size_t d = editDistance(name, e.name);
    if (best.empty() || d < bestDistance) {
      best = e.name;
      bestDistance = d;
    }
  }
  return best;
}

std::string unknownNameMessage(std::string_view kind, std::string_view name) {
  std::span<const CatalogEntry> table = parameterCatalog();
  if (kind == "input") table = inputCatalog();
  if (kind == "output") table = outputCatalog();
  std::string text = "unknown " + std::string(kind) + " '" + std::string(name) + "'";
  // A name from another table is a likelier slip than a misspelling.
  const struct {
    std::string_view kind;
    std::string_view article;
    std::string_view where;
    const CatalogEntry* entry;
  } elsewhere[] = {{"parameter", "a", "; set it under [parameters]", findParameter(name)},
                   {"input", "an", "; set it under [inputs]", findInput(name)},
                   {"output", "an", "; choose it under [outputs]", findOutput(name)}};
  for (const auto& other : elsewhere) {
    if (other.entry != nullptr && other.kind != kind) {
      return text + ": it is " + std::string(other.article) + " " + std::string(other.kind) +
             " (number " + std::to_string(other.entry->number) + ")" + std::string(other.where);
    }
  }
  const std::string_view nearest = nearestName(table, name);
  if (!nearest.empty()) text += "; did you mean '" + std::string(nearest) + "'?";
  return text;
}

bool globMatch(std::string_view pattern, std::string_view name) {
  // Iterative matching with one back-tracking point for the last '*'.
  std::size_t p = 0;
  std::size_t n = 0;
  std::size_t star = std::string_view::npos;
  std::size_t resume = 0;
  while (n < name.size()) {
    if (p < pattern.size() && pattern[p] == '*') {
      star = p++;
      resume = n;
    } else if (p < pattern.size() && pattern[p] == name[n]) {
      ++p;
      ++n;
    } else if (star != std::string_view::npos) {
      p = star + 1;
      n = ++resume;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

int parameterNumber(std::string_view name) {
  return numberIn(findParameter(name), "parameter", name);
}
int inputNumber(std::string_view name) { return numberIn(findInput(name), "input", name); }
int outputNumber(std::string_view name) { return numberIn(findOutput(name), "output", name); }

const CatalogEntry& parameterEntry(int number) { return entryIn(parameterCatalog(), number); }
const CatalogEntry& inputEntry(int number) { return entryIn(inputCatalog(), number); }
const CatalogEntry& outputEntry(int number) { return entryIn(outputCatalog(), number); }

std::string formatNumber(double value) {
  std::array<char, 32> buf{};
  const auto r = std::to_chars(buf.data(), buf.data() + buf.size(), value);
  return std::string(buf.data(), r.ptr);
}

std::string indexed(std::string_view prefix, int index, std::string_view suffix) {
  return std::string(prefix) + std::to_string(index) + std::string(suffix);
}

}  // namespace plugstore::runner
