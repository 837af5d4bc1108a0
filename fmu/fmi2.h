// The C interface of a co-simulation unit of the FMI 2.0 standard: its types
// and the functions a master calls, with the platform's default types
// ("default" types platform). Written from the standard's text; the
// functions of model exchange are not part of this unit.
#pragma once

#include <cstddef>

#if defined(_WIN32)
#define FMI2_EXPORT extern "C" __declspec(dllexport)
#else
#define FMI2_EXPORT extern "C" __attribute__((visibility("default")))
#endif

extern "C" {

using fmi2Component = void*;
using fmi2ComponentEnvironment = void*;
using fmi2FMUstate = void*;
using fmi2ValueReference = unsigned int;
using fmi2Real = double;
using fmi2Integer = int;
using fmi2Boolean = int;
using fmi2Char = char;
using fmi2String = const fmi2Char*;
using fmi2Byte = char;

constexpr fmi2Boolean fmi2True = 1;
constexpr fmi2Boolean fmi2False = 0;

enum fmi2Status { fmi2OK, fmi2Warning, fmi2Discard, fmi2Error, fmi2Fatal, fmi2Pending };
enum fmi2Type { fmi2ModelExchange, fmi2CoSimulation };
enum fmi2StatusKind { fmi2DoStepStatus, fmi2PendingStatus, fmi2LastSuccessfulTime, fmi2Terminated };

using fmi2CallbackLogger = void (*)(fmi2ComponentEnvironment, fmi2String instanceName,
                                    fmi2Status status, fmi2String category, fmi2String message,
                                    ...);
using fmi2CallbackAllocateMemory = void* (*)(size_t nobj, size_t size);
using fmi2CallbackFreeMemory = void (*)(void* obj);
using fmi2StepFinished = void (*)(fmi2ComponentEnvironment, fmi2Status status);

struct fmi2CallbackFunctions {
  fmi2CallbackLogger logger;
  fmi2CallbackAllocateMemory allocateMemory;
  fmi2CallbackFreeMemory freeMemory;
  fmi2StepFinished stepFinished;
  fmi2ComponentEnvironment componentEnvironment;
};

}  // extern "C"

// Common to both kinds of unit.
FMI2_EXPORT const char* fmi2GetTypesPlatform(void);
FMI2_EXPORT const char* fmi2GetVersion(void);
FMI2_EXPORT fmi2Status fmi2SetDebugLogging(fmi2Component c, fmi2Boolean loggingOn,
                                           size_t nCategories, const fmi2String categories[]);
FMI2_EXPORT fmi2Component fmi2Instantiate(fmi2String instanceName, fmi2Type fmuType,
                                          fmi2String fmuGUID, fmi2String fmuResourceLocation,
                                          const fmi2CallbackFunctions* functions,
                                          fmi2Boolean visible, fmi2Boolean loggingOn);
FMI2_EXPORT void fmi2FreeInstance(fmi2Component c);
FMI2_EXPORT fmi2Status fmi2SetupExperiment(fmi2Component c, fmi2Boolean toleranceDefined,
                                           fmi2Real tolerance, fmi2Real startTime,
                                           fmi2Boolean stopTimeDefined, fmi2Real stopTime);
FMI2_EXPORT fmi2Status fmi2EnterInitializationMode(fmi2Component c);
FMI2_EXPORT fmi2Status fmi2ExitInitializationMode(fmi2Component c);
FMI2_EXPORT fmi2Status fmi2Terminate(fmi2Component c);
FMI2_EXPORT fmi2Status fmi2Reset(fmi2Component c);
FMI2_EXPORT fmi2Status fmi2GetReal(fmi2Component c, const fmi2ValueReference vr[], size_t nvr,
                                   fmi2Real value[]);
FMI2_EXPORT fmi2Status fmi2GetInteger(fmi2Component c, const fmi2ValueReference vr[], size_t nvr,
                                      fmi2Integer value[]);
FMI2_EXPORT fmi2Status fmi2GetBoolean(fmi2Component c, const fmi2ValueReference vr[], size_t nvr,
                                      fmi2Boolean value[]);
FMI2_EXPORT fmi2Status fmi2GetString(fmi2Component c, const fmi2ValueReference vr[], size_t nvr,
                                     fmi2String value[]);
FMI2_EXPORT fmi2Status fmi2SetReal(fmi2Component c, const fmi2ValueReference vr[], size_t nvr,
                                   const fmi2Real value[]);
FMI2_EXPORT fmi2Status fmi2SetInteger(fmi2Component c, const fmi2ValueReference vr[], size_t nvr,
                                      const fmi2Integer value[]);
FMI2_EXPORT fmi2Status fmi2SetBoolean(fmi2Component c, const fmi2ValueReference vr[], size_t nvr,
                                      const fmi2Boolean value[]);
FMI2_EXPORT fmi2Status fmi2SetString(fmi2Component c, const fmi2ValueReference vr[], size_t nvr,
                                     const fmi2String value[]);
FMI2_EXPORT fmi2Status fmi2GetFMUstate(fmi2Component c, fmi2FMUstate* state);
FMI2_EXPORT fmi2Status fmi2SetFMUstate(fmi2Component c, fmi2FMUstate state);
FMI2_EXPORT fmi2Status fmi2FreeFMUstate(fmi2Component c, fmi2FMUstate* state);
FMI2_EXPORT fmi2Status fmi2SerializedFMUstateSize(fmi2Component c, fmi2FMUstate state,
                                                  size_t* size);
FMI2_EXPORT fmi2Status fmi2SerializeFMUstate(fmi2Component c, fmi2FMUstate state,
                                             fmi2Byte serializedState[], size_t size);
FMI2_EXPORT fmi2Status fmi2DeSerializeFMUstate(fmi2Component c, const fmi2Byte serializedState[],
                                               size_t size, fmi2FMUstate* state);
FMI2_EXPORT fmi2Status fmi2GetDirectionalDerivative(fmi2Component c,
                                                    const fmi2ValueReference vUnknown_ref[],
                                                    size_t nUnknown,
                                                    const fmi2ValueReference vKnown_ref[],
                                                    size_t nKnown, const fmi2Real dvKnown[],
                                                    fmi2Real dvUnknown[]);

// Co-simulation.
FMI2_EXPORT fmi2Status fmi2SetRealInputDerivatives(fmi2Component c, const fmi2ValueReference vr[],
                                                   size_t nvr, const fmi2Integer order[],
                                                   const fmi2Real value[]);
FMI2_EXPORT fmi2Status fmi2GetRealOutputDerivatives(fmi2Component c, const fmi2ValueReference vr[],
                                                    size_t nvr, const fmi2Integer order[],
                                                    fmi2Real value[]);
FMI2_EXPORT fmi2Status fmi2DoStep(fmi2Component c, fmi2Real currentCommunicationPoint,
                                  fmi2Real communicationStepSize,
                                  fmi2Boolean noSetFMUStatePriorToCurrentPoint);
FMI2_EXPORT fmi2Status fmi2CancelStep(fmi2Component c);
FMI2_EXPORT fmi2Status fmi2GetStatus(fmi2Component c, const fmi2StatusKind s, fmi2Status* value);
FMI2_EXPORT fmi2Status fmi2GetRealStatus(fmi2Component c, const fmi2StatusKind s, fmi2Real* value);
FMI2_EXPORT fmi2Status fmi2GetIntegerStatus(fmi2Component c, const fmi2StatusKind s,
                                            fmi2Integer* value);
FMI2_EXPORT fmi2Status fmi2GetBooleanStatus(fmi2Component c, const fmi2StatusKind s,
                                            fmi2Boolean* value);
FMI2_EXPORT fmi2Status fmi2GetStringStatus(fmi2Component c, const fmi2StatusKind s,
                                           fmi2String* value);
