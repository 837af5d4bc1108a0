// libFuzzer target: arbitrary bytes as the start profile of a freshly reset
// store, read twice as a repeated initial call would. A profile that the
// reader accepts must leave a plug chain that every later walk can follow.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string_view>

#include "plugs/diagnostics.h"
#include "store/plug_table.h"
#include "store/profile_reader.h"

namespace {

using namespace plugstore;

// A host that only keeps the texts short: nothing is recorded.
class QuietHost final : public HostServices {
 public:
  void messages(int, std::string_view, std::string_view, int, int) override {}
  void typeck(int, int*, int, int, int) override {}
  void foundBadParameter(int, std::string_view, std::string_view) override {}
  void setStorageSize(int, int*) override {}
  int nextAvailableLogicalUnit() override { return 30; }
  void label(std::array<char, 300>& label, int, int) override { label.fill(' '); }
  double simulationTimeStep() override { return 1.0; }
  double simulationStartTime() override { return 0.0; }
  int timestepIteration() override { return 0; }
  void debugLine(std::string_view) override {}
  void stdoutLine(std::string_view) override {}
};

// The reset that precedes the reader in the set-up.
void resetTable(PlugTable& t) {
  for (int i = 1; i < kTopSentinel; ++i) {
    t[i].Cap = 0.0;
    t[i].CapSolver = 0.0;
  }
  t[kBottomSentinel].Temp = kBottomSentinelTemp;
  t[kBottomSentinel].Cap = t[kBottomSentinel].CapSolver = -1.0;
  t[kBottomSentinel].iUp = 1;
  t[kTopSentinel].Temp = kTopSentinelTemp;
  t[kTopSentinel].Cap = t[kTopSentinel].CapSolver = -1.0;
  t[kTopSentinel].iUp = kTopSentinel;
}

void require(bool ok) {
  if (!ok) std::abort();
}

// Reads the bytes into the table; checks the chain when the reader took it.
void readOnce(State& st, HostServices& host, std::string_view text) {
  resetTable(st.plugs);
  st.stopped = false;
  BufferLines lines(text);
  try {
    readProfileRecords(st, host, lines, "fuzz input");
    checkProfileChain(st, host);
  } catch (const FatalStop&) {
    require(st.stopped);
    return;
  }
  const PlugTable& t = st.plugs;
  const int n = countPlugs(t);
  require(n >= 1 && n < kTopSentinel);
  int p = t.first();
  int last = p;
  double capTot = 0.0;
  for (int k = 0; k < n; ++k) {
    const Plug& q = t[p];
    require(q.iDown >= 0 && q.iDown <= kTopSentinel && q.iUp >= 0 && q.iUp <= kTopSentinel);
    capTot += q.Cap;
    last = p;
    p = q.iUp;
  }
  require(p == kTopSentinel && t[kTopSentinel].iDown == last);
  require(t[kTopSentinel].Cap == -1.0 && t[kTopSentinel].iUp == kTopSentinel &&
          t[kTopSentinel].Temp == kTopSentinelTemp && t[kBottomSentinel].Cap == -1.0);
  st.store.capTot = capTot;
  checkPlugConsistency(st, host);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const auto st = std::make_unique<State>();
  *st = State{};
  QuietHost host;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  readOnce(*st, host, text);
  readOnce(*st, host, text);  // the read variables and line number survive
  return 0;
}
