// The exported entry point: a thin adapter that owns the stores of this
// loaded library, one per unit, and binds the model's host interface to the
// host's kernel.
#include <array>
#include <cstdio>
#include <cstring>

#include "host/host_services.h"
#include "host/trnsys_abi.h"
#include "host/unit_stores.h"

namespace {

using plugstore::HostServices;

// Copies a text into a fixed buffer for the host, which takes char* without
// const; no allocation.
template <std::size_t N>
std::size_t copyText(std::array<char, N>& buf, std::string_view text) {
  const std::size_t n = text.size() < N ? text.size() : N;
  std::memcpy(buf.data(), text.data(), n);
  return n;
}

class KernelHost final : public HostServices {
 public:
  void messages(int errorCode, std::string_view text, std::string_view severity, int unit,
                int type) override {
    std::array<char, plugstore::TextLine::kCapacity> msg{};
    std::array<char, 16> sev{};
    const std::size_t nm = copyText(msg, text);
    const std::size_t ns = copyText(sev, severity);
    MESSAGES(&errorCode, msg.data(), sev.data(), &unit, &type, nm, ns);
  }
  void typeck(int option, int* info, int nInputs, int nParameters, int nDerivatives) override {
    TYPECK(&option, info, &nInputs, &nParameters, &nDerivatives);
  }
  void foundBadParameter(int parameterNumber, std::string_view severity,
                         std::string_view text) override {
    std::array<char, plugstore::TextLine::kCapacity> msg{};
    std::array<char, 16> sev{};
    const std::size_t nm = copyText(msg, text);
    const std::size_t ns = copyText(sev, severity);
    FOUNDBADPARAMETER(&parameterNumber, sev.data(), msg.data(), ns, nm);
  }
  void setStorageSize(int size, int* info) override { SETSTORAGESIZE(&size, info); }
  int nextAvailableLogicalUnit() override {
    return TRNSYSFUNCTIONS_mp_GETNEXTAVAILABLELOGICALUNIT();
  }
  void label(std::array<char, 300>& label, int unit, int labelIndex) override {
    label.fill(' ');
    TRNSYSFUNCTIONS_mp_GETLABEL(label.data(), label.size(), &unit, &labelIndex);
  }
  double simulationTimeStep() override { return TRNSYSFUNCTIONS_mp_GETSIMULATIONTIMESTEP(); }
  double simulationStartTime() override { return TRNSYSFUNCTIONS_mp_GETSIMULATIONSTARTTIME(); }
  int timestepIteration() override { return TRNSYSFUNCTIONS_mp_GETTIMESTEPITERATION(); }

  // The debug channel goes to standard error, standard output stays itself.
  void debugLine(std::string_view line) override { writeLine(stderr, line); }
  void stdoutLine(std::string_view line) override { writeLine(stdout, line); }

 private:
  static void writeLine(std::FILE* f, std::string_view line) {
    std::fwrite(line.data(), 1, line.size(), f);
    std::fputc('\n', f);
  }
};

plugstore::UnitStores& unitStores() {
  static plugstore::UnitStores stores;
  return stores;
}

}  // namespace

extern "C" PLUGSTORE_EXPORT int TYPE8642(double* time, double* xin, double* out, double* /*t*/,
                                         double* /*dtdt*/, double* par, int* info,
                                         int* /*icntrl*/) {
  KernelHost host;
  return plugstore::callUnit(unitStores(), host, *time, xin, out, par, info);
}
