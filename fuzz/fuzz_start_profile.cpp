// libFuzzer target: arbitrary bytes as "startProfile.ini" of a store built by
// the set-up with the start-profile switch on, twice, as a repeated initial
// call would. The bytes are written into a scratch folder that the store's
// dataPath names, so the file is found, opened, read and closed as in a run.
// A profile that the set-up accepts must leave a plug chain that every later
// walk can follow, its start-of-step copy, and Hx control volumes filled from
// it; a refused one must stop the run.
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>

#include "plugs/diagnostics.h"
#include "store/plug_table.h"
#include "store/setup.h"

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

void require(bool ok) {
  if (!ok) std::abort();
}

// The scratch folder of this process, removed again when the fuzzer exits.
struct ScratchFolder {
  std::string dir;
  std::string file;
  ScratchFolder() {
    const char* tmp = std::getenv("TMPDIR");
    std::string tmpl =
        std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/plugstore-fuzz-XXXXXX";
    require(mkdtemp(tmpl.data()) != nullptr);
    dir = tmpl;
    file = dir + "/startProfile.ini";
  }
  ~ScratchFolder() {
    std::remove(file.c_str());
    rmdir(dir.c_str());
  }
};

void writeProfile(const std::string& path, const std::uint8_t* data, std::size_t size) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  require(f != nullptr);
  require(size == 0 || std::fwrite(data, 1, size, f) == size);
  require(std::fclose(f) == 0);
}

// A store as the parameter reading leaves it: the switch on, and two heat
// exchangers whose control volumes take their temperatures from the profile.
void prepareStore(State& st, const std::string& dir) {
  Store& s = st.store;
  s.startProfileSwitch = 1;
  s.T_init = 20.0;
  s.T_ref = 10.0;
  s.T_refK = s.T_ref + 273.15;
  s.nHx = 2;
  std::fill(s.dataPath.begin(), s.dataPath.end(), ' ');
  std::copy_n(dir.begin(), std::min(dir.size(), s.dataPath.size()), s.dataPath.begin());
  struct Cv {
    int32_t low, high, n;
  };
  const Cv cv[2] = {{200000, 600000, 7}, {0, kZTop, 40}};
  for (int k = 0; k < 2; ++k) {
    HxRecord& hx = st.hx[static_cast<std::size_t>(k)];
    hx.numberOfHxCv = cv[k].n;
    hx.zHxLow = cv[k].low;
    hx.zHxHigh = cv[k].high;
    hx.dzCv = (cv[k].high - cv[k].low) / cv[k].n;
  }
}

// Sets the store up from the file; checks what an accepted profile leaves.
void setUpOnce(State& st, HostServices& host) {
  st.stopped = false;
  try {
    initialiseStore(st, host);
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
    require(q.Temp0 == q.Temp);
    capTot += q.Cap;
    last = p;
    p = q.iUp;
  }
  require(p == kTopSentinel && t[kTopSentinel].iDown == last);
  require(t[kTopSentinel].Cap == -1.0 && t[kTopSentinel].iUp == kTopSentinel &&
          t[kTopSentinel].Temp == kTopSentinelTemp && t[kBottomSentinel].Cap == -1.0);
  require(st.savedPlugs.first() == t.first() && st.savedPlugs[last].iUp == kTopSentinel);
  for (int k = 0; k < 2; ++k) {
    const HxRecord& hx = st.hx[static_cast<std::size_t>(k)];
    require(hx.cvExtent == hx.numberOfHxCv);
    require(hx.zCv[static_cast<std::size_t>(hx.cvExtent) + 1] == hx.zHxHigh);
  }
  st.store.capTot = capTot;
  checkPlugConsistency(st, host);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const ScratchFolder folder;
  static const auto st = std::make_unique<State>();
  *st = State{};
  prepareStore(*st, folder.dir);
  writeProfile(folder.file, data, size);
  QuietHost host;
  setUpOnce(*st, host);
  setUpOnce(*st, host);  // the read variables, line number and CV arrays survive
  return 0;
}
