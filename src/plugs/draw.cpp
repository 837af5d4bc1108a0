// Outlet draw: the fluid a port takes out of the store in one call.
#include "plugs/flow.h"
#include "store/plug_table.h"

namespace plugstore {

namespace {

// Remainders at or below this are rounding, not fluid to draw.
constexpr double kDrawTolerance = 1e-10;

struct Draw {
  double taken = 0.0;   // J/K
  double energy = 0.0;  // J (temperature x capacitance)

  // Takes plug p whole and frees it; returns the plug next in direction `up`.
  int takeWhole(PlugTable& t, int p, bool up) {
    energy += t[p].Temp * t[p].Cap;
    taken += t[p].Cap;
    const int next = up ? t[p].iUp : t[p].iDown;
    unlinkPlug(t, p);
    return next;
  }
};

}  // namespace

double drawAtOutlet(State& st, HostServices& host, double capAbove, double capBelow, int start) {
  PlugTable& t = st.plugs;
  const double total = capAbove + capBelow;
  // Phase 1 unlinks plugs from `start` upwards only, so the plug below it
  // stays in the chain.
  const int below = t[start].iDown;
  Draw d;

  // Phase 1: upwards from the outlet. CapSolver keeps the storage the solver
  // sees for a plug that was only partly drawn.
  if (capAbove > kDrawTolerance) {
    int p = start;
    while (d.taken < capAbove) {
      if (t[p].Cap <= 0.0) break;
      if (t[p].Cap <= capAbove - d.taken) {
        p = d.takeWhole(t, p, true);
      } else {
        const double r = capAbove - d.taken;
        d.energy += r * t[p].Temp;
        t[p].Cap -= r;
        t.noteCap(p);
        d.taken = capAbove;
        break;
      }
    }
  }

  // Phase 2: downwards from the outlet; takes also what phase 1 missed above.
  if (total - d.taken > kDrawTolerance) {
    int p = below;
    while (d.taken < total && t[p].Cap > 0.0) {
      if (t[p].Cap <= total - d.taken) {
        p = d.takeWhole(t, p, false);
      } else {
        const double r = total - d.taken;
        d.energy += r * t[p].Temp;
        t[p].Cap -= r;
        t.noteCap(p);
        d.taken = total;
      }
    }
  }

  // Phase 3: the store below the outlet ran out; upwards from the bottom.
  int stop = t.first();
  if (total - d.taken > kDrawTolerance) {
    int p = t.first();
    while (d.taken < total) {
      if (t[p].Cap <= 0.0) break;
      if (t[p].Cap <= total - d.taken) {
        p = d.takeWhole(t, p, true);
      } else {
        const double r = total - d.taken;
        d.energy += r * t[p].Temp;
        t[p].Cap = t[p].Cap - r;
        t[p].CapSolver = t[p].Cap;
        t.noteCap(p);
        d.taken = total;
      }
    }
    stop = p;
  }

  // Nothing drawn (a zero time step): the outlet sees the fluid at its
  // height instead of 0/0.
  double tMixed = 0.0;
  if (d.taken > 0.0) {
    tMixed = d.energy / d.taken;
  } else if (t[start].Cap > 0.0) {
    tMixed = t[start].Temp;
  } else if (t[below].Cap > 0.0) {
    tMixed = t[below].Temp;
  }
  if (total - d.taken > kDrawTolerance) {
    TextLine text;
    text << "mass flow too large in the top or in the bottom of the store, zDown = "
         << static_cast<int>(t[stop].zDown);
    report(st, host, "FATAL", text.view());
  }
  return tMixed;
}

}  // namespace plugstore
