#include "plugs/diagnostics.h"

#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "store/plug_table.h"

namespace plugstore {

int checkPlugConsistency(const State& st, HostServices& host) {
  const PlugTable& t = st.plugs;
  const Store& s = st.store;
  int ok = 1;
  double sumCap = 0.0;
  const int n = countPlugs(t);
  if (n >= 1) {
    int p = t.first();
    int last = p;
    for (int k = 0; k < n; ++k) {
      sumCap += t[p].Cap;
      last = p;
      p = t[p].iUp;
    }
    if (t[last].zUp != s.zTop) {
      host.debugLine(listLine("TIME=", s.time, " Error last plug not at top zUp(relative)=",
                              t[last].zUp, " MUST BE ", s.zTop)
                         .view());
      ok = 0;
    }
  }
  if (std::fabs(sumCap - s.capTot) > 1e-6) {
    host.debugLine(listLine("TIME=", s.time, " Error in capacities [J/K] sumCap=", sumCap,
                            " capTot ", s.capTot)
                       .view());
    ok = 0;
  }
  return ok;
}

namespace {

constexpr std::size_t kLabelWidth = 32;

// Fixed-point field of width 12 with 6 decimals; a number that does not fit
// fills the field with asterisks.
void putFixed(std::FILE* f, double x) {
  std::array<char, 64> tmp{};
  int len = 0;
  if (std::isnan(x)) {
    len = std::snprintf(tmp.data(), tmp.size(), "%12s", "NaN");
  } else if (std::isinf(x)) {
    len = std::snprintf(tmp.data(), tmp.size(), "%12s", x > 0.0 ? "Infinity" : "-Infinity");
  } else {
    len = std::snprintf(tmp.data(), tmp.size(), "%12.6f", x);
  }
  if (len < 0 || len > 12) {
    std::fputs(" ************", f);
  } else {
    std::fprintf(f, " %s", tmp.data());
  }
}

// Integer field of width 4, asterisks when it does not fit.
void putInt(std::FILE* f, int i, bool leadingBlank) {
  if (leadingBlank) std::fputc(' ', f);
  if (i > 9999 || i < -999) {
    std::fputs("****", f);
  } else {
    std::fprintf(f, "%4d", i);
  }
}

}  // namespace

// The host's logical unit has no meaning for a C stream: the file is opened
// by its path, so the dump unit is not used.
void dumpPlugTable(const State& st, int /*dumpUnit*/, std::string_view label, int dumpSwitch) {
  if (dumpSwitch != -1) return;

  const std::string_view folder =
      trimTrailingBlanks({st.store.dataPath.data(), st.store.dataPath.size()});
  const std::string_view name = trimTrailingBlanks(label.substr(0, kLabelWidth));
  std::array<char, 300 + 1 + kLabelWidth + 16 + 4 + 1> path{};
  std::size_t n = 0;
  for (char c : folder) path[n++] = c;
  path[n++] = '/';
  for (char c : name) path[n++] = c;
  if (st.dumpFileUnit != 0) {
    const int k = std::snprintf(path.data() + n, 17, "_unit%d", st.dumpFileUnit);
    n += k > 0 ? static_cast<std::size_t>(k) : 0U;
  }
  std::memcpy(path.data() + n, ".txt", 4);

  std::FILE* f = std::fopen(path.data(), "w");
  if (f == nullptr) return;  // a diagnostic only: the run goes on without it
  std::fputs(
      " Index   Cap    Temp     Temp0     zDown   zUp   iDown  iUp   Flow    qV     qA    qL \n",
      f);
  std::fputs(
      " Index  KJ/K     \xB0"
      "C       \xB0"
      "C        m       m     -      -    kg/s    [W]    [W]   [W]\n",
      f);

  const PlugTable& t = st.plugs;
  int p = t.first();
  // A damaged chain must not make the dump run for ever.
  for (int k = 0; k < kPlugRecords && p >= 0 && p < kPlugRecords && t[p].Cap > 0.0; ++k) {
    const Plug& q = t[p];
    putInt(f, p, false);
    putFixed(f, q.Cap / 1000.0);
    putFixed(f, q.Temp);
    putFixed(f, q.Temp0);
    putFixed(f, q.zDown / 1000000.0);
    putFixed(f, q.zUp / 1000000.0);
    putInt(f, q.iDown, true);
    putInt(f, q.iUp, true);
    putFixed(f, q.Flow);
    putFixed(f, q.qV);
    putFixed(f, q.qA);
    putFixed(f, q.qL);
    std::fputc('\n', f);
    p = q.iUp;
  }
  std::fclose(f);
}

}  // namespace plugstore
