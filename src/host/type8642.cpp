#include "host/type8642.h"

#include <cmath>

#include "host/driver.h"
#include "host/outputs.h"
#include "host/parameters.h"
#include "store/plug_table.h"
#include "store/setup.h"

#ifndef PLUGSTORE_VERSION
#define PLUGSTORE_VERSION "0.0.0"
#endif

namespace plugstore {
namespace {

// info is numbered from 1 in the host's documentation.
int& infoAt(int* info, int n) { return info[n - 1]; }

constexpr int kInterfaceVersion = 16;

void banner(const State& st, HostServices& host, const char* text) {
  if (st.sw.debugLogSwitch != 1) return;
  host.debugLine("========================");
  host.debugLine(listLine(text, st.store.time).view());
  host.debugLine("========================");
}

void startOfSimulation(State& st, HostServices& host, int* info) {
  infoAt(info, 6) = kNumOutputs;
  infoAt(info, 9) = 1;
  infoAt(info, 10) = 0;
  host.typeck(1, info, kNumInputs, kNumParameters, 0);
  st.dumpUnit = host.nextAvailableLogicalUnit();
  TextLine notice;
  notice << "plugstore plug-flow stratified store, Type 8642, version " << componentVersion();
  host.messages(-1, notice.view(), "NOTICE", st.unitCopy, st.typeCopy);
  host.setStorageSize(0, info);
  // Scalar fields of all six records are reset; the CV arrays stay as they are.
  for (HxRecord& hx : st.hx) {
    HxRecord fresh;
    fresh.flowUp = -1;
    fresh.cvExtent = hx.cvExtent;
    fresh.tStore.swap(hx.tStore);
    fresh.uaCv.swap(hx.uaCv);
    fresh.qCv.swap(hx.qCv);
    fresh.tCvOld.swap(hx.tCvOld);
    fresh.tNode.swap(hx.tNode);
    fresh.tWall.swap(hx.tWall);
    fresh.tWallOld.swap(hx.tWallOld);
    fresh.zCv.swap(hx.zCv);
    fresh.tCvCall.swap(hx.tCvCall);
    fresh.tCvAttempt.swap(hx.tCvAttempt);
    fresh.uaCvOld.swap(hx.uaCvOld);
    hx = std::move(fresh);
  }
  st.parametersCurrent = false;  // the Hx records are to be read anew
  // A new simulation has no store until its initial call builds one; the
  // plugs of an earlier one, stopped mid-call perhaps, are not carried on.
  st.stopped = false;
  st.initialised = false;
}

void initialCall(State& st, HostServices& host, const double* par, int* info) {
  st.store.unit = infoAt(info, 1);
  st.store.type = infoAt(info, 2);
  host.label(st.store.dataPath, st.store.unit, 1);
  st.stopped = false;
  st.initialised = false;
  st.sub.noticed = false;
  st.badParameters = !checkParameters(st, host, par);
  if (st.badParameters) return;  // the host stops on a fatal bad parameter
  initialiseStore(st, host);
  st.initialised = true;
}

// The last guard against values that no check foresaw: an output that is not
// a finite number stops the store with a message rather than reaching the
// host's other components unnoticed.
void checkOutputsFinite(State& st, HostServices& host, const double* out) {
  // Finite numbers pass at once: x - x is 0 for them and NaN for an infinity
  // or a NaN. Only the outputs the call wrote count: 1 ... 95, the blocks of
  // the Hx in use from 96 on, and 176 ... 201.
  const int hxEnd = 95 + 10 * hxInUse(st.store);
  if (allFinite(out, hxEnd) && allFinite(out + 175, kNumOutputs - 1 - 175)) return;
  for (int n = 1; n <= kNumOutputs; ++n) {
    if (std::isfinite(out[n - 1]) || !outputWritten(n, hxInUse(st.store))) continue;
    TextLine text;
    text << "Output " << n << " is not a finite number at time " << st.store.time
         << " h: parameters or inputs far out of range";
    fatalStop(st, host, "FATAL", text.view());
  }
}

void iterativeCall(State& st, HostServices& host, const double* xin, double* out) {
  if (st.badParameters || st.stopped || !st.initialised) return;
  restorePlugs(st);
  readInputs(st, host, xin);
  runTimeStep(st, host);
  calculateOutputs(st, host);
  writeOutputs(st, host, out);
  checkOutputsFinite(st, host, out);
  banner(st, host, "DB(STRATVAN): END OF TYPE 8642 ");
}

void endOfTimeStep(State& st, HostServices& host) {
  if (st.initialised && !st.badParameters && !st.stopped) saveStartOfStep(st);
  banner(st, host, "DB(STRATVAN): END OF TIME STEP ");
}

int dispatch(State& st, HostServices& host, double time, const double* xin, double* out,
             const double* par, int* info) {
  (void)host.simulationStartTime();
  (void)host.timestepIteration();
  st.store.dtSec = host.simulationTimeStep() * 3600.0;
  st.store.time = time;
  banner(st, host, "DB(STRATVAN): BEGIN OF TYPE 8642 ");

  readParameters(st, host, par);
  st.unitCopy = infoAt(info, 1);
  st.typeCopy = infoAt(info, 2);

  if (infoAt(info, 7) == -2) {
    infoAt(info, 12) = kInterfaceVersion;
    return 1;
  }
  if (infoAt(info, 8) == -1) {
    releaseHxMemory(st);
    st.initialised = false;  // finished: only a new initial call builds a store again
    return 1;
  }
  if (infoAt(info, 13) > 0) {
    endOfTimeStep(st, host);
    return 1;
  }
  if (infoAt(info, 7) == -1) {
    startOfSimulation(st, host, info);
    return 1;
  }
  const double start = host.simulationStartTime();
  const double step = host.simulationTimeStep();
  // Every rate divides by the step and every flow is multiplied by it: a
  // step outside 1e-6 ... 1e6 h (a few milliseconds ... a century) is no
  // simulation's, and would give infinities or never an initial call.
  if (!(step >= 1e-6 && step <= 1e6)) {
    if (st.stopped) return 1;
    TextLine text;
    text << "Time step of the simulation is out of range (1E-06 ... 1E+06 h): " << step << " h";
    // With this call's own unit and type: before the initial call the store has none.
    host.messages(-1, text.view(), "FATAL", st.unitCopy, st.typeCopy);
    st.stopped = true;
    throw FatalStop{};
  }
  if (time < start + 0.5 * step) {
    initialCall(st, host, par, info);
    return 1;
  }
  iterativeCall(st, host, xin, out);
  return 1;
}

// The host ends the simulation after a fatal message. The store stops at the
// message itself, so that nothing more is calculated from the state the fault
// left, whichever routine sent it.
class StopAtFatal final : public HostServices {
 public:
  explicit StopAtFatal(HostServices& host) : host_(host) {}
  void messages(int errorCode, std::string_view text, std::string_view severity, int unit,
                int type) override {
    host_.messages(errorCode, text, severity, unit, type);
    if (severity == "FATAL" || severity == "Fatal") throw FatalStop{};
  }
  void typeck(int option, int* info, int nInputs, int nParameters, int nDerivatives) override {
    host_.typeck(option, info, nInputs, nParameters, nDerivatives);
  }
  void foundBadParameter(int parameterNumber, std::string_view severity,
                         std::string_view text) override {
    host_.foundBadParameter(parameterNumber, severity, text);
  }
  void setStorageSize(int size, int* info) override { host_.setStorageSize(size, info); }
  int nextAvailableLogicalUnit() override { return host_.nextAvailableLogicalUnit(); }
  void label(std::array<char, 300>& label, int unit, int labelIndex) override {
    host_.label(label, unit, labelIndex);
  }
  double simulationTimeStep() override { return host_.simulationTimeStep(); }
  double simulationStartTime() override { return host_.simulationStartTime(); }
  int timestepIteration() override { return host_.timestepIteration(); }
  void debugLine(std::string_view line) override { host_.debugLine(line); }
  void stdoutLine(std::string_view line) override { host_.stdoutLine(line); }

 private:
  HostServices& host_;
};

}  // namespace

const char* componentVersion() { return PLUGSTORE_VERSION; }

int type8642Call(State& st, HostServices& host, double time, const double* xin, double* out,
                 const double* par, int* info) {
  StopAtFatal guarded(host);
  try {
    return dispatch(st, guarded, time, xin, out, par, info);
  } catch (const FatalStop&) {
    // The fatal message has been sent; nothing more is calculated.
    st.stopped = true;
  } catch (...) {
    // No exception may reach the host; anything unforeseen stops the store.
    st.stopped = true;
    host.messages(-1, "plugstore: internal error, the store stops calculating", "FATAL",
                  st.unitCopy, st.typeCopy);
  }
  return 1;
}

}  // namespace plugstore
