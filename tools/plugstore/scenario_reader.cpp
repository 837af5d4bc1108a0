// The helpers every section reader shares: TOML types and keys in messages.
#include "plugstore/scenario_reader.h"

#include "plugstore/names.h"

namespace plugstore::runner::reading {

std::string typeName(const toml::node& n) {
  switch (n.type()) {
    case toml::node_type::string:
      return "a string";
    case toml::node_type::integer:
      return "an integer";
    case toml::node_type::floating_point:
      return "a number";
    case toml::node_type::boolean:
      return "a boolean";
    case toml::node_type::table:
      return "a table";
    case toml::node_type::array:
      return "an array";
    default:
      return "a date or time";
  }
}

std::string keyList(Keys keys) {
  std::string text;
  for (std::string_view k : keys) text += (text.empty() ? "" : ", ") + std::string(k);
  return text;
}

std::string_view nearestKey(std::string_view key, Keys keys) {
  std::string_view best;
  std::size_t bestDistance = 0;
  for (std::string_view k : keys) {
    const std::size_t d = editDistance(key, k);
    if (best.empty() || d < bestDistance) {
      best = k;
      bestDistance = d;
    }
  }
  return best;
}

}  // namespace plugstore::runner::reading
