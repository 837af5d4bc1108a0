// Access to parameters, inputs and outputs by their catalog names, so that
// tests (and anything driving the component) need not know the positions.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

#include "host/catalog.h"
#include "support/fixtures.h"

namespace plugstore::test {

inline int numberOf(const CatalogEntry* e, std::string_view name) {
  if (e == nullptr) throw std::out_of_range("no catalog entry named " + std::string(name));
  return e->number;
}

inline double& param(Parameters& p, std::string_view name) {
  return param(p, numberOf(findParameter(name), name));
}
inline double& input(Inputs& x, std::string_view name) {
  return input(x, numberOf(findInput(name), name));
}
inline double output(const Outputs& y, std::string_view name) {
  return output(y, numberOf(findOutput(name), name));
}

}  // namespace plugstore::test
