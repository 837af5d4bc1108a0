// The stores of one loaded library, one per unit number the host calls: a
// simulation may hold several units of the component, each its own store.
#pragma once

#include <array>
#include <cstdint>
#include <memory>

#include "host/host_services.h"
#include "store/state.h"

namespace plugstore {

// Units one loaded library serves at once. A further unit gets a "Fatal"
// message at its first call and calculates nothing.
inline constexpr int kMaxUnits = 100;

class UnitStores {
 public:
  // The store of `unit`, or nullptr when it has none.
  State* find(int32_t unit);
  // A fresh store for `unit`; nullptr when all kMaxUnits are taken or memory
  // is short.
  State* create(int32_t unit);
  // Frees the store of `unit`, if it has one.
  void release(int32_t unit);
  [[nodiscard]] int count() const { return count_; }

 private:
  struct Slot {
    int32_t unit = 0;
    std::unique_ptr<State> state;
  };
  std::array<Slot, kMaxUnits> slots_{};
  int count_ = 0;
};

// One call of the component for the unit in info(1): a store is created at the
// unit's version-signing or start-of-simulation call (the only calls that
// allocate one) and released after its end-of-simulation call. Calls of a unit
// without a store calculate nothing. Never throws; returns 1.
int callUnit(UnitStores& stores, HostServices& host, double time, const double* xin, double* out,
             const double* par, int* info);

}  // namespace plugstore
