// Building blocks for model tests: a valid parameter set, a hand-built plug
// chain and the host's call protocol on a State.
#pragma once

#include <array>
#include <initializer_list>
#include <vector>

#include "host/unit_stores.h"
#include "store/state.h"
#include "support/recording_host.h"

namespace plugstore::test {

using Parameters = std::array<double, kNumParameters>;
using Inputs = std::array<double, kNumInputs>;
using Outputs = std::array<double, kNumOutputs>;

// 300 l store, 1.5 m, 60 degC, 30 ... 100 plugs, T_ref 20 degC, no losses,
// no conductivity, no port, no Hx, no heat input.
Parameters validParameters();

// Parameter n (1-based).
inline double& param(Parameters& p, int n) { return p[static_cast<std::size_t>(n - 1)]; }
inline double& input(Inputs& x, int n) { return x[static_cast<std::size_t>(n - 1)]; }
inline double output(const Outputs& y, int n) { return y[static_cast<std::size_t>(n - 1)]; }

struct PlugSpec {
  double cap;
  double temp;
  int32_t zDown;
  int32_t zUp;
};

// Resets the table and links the given plugs from the bottom up, using
// records 1, 2, ... in order; returns nothing, the chain is in st.plugs.
void buildChain(State& st, std::initializer_list<PlugSpec> plugs);

// Temperatures (bottom to top) of the chain.
std::vector<double> chainTemps(const State& st);
// Record indices (bottom to top) of the chain.
std::vector<int> chainIndices(const State& st);

// Drives a State through the host's protocol, as the stand-in host does; or,
// built on a UnitStores, the stores of one unit as the exported entry does.
class Protocol {
 public:
  Protocol(State& st, RecordingHost& host) : st_(&st), host_(host) {}
  Protocol(UnitStores& stores, int unit, RecordingHost& host)
      : stores_(&stores), unit_(unit), host_(host) {}
  int versionSigning();
  int startOfSimulation();
  int initialCall(Parameters& par);
  int iterativeCall(double time, Parameters& par, Inputs& in, Outputs& out, int iteration = 0);
  int endOfTimeStep(double time, Parameters& par);
  int endOfSimulation(double time, Parameters& par);
  std::array<int, 15> info{};

 private:
  int call(double time, Parameters& par, Inputs& in, Outputs& out);
  State* st_ = nullptr;
  UnitStores* stores_ = nullptr;
  int unit_ = 1;
  RecordingHost& host_;
  Inputs noInputs_{};
  Outputs scratch_{};
};

}  // namespace plugstore::test
