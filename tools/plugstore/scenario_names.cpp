// [names]: the names users give to ports, heat exchangers and heat inputs.
#include <algorithm>

#include "plugstore/names.h"
#include "plugstore/scenario_reader.h"

namespace plugstore::runner::reading {

void Parser::names(const toml::table& t, Scenario& s) {
  std::vector<std::string> known;
  for (int d = 1; d <= kNumPorts; ++d) known.push_back(indexed("port", d, ""));
  for (int k = 1; k <= kMaxHx; ++k) known.push_back(indexed("hx", k, ""));
  for (const char* bank : {"heatA", "heatB"}) {
    for (int i = 1; i <= kNumHeatInputs; ++i) known.push_back(indexed(bank, i, ""));
  }
  for (auto&& [key, node] : t) {
    const std::string k(key.str());
    if (std::find(known.begin(), known.end(), k) == known.end()) {
      fail(key.source(), "unknown key '" + k +
                             "' in [names]: ports, heat exchangers and heat inputs are named "
                             "(port1 ... port10, hx1 ... hx6, heatA1 ... heatB10)");
    }
    s.names[k] = string(node, k);
  }
}

}  // namespace plugstore::runner::reading
