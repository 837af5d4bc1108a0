#include "host/unit_stores.h"

#include <new>

#include "host/type8642.h"

namespace plugstore {

State* UnitStores::find(int32_t unit) {
  for (Slot& s : slots_) {
    if (s.state != nullptr && s.unit == unit) return s.state.get();
  }
  return nullptr;
}

State* UnitStores::create(int32_t unit) {
  for (Slot& s : slots_) {
    if (s.state != nullptr) continue;
    // Value-initialised, as the one static store of a library was.
    s.state.reset(new (std::nothrow) State());
    if (s.state == nullptr) return nullptr;
    s.unit = unit;
    ++count_;
    return s.state.get();
  }
  return nullptr;
}

void UnitStores::release(int32_t unit) {
  for (Slot& s : slots_) {
    if (s.state != nullptr && s.unit == unit) {
      s.state.reset();
      --count_;
      return;
    }
  }
}

int callUnit(UnitStores& stores, HostServices& host, double time, const double* xin, double* out,
             const double* par, int* info) {
  // info is numbered from 1 in the host's documentation: info(n) is info[n - 1].
  const int32_t unit = info[0];
  const bool signing = info[6] == -2;
  const bool endOfSimulation = !signing && info[7] == -1;
  const bool startOfSimulation = !signing && !endOfSimulation && info[12] <= 0 && info[6] == -1;

  State* st = stores.find(unit);
  if (st == nullptr && (signing || startOfSimulation)) {
    st = stores.create(unit);
    if (st == nullptr) {
      TextLine text;
      text << "Unit " << unit << " gets no store: one loaded library serves at most " << kMaxUnits
           << " units of Type 8642, or memory is short";
      host.messages(-1, text.view(), "Fatal", unit, info[1]);
      return 1;
    }
  }
  if (st == nullptr) return 1;  // never set up, or past the bound (reported)

  // Dump files of several stores in one folder must not replace each other.
  st->dumpFileUnit = stores.count() > 1 ? unit : 0;
  const int result = type8642Call(*st, host, time, xin, out, par, info);
  if (endOfSimulation) stores.release(unit);
  return result;
}

}  // namespace plugstore
