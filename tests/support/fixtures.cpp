#include "support/fixtures.h"

#include "host/type8642.h"
#include "store/plug_table.h"

namespace plugstore::test {

Parameters validParameters() {
  Parameters p{};
  param(p, 1) = 0.3;
  param(p, 2) = 1000.0;
  param(p, 3) = 4.18;
  param(p, 4) = 0.0;
  param(p, 5) = 1.5;
  param(p, 6) = 60.0;
  param(p, 7) = 100.0;
  param(p, 8) = 30.0;
  param(p, 9) = 0.1;
  param(p, 11) = 20.0;
  for (int d = 1; d <= kNumPorts; ++d) {
    param(p, 21 + 4 * (d - 1)) = -1.0;
    param(p, 22 + 4 * (d - 1)) = -1.0;
  }
  for (int i = 0; i < kNumSensors; ++i) param(p, 61 + i) = 0.05 + 0.1 * i;
  for (int z = 0; z < kNumZones; ++z) {
    param(p, 71 + 2 * z) = 0.2 * z;
    param(p, 72 + 2 * z) = 0.2 * (z + 1);
  }
  return p;
}

void buildChain(State& st, std::initializer_list<PlugSpec> plugs) {
  PlugTable& t = st.plugs;
  t.touch();  // links written by hand
  for (int i = 1; i < kTopSentinel; ++i) {
    t[i] = Plug{};
  }
  t.freeFrom = 1;
  t[kBottomSentinel] = Plug{};
  t[kBottomSentinel].Temp = kBottomSentinelTemp;
  t[kBottomSentinel].Cap = -1.0;
  t[kBottomSentinel].CapSolver = -1.0;
  t[kTopSentinel] = Plug{};
  t[kTopSentinel].Temp = kTopSentinelTemp;
  t[kTopSentinel].Cap = -1.0;
  t[kTopSentinel].CapSolver = -1.0;
  t[kTopSentinel].iUp = kTopSentinel;
  int below = kBottomSentinel;
  int idx = 1;
  for (const PlugSpec& s : plugs) {
    Plug& p = t[idx];
    p.Cap = s.cap;
    p.CapSolver = s.cap;
    p.Temp = s.temp;
    p.Temp0 = s.temp;
    p.zDown = s.zDown;
    p.zUp = s.zUp;
    p.iDown = below;
    t[below].iUp = idx;
    below = idx;
    ++idx;
  }
  t[below].iUp = kTopSentinel;
  t[kTopSentinel].iDown = below;
}

std::vector<double> chainTemps(const State& st) {
  std::vector<double> out;
  int p = st.plugs.first();
  for (int n = countPlugs(st.plugs); n > 0; --n) {
    out.push_back(st.plugs[p].Temp);
    p = st.plugs[p].iUp;
  }
  return out;
}

std::vector<int> chainIndices(const State& st) {
  std::vector<int> out;
  int p = st.plugs.first();
  for (int n = countPlugs(st.plugs); n > 0; --n) {
    out.push_back(p);
    p = st.plugs[p].iUp;
  }
  return out;
}

int Protocol::call(double time, Parameters& par, Inputs& in, Outputs& out) {
  info[0] = unit_;
  info[1] = 8642;
  if (stores_ != nullptr) {
    return callUnit(*stores_, host_, time, in.data(), out.data(), par.data(), info.data());
  }
  return type8642Call(*st_, host_, time, in.data(), out.data(), par.data(), info.data());
}

int Protocol::versionSigning() {
  Parameters par{};
  info.fill(0);
  info[6] = -2;
  return call(host_.startTimeHours, par, noInputs_, scratch_);
}

int Protocol::startOfSimulation() {
  Parameters par{};
  info.fill(0);
  info[6] = -1;
  return call(host_.startTimeHours, par, noInputs_, scratch_);
}

int Protocol::initialCall(Parameters& par) {
  info.fill(0);
  return call(host_.startTimeHours, par, noInputs_, scratch_);
}

int Protocol::iterativeCall(double time, Parameters& par, Inputs& in, Outputs& out, int iteration) {
  info.fill(0);
  info[6] = iteration;
  return call(time, par, in, out);
}

int Protocol::endOfTimeStep(double time, Parameters& par) {
  info.fill(0);
  info[12] = 1;
  return call(time, par, noInputs_, scratch_);
}

int Protocol::endOfSimulation(double time, Parameters& par) {
  info.fill(0);
  info[7] = -1;
  return call(time, par, noInputs_, scratch_);
}

}  // namespace plugstore::test
