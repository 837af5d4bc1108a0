#include "host/driver.h"

#include "plugs/diagnostics.h"
#include "plugs/flow.h"
#include "solver/solver.h"
#include "store/plug_table.h"

namespace plugstore {

namespace {

// Plug-table dumps are taken only from this simulation time (hours) on.
constexpr double kDumpFromTime = 1e10;

// A heat input acts when it sits inside the store and delivers heat.
bool anyHeatInput(const Store& s) {
  for (int i = 0; i < kNumHeatInputs; ++i) {
    const auto ui = static_cast<std::size_t>(i);
    if (s.zHeatA[ui] > 0.0 && s.qHeatA[ui] != 0.0) return true;
    if (s.zHeatB[ui] > 0.0 && s.qHeatB[ui] != 0.0) return true;
  }
  return false;
}

}  // namespace

void runTimeStep(State& st, HostServices& host) {
  Store& s = st.store;
  st.sw.dumpSwitch = s.time >= kDumpFromTime ? -1 : 0;
  dumpPlugTable(st, st.dumpUnit, "00_start", st.sw.dumpSwitch);

  calculateFlow(st, host);

  st.bal.dtSec = s.dtSec;
  const int n = countPlugs(st.plugs);
  s.nPlugsSolver = n;

  // Conduction, losses, heat exchangers and heat inputs; without any of them
  // the plugs keep the temperatures the flow left.
  if (s.lambda > 0.0 || s.sumUApar > 0.0 || hxInUse(s) > 0 || anyHeatInput(s)) {
    solveCondHx(st, host, n, st.bal.dtSec);
  }
  dumpPlugTable(st, st.dumpUnit, "70_afterDiffuse", st.sw.dumpSwitch);

  // Heating may leave a plug warmer than the one above: mix them.
  if ((s.cleanSwitch & 1) != 0) sortPlugs(st, host, 0);
  dumpPlugTable(st, st.dumpUnit, "80_afterMix", st.sw.dumpSwitch);
}

}  // namespace plugstore
