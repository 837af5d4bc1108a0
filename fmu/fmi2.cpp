// The functions of the FMI 2.0 co-simulation interface, each a guard around
// an Instance: no exception leaves them, and a null instance is refused.
#include "fmu/fmi2.h"

#include <exception>
#include <memory>
#include <string>

#include "fmu/instance.h"

using plugstore::fmu::Instance;

namespace {

Instance* instance(fmi2Component c) { return static_cast<Instance*>(c); }

// Runs `f` on the instance; an exception becomes fmi2Error with its reason.
template <typename F>
fmi2Status guarded(fmi2Component c, F f) {
  if (c == nullptr) return fmi2Error;
  try {
    return f(*instance(c));
  } catch (const std::exception& e) {
    return instance(c)->fail(std::string("internal error: ") + e.what());
  } catch (...) {
    return instance(c)->fail("internal error");
  }
}

// Variables of these types: this FMU has none.
fmi2Status noneOfType(fmi2Component c, size_t nvr, const char* call) {
  return guarded(c, [&](Instance& i) {
    return nvr == 0 ? fmi2OK : i.fail(std::string(call) + ": this FMU has Real variables only");
  });
}

}  // namespace

const char* fmi2GetTypesPlatform(void) { return "default"; }
const char* fmi2GetVersion(void) { return "2.0"; }

fmi2Status fmi2SetDebugLogging(fmi2Component c, fmi2Boolean loggingOn, size_t nCategories,
                               const fmi2String categories[]) {
  return guarded(c, [&](Instance& i) {
    i.setLogging(loggingOn != fmi2False, nCategories, categories);
    return fmi2OK;
  });
}

fmi2Component fmi2Instantiate(fmi2String instanceName, fmi2Type fmuType, fmi2String fmuGUID,
                              fmi2String fmuResourceLocation,
                              const fmi2CallbackFunctions* functions, fmi2Boolean /*visible*/,
                              fmi2Boolean loggingOn) {
  if (functions == nullptr) return nullptr;
  try {
    auto made = std::make_unique<Instance>(instanceName != nullptr ? instanceName : "", *functions,
                                           loggingOn != fmi2False);
    if (fmuType != fmi2CoSimulation) {
      made->fail("this FMU is for co-simulation only, not for model exchange");
      return nullptr;
    }
    if (!made->load(fmuResourceLocation != nullptr ? fmuResourceLocation : "",
                    fmuGUID != nullptr ? fmuGUID : "")) {
      return nullptr;
    }
    return made.release();
  } catch (...) {
    return nullptr;
  }
}

void fmi2FreeInstance(fmi2Component c) {
  try {
    delete instance(c);
  } catch (...) {  // nothing can be reported any more
  }
}

fmi2Status fmi2SetupExperiment(fmi2Component c, fmi2Boolean /*toleranceDefined*/,
                               fmi2Real /*tolerance*/, fmi2Real startTime,
                               fmi2Boolean /*stopTimeDefined*/, fmi2Real /*stopTime*/) {
  return guarded(c, [&](Instance& i) { return i.setupExperiment(startTime); });
}

fmi2Status fmi2EnterInitializationMode(fmi2Component c) {
  return guarded(c, [](Instance& i) { return i.enterInitialization(); });
}

fmi2Status fmi2ExitInitializationMode(fmi2Component c) {
  return guarded(c, [](Instance& i) { return i.exitInitialization(); });
}

fmi2Status fmi2Terminate(fmi2Component c) {
  return guarded(c, [](Instance& i) { return i.terminate(); });
}

fmi2Status fmi2Reset(fmi2Component c) {
  return guarded(c, [](Instance& i) { return i.reset(); });
}

fmi2Status fmi2GetReal(fmi2Component c, const fmi2ValueReference vr[], size_t nvr,
                       fmi2Real value[]) {
  return guarded(c, [&](Instance& i) { return i.getReal(vr, nvr, value); });
}

fmi2Status fmi2SetReal(fmi2Component c, const fmi2ValueReference vr[], size_t nvr,
                       const fmi2Real value[]) {
  return guarded(c, [&](Instance& i) { return i.setReal(vr, nvr, value); });
}

fmi2Status fmi2GetInteger(fmi2Component c, const fmi2ValueReference[], size_t nvr, fmi2Integer[]) {
  return noneOfType(c, nvr, "fmi2GetInteger");
}
fmi2Status fmi2GetBoolean(fmi2Component c, const fmi2ValueReference[], size_t nvr, fmi2Boolean[]) {
  return noneOfType(c, nvr, "fmi2GetBoolean");
}
fmi2Status fmi2GetString(fmi2Component c, const fmi2ValueReference[], size_t nvr, fmi2String[]) {
  return noneOfType(c, nvr, "fmi2GetString");
}
fmi2Status fmi2SetInteger(fmi2Component c, const fmi2ValueReference[], size_t nvr,
                          const fmi2Integer[]) {
  return noneOfType(c, nvr, "fmi2SetInteger");
}
fmi2Status fmi2SetBoolean(fmi2Component c, const fmi2ValueReference[], size_t nvr,
                          const fmi2Boolean[]) {
  return noneOfType(c, nvr, "fmi2SetBoolean");
}
fmi2Status fmi2SetString(fmi2Component c, const fmi2ValueReference[], size_t nvr,
                         const fmi2String[]) {
  return noneOfType(c, nvr, "fmi2SetString");
}

// The capability flags say that states cannot be kept, derivatives are not
// given and steps do not run asynchronously.
fmi2Status fmi2GetFMUstate(fmi2Component c, fmi2FMUstate*) {
  return guarded(c, [](Instance& i) { return i.unsupported("fmi2GetFMUstate"); });
}
fmi2Status fmi2SetFMUstate(fmi2Component c, fmi2FMUstate) {
  return guarded(c, [](Instance& i) { return i.unsupported("fmi2SetFMUstate"); });
}
fmi2Status fmi2FreeFMUstate(fmi2Component c, fmi2FMUstate*) {
  return guarded(c, [](Instance& i) { return i.unsupported("fmi2FreeFMUstate"); });
}
fmi2Status fmi2SerializedFMUstateSize(fmi2Component c, fmi2FMUstate, size_t*) {
  return guarded(c, [](Instance& i) { return i.unsupported("fmi2SerializedFMUstateSize"); });
}
fmi2Status fmi2SerializeFMUstate(fmi2Component c, fmi2FMUstate, fmi2Byte[], size_t) {
  return guarded(c, [](Instance& i) { return i.unsupported("fmi2SerializeFMUstate"); });
}
fmi2Status fmi2DeSerializeFMUstate(fmi2Component c, const fmi2Byte[], size_t, fmi2FMUstate*) {
  return guarded(c, [](Instance& i) { return i.unsupported("fmi2DeSerializeFMUstate"); });
}
fmi2Status fmi2GetDirectionalDerivative(fmi2Component c, const fmi2ValueReference[], size_t,
                                        const fmi2ValueReference[], size_t, const fmi2Real[],
                                        fmi2Real[]) {
  return guarded(c, [](Instance& i) { return i.unsupported("fmi2GetDirectionalDerivative"); });
}
fmi2Status fmi2SetRealInputDerivatives(fmi2Component c, const fmi2ValueReference[], size_t,
                                       const fmi2Integer[], const fmi2Real[]) {
  return guarded(c, [](Instance& i) { return i.unsupported("fmi2SetRealInputDerivatives"); });
}
fmi2Status fmi2GetRealOutputDerivatives(fmi2Component c, const fmi2ValueReference[], size_t,
                                        const fmi2Integer[], fmi2Real[]) {
  return guarded(c, [](Instance& i) { return i.unsupported("fmi2GetRealOutputDerivatives"); });
}

fmi2Status fmi2DoStep(fmi2Component c, fmi2Real currentCommunicationPoint,
                      fmi2Real communicationStepSize,
                      fmi2Boolean /*noSetFMUStatePriorToCurrentPoint*/) {
  return guarded(
      c, [&](Instance& i) { return i.doStep(currentCommunicationPoint, communicationStepSize); });
}

fmi2Status fmi2CancelStep(fmi2Component c) {
  return guarded(c, [](Instance& i) { return i.unsupported("fmi2CancelStep"); });
}

fmi2Status fmi2GetStatus(fmi2Component c, const fmi2StatusKind, fmi2Status*) {
  return guarded(c, [](Instance& i) { return i.unsupported("fmi2GetStatus (steps never pend)"); });
}

fmi2Status fmi2GetRealStatus(fmi2Component c, const fmi2StatusKind s, fmi2Real* value) {
  return guarded(c, [&](Instance& i) {
    if (s != fmi2LastSuccessfulTime || value == nullptr) return i.unsupported("fmi2GetRealStatus");
    return i.lastSuccessfulTime(value);
  });
}

fmi2Status fmi2GetIntegerStatus(fmi2Component c, const fmi2StatusKind, fmi2Integer*) {
  return guarded(c, [](Instance& i) { return i.unsupported("fmi2GetIntegerStatus"); });
}

fmi2Status fmi2GetBooleanStatus(fmi2Component c, const fmi2StatusKind s, fmi2Boolean* value) {
  return guarded(c, [&](Instance& i) {
    if (s != fmi2Terminated || value == nullptr) return i.unsupported("fmi2GetBooleanStatus");
    return i.terminated(value);
  });
}

fmi2Status fmi2GetStringStatus(fmi2Component c, const fmi2StatusKind, fmi2String*) {
  return guarded(c, [](Instance& i) { return i.unsupported("fmi2GetStringStatus"); });
}
