// Host services with exactly the host kernel's prototypes.
#include "standin/kernel.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

// Exported, unless the build that links this kernel in keeps them inside
// (the FMU's binary defines the mark empty).
#if !defined(PLUGSTORE_HOST_SERVICE)
#if defined(_WIN32)
#define PLUGSTORE_HOST_SERVICE __declspec(dllexport)
#else
#define PLUGSTORE_HOST_SERVICE __attribute__((visibility("default")))
#endif
#endif
#include "host/trnsys_abi.h"

namespace standin {

namespace {
bool isFatal(const std::string& severity) { return severity == "FATAL" || severity == "Fatal"; }
}  // namespace

Kernel& kernel() {
  static Kernel k;
  return k;
}

void UnitRecord::add(Message m) {
  fatal = fatal || isFatal(m.severity);
  if (keepMessages) messages.push_back(std::move(m));
}

void Kernel::clearRecord() {
  messages.clear();
  fatalCount = 0;
  badParameters.clear();
  typeckCalls = 0;
  setStorageCalls = 0;
}

namespace {
std::string fromHost(const char* s, size_t n) {
  std::string t(s, n);
  while (!t.empty() && (t.back() == ' ' || t.back() == '\0')) t.pop_back();
  return t;
}
}  // namespace

}  // namespace standin

extern "C" {

void MESSAGES(int* errorCode, char* message, char* severity, int* unit, int* type,
              size_t messageLen, size_t severityLen) {
  auto& k = standin::kernel();
  standin::Message m{*errorCode, standin::fromHost(message, messageLen),
                     standin::fromHost(severity, severityLen), *unit, *type};
  if (k.echo) {
    std::fprintf(stderr, "*** %-8s unit %d type %d: %s\n", m.severity.c_str(), m.unit, m.type,
                 m.text.c_str());
  }
  if (standin::isFatal(m.severity)) ++k.fatalCount;
  if (k.current != nullptr) k.current->add(m);
  k.messages.push_back(std::move(m));
}

void TYPECK(int* /*option*/, int* /*info*/, int* nInputs, int* nParameters, int* nDerivatives) {
  auto& k = standin::kernel();
  ++k.typeckCalls;
  k.typeckInputs = *nInputs;
  k.typeckParameters = *nParameters;
  k.typeckDerivatives = *nDerivatives;
}

void FOUNDBADPARAMETER(int* parameterNumber, char* severity, char* message, size_t severityLen,
                       size_t messageLen) {
  auto& k = standin::kernel();
  standin::BadParameter b{*parameterNumber, standin::fromHost(severity, severityLen),
                          standin::fromHost(message, messageLen)};
  if (k.echo) {
    std::fprintf(stderr, "*** %-8s bad parameter %d: %s\n", b.severity.c_str(), b.number,
                 b.text.c_str());
  }
  if (k.current != nullptr) k.current->badParameters.push_back(b);
  k.badParameters.push_back(std::move(b));
}

void SETSTORAGESIZE(int* /*size*/, int* /*info*/) { ++standin::kernel().setStorageCalls; }

int TRNSYSFUNCTIONS_mp_GETNEXTAVAILABLELOGICALUNIT(void) { return standin::kernel().nextUnit++; }

void TRNSYSFUNCTIONS_mp_GETLABEL(char* label, size_t labelLen, int* /*unit*/, int* labelIndex) {
  std::memset(label, ' ', labelLen);
  if (*labelIndex != 1) return;
  const auto& k = standin::kernel();
  const std::string& l = k.currentLabel != nullptr ? *k.currentLabel : k.label1;
  std::memcpy(label, l.data(), std::min(labelLen, l.size()));
}

double TRNSYSFUNCTIONS_mp_GETSIMULATIONTIMESTEP(void) { return standin::kernel().timeStep; }
double TRNSYSFUNCTIONS_mp_GETSIMULATIONSTARTTIME(void) { return standin::kernel().startTime; }
int TRNSYSFUNCTIONS_mp_GETTIMESTEPITERATION(void) { return standin::kernel().iteration; }

}  // extern "C"
