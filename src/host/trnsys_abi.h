// The host's binary interface, from the component's side. This is the only
// place that knows it: all arguments by reference, character lengths trailing
// by value, strings not NUL-terminated.
//
// The declarations below marked PLUGSTORE_HOST_SERVICE are the one list of
// the host services: the Windows build reads their names from here for the
// import library of the host's kernel, so each must begin its line with the
// macro and name the routine before its first '('.
#pragma once

#include <cstddef>

#if defined(_WIN32)
#define PLUGSTORE_EXPORT __declspec(dllexport)
#define PLUGSTORE_IMPORT __declspec(dllimport)
#else
#define PLUGSTORE_EXPORT __attribute__((visibility("default")))
#define PLUGSTORE_IMPORT
#endif

// Services of the host's kernel library.
#ifndef PLUGSTORE_HOST_SERVICE
#define PLUGSTORE_HOST_SERVICE PLUGSTORE_IMPORT
#endif

extern "C" {

PLUGSTORE_HOST_SERVICE void MESSAGES(int* errorCode, char* message, char* severity, int* unit,
                                     int* type, size_t messageLen, size_t severityLen);
PLUGSTORE_HOST_SERVICE void TYPECK(int* option, int* info, int* nInputs, int* nParameters,
                                   int* nDerivatives);
PLUGSTORE_HOST_SERVICE void FOUNDBADPARAMETER(int* parameterNumber, char* severity, char* message,
                                              size_t severityLen, size_t messageLen);
PLUGSTORE_HOST_SERVICE void SETSTORAGESIZE(int* size, int* info);
PLUGSTORE_HOST_SERVICE int TRNSYSFUNCTIONS_mp_GETNEXTAVAILABLELOGICALUNIT(void);
// Fills 300 blank-padded characters.
PLUGSTORE_HOST_SERVICE void TRNSYSFUNCTIONS_mp_GETLABEL(char* label, size_t labelLen, int* unit,
                                                        int* labelIndex);
PLUGSTORE_HOST_SERVICE double TRNSYSFUNCTIONS_mp_GETSIMULATIONTIMESTEP(void);
PLUGSTORE_HOST_SERVICE double TRNSYSFUNCTIONS_mp_GETSIMULATIONSTARTTIME(void);
PLUGSTORE_HOST_SERVICE int TRNSYSFUNCTIONS_mp_GETTIMESTEPITERATION(void);

// The component's single entry point.
PLUGSTORE_EXPORT int TYPE8642(double* time, double* xin, double* out, double* t, double* dtdt,
                              double* par, int* info, int* icntrl);

}  // extern "C"

// Signature of the entry point, for hosts that load it at run time.
using Type8642Fn = int (*)(double*, double*, double*, double*, double*, double*, int*, int*);
