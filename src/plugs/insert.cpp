// Inlet insertion: the fluid a port returns becomes one new plug.
#include "plugs/flow.h"
#include "store/plug_table.h"

namespace plugstore {

namespace {

// Places the new plug of port `port` and returns it; `mixes` tells whether the
// mixing of a fixed inlet follows (not for a plug put on top of the stack).
int placeNewPlug(State& st, HostServices& host, const DirectPort& port, bool& mixes) {
  PlugTable& t = st.plugs;
  const int h = highestPlug(t);
  mixes = false;
  if (static_cast<double>(port.zIn) > static_cast<double>(t[h].zUp)) {
    return insertPlugAbove(st, host, h, port.capFlow, port.tIn, t[h].Temp0);
  }
  int b = t.first();
  for (int k = 0; k < kPlugRecords && t[b].Cap > 0.0 && t[b].zUp < port.zIn; ++k) b = t[b].iUp;
  if (t[b].Cap <= 0.0) {
    // Only an empty chain leaves no plug reaching the inlet: start it anew.
    return insertPlugAbove(st, host, h, port.capFlow, port.tIn, t[h].Temp0);
  }
  mixes = true;
  const double temp0 = t[b].Temp0;
  if (t[b].zDown < port.zIn && port.zIn < t[b].zUp) {
    splitPlug(st, host, b, port.zIn);
    return insertPlugAbove(st, host, b, port.capFlow, port.tIn, temp0);
  }
  if (t[b].zDown < port.zIn) {  // the inlet lies on the top of b
    return insertPlugAbove(st, host, b, port.capFlow, port.tIn, temp0);
  }
  return insertPlugAbove(st, host, t[b].iDown, port.capFlow, port.tIn, temp0);
}

// A fixed inlet's plug rises through colder plugs above it, then sinks
// through warmer plugs below it, taking each one's temperature into the mix.
void mixNewPlug(PlugTable& t, int n) {
  double temp = t[n].Temp;
  double cap = t[n].Cap;
  int u = t[n].iUp;
  bool took = false;
  while (temp > t[u].Temp && t[u].Cap > 0.0) {
    temp = (t[u].Temp * t[u].Cap + temp * cap) / (cap + t[u].Cap);
    cap = cap + t[u].Cap;
    u = t[u].iUp;
    took = true;
  }
  if (took) {
    for (int q = n; q != u; q = t[q].iUp) t[q].Temp = temp;
  }

  // The downward pass starts again from the new plug's own capacitance.
  cap = t[n].Cap;
  temp = t[n].Temp;
  int d = t[n].iDown;
  took = false;
  while (temp < t[d].Temp && t[d].Cap > 0.0) {
    temp = (t[d].Temp * t[d].Cap + temp * cap) / (cap + t[d].Cap);
    cap = cap + t[d].Cap;
    d = t[d].iDown;
    took = true;
  }
  if (took) {
    for (int q = n; q != d; q = t[q].iDown) t[q].Temp = temp;
  }
}

}  // namespace

void insertAtInlet(State& st, HostServices& host, int d) {
  DirectPort& port = st.ports[static_cast<std::size_t>(d)];
  PlugTable& t = st.plugs;

  if (port.inletMode == -1) {
    // The fluid goes below the lowest plug warmer than itself, or on top.
    int p = t.first();
    for (int k = 0; k < kPlugRecords && t[p].Cap > 0.0 && !(t[p].Temp > port.tIn); ++k) {
      p = t[p].iUp;
    }
    port.zIn = t[p].Cap > 0.0 ? t[p].zDown : t[highestPlug(t)].zUp;
  }

  bool mixes = false;
  const int n = placeNewPlug(st, host, port, mixes);
  if (mixes && port.inletMode == 0) mixNewPlug(t, n);
}

}  // namespace plugstore
