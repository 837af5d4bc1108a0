#!/usr/bin/env bash
# The component as a 64-bit Windows DLL: cross-builds Type8642.dll with
# MinGW-w64, checks its export and import tables, then builds the stand-in host
# for Windows and runs it under Wine against the Linux build.
#   bash tools/ci-windows.sh                  all of it
#   PLUGSTORE_WINE=0 bash tools/ci-windows.sh  without the Wine run
# The Wine run compares with the Linux stand-in of build/ (made if missing), or
# of the build folder named by PLUGSTORE_LINUX_BUILD.
set -euo pipefail
cd "$(dirname "$0")/.."

JOBS=${JOBS:-$(nproc 2>/dev/null || echo 2)}
BUILD=build-mingw
TRIPLE=x86_64-w64-mingw32
KERNEL_DLL=TRNDll64.dll
RUN_WINE=${PLUGSTORE_WINE:-1}
WINE=/usr/lib/wine/wine64
WINESERVER=/usr/lib/wine/wineserver

# ---------------------------------------------------------------- tools
need=()
for p in cmake make g++-mingw-w64-x86-64; do
  dpkg -s "$p" >/dev/null 2>&1 || need+=("$p")
done
if [ "$RUN_WINE" = 1 ]; then
  dpkg -s wine64 >/dev/null 2>&1 || need+=(wine64)
fi
if [ ${#need[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo=sudo
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${need[@]}" \
    >/dev/null
fi

# ---------------------------------------------------------------- cross build
toolchain=()  # read at the first configuration only
[ -f "$BUILD/CMakeCache.txt" ] || toolchain=(-DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake)
cmake -S . -B "$BUILD" "${toolchain[@]}" -DCMAKE_BUILD_TYPE=Release -DPLUGSTORE_WERROR=ON \
  -DPLUGSTORE_TESTS=OFF -DPLUGSTORE_BENCHMARKS=OFF -DPLUGSTORE_HOST_KERNEL_DLL="$KERNEL_DLL" >/dev/null
targets=(type8642 plugstore_fmu)
[ "$RUN_WINE" = 1 ] && targets+=(standin_host)
cmake --build "$BUILD" -j "$JOBS" --target "${targets[@]}" >/dev/null

# ---------------------------------------------------------------- exports, imports
# The host services the DLL may import from the host kernel: the module
# definition made from the ABI header at configure time.
mapfile -t services < <(sed -n '/^EXPORTS/,$p' "$BUILD/host-kernel/${KERNEL_DLL%.*}.def" |
  tail -n +2 | awk 'NF { print $1 }')

# Prints one problem a line; prints nothing for a DLL fit for the host.
dll_problems() {
  local dump
  dump=$("$TRIPLE-objdump" -p "$1")
  grep -q 'file format pei-x86-64' <<<"$dump" || echo "not a 64-bit Windows image"
  awk -v kernel="$KERNEL_DLL" -v services="${services[*]}" '
    BEGIN {
      n = split(services, s, " ")
      for (i = 1; i <= n; ++i) known[s[i]] = 1
      kernel = tolower(kernel)
    }
    # the first such line counts the entries, a later one gives the address
    /^\tExport Address Table[ \t]+[0-9a-fA-F]+$/ && addresses == "" { addresses = $NF }
    /^\[Ordinal\/Name Pointer\] Table/ { inExports = 1; next }
    inExports && /^$/ { inExports = 0 }
    inExports { exported[++nExports] = $NF }
    /^\tDLL Name: / { dll = $3; dlls[dll] = 1; next }
    dll != "" && /^$/ { dll = "" }
    dll != "" && /^\t[0-9a-fA-F]+\t/ {
      if (tolower(dll) == kernel && !($NF in known))
        print "imports " $NF " from " dll ", which is no host service"
    }
    END {
      if (nExports != 1 || exported[1] != "TYPE8642" || addresses !~ /^0*1$/) {
        line = ""
        for (i = 1; i <= nExports; ++i) line = line " " exported[i]
        print "exports" line " (address table " addresses "), not TYPE8642 alone"
      }
      hasKernel = 0
      for (d in dlls) {
        l = tolower(d)
        if (l == kernel) { hasKernel = 1; continue }
        if (l ~ /^(kernel32|msvcrt|ucrtbase|ntdll)\.dll$/ || l ~ /^api-ms-win-(crt|core)-.*\.dll$/)
          continue
        if (l ~ /^(libstdc\+\+|libgcc_s|libwinpthread)/)
          print "imports " d ": a MinGW runtime that should be linked in statically"
        else
          print "imports " d ", neither the host kernel nor a Windows system DLL"
      }
      if (!hasKernel) print "imports nothing from " kernel
    }' <<<"$dump"
}

dll="$BUILD/Type8642.dll"
problems=$(dll_problems "$dll")
if [ -n "$problems" ]; then
  echo "ci-windows: $dll is not fit for the host:" >&2
  sed 's/^/  /' <<<"$problems" >&2
  exit 1
fi
imports=$("$TRIPLE-objdump" -p "$dll" | awk '/^\tDLL Name: / { printf "%s ", $3 }')
echo "ci-windows: $dll exports TYPE8642 alone; imports ${imports% }"

# The FMU's Windows binary: the FMI functions alone, and no DLL but Windows'
# own (the C++ run-time linked in).
fmu_dll="$BUILD/fmu/plugstore.dll"
fmu_dump=$("$TRIPLE-objdump" -p "$fmu_dll")
fmu_exports=$(awk '/^\[Ordinal\/Name Pointer\] Table/ { f = 1; next } f && /^$/ { f = 0 }
  f { print $NF }' <<<"$fmu_dump")
fmu_imports=$(awk '/^\tDLL Name: / { print tolower($3) }' <<<"$fmu_dump")
if grep -qv '^fmi2' <<<"$fmu_exports" || [ "$(grep -c '^fmi2' <<<"$fmu_exports")" -lt 30 ] ||
  grep -Eqv '^(kernel32|msvcrt|ucrtbase|ntdll)\.dll$|^api-ms-win-' <<<"$fmu_imports"; then
  echo "ci-windows: $fmu_dll exports or imports more than the FMU may:" >&2
  echo "$fmu_exports" $'\n'"$fmu_imports" | grep -v '^fmi2' >&2
  exit 1
fi
echo "ci-windows: $fmu_dll exports the $(wc -l <<<"$fmu_exports") FMI functions alone;" \
  "imports $(tr '\n' ' ' <<<"$fmu_imports")"

[ "$RUN_WINE" = 1 ] || exit 0

# The stand-in kernel exports its record's C++ functions as well: the check
# above must refuse it, or it could not refuse anything.
if [ -z "$(dll_problems "$BUILD/$KERNEL_DLL")" ]; then
  echo "ci-windows: the export check accepted the stand-in kernel $KERNEL_DLL" >&2
  exit 1
fi

# ---------------------------------------------------------------- Wine run
# The same simulation through the Linux stand-in and through the Windows one
# under Wine; their reports must agree, numbers to the last printed digit.
# The Linux build is the one of tools/dev.sh, or PLUGSTORE_LINUX_BUILD.
linux=${PLUGSTORE_LINUX_BUILD:-build}
if [ ! -f "$linux/CMakeCache.txt" ]; then
  cmake -S . -B "$linux" -DPLUGSTORE_TESTS=OFF -DPLUGSTORE_BENCHMARKS=OFF >/dev/null
fi
cmake --build "$linux" -j "$JOBS" --target standin_host >/dev/null

out="$BUILD/wine-run"
rm -rf "$out"
mkdir -p "$out"
export WINEPREFIX="$PWD/$BUILD/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
# Ends this prefix's Wine processes, and waits until they are gone.
trap '"$WINESERVER" -k 2>/dev/null; timeout 30 "$WINESERVER" -w 2>/dev/null || true' EXIT
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  timeout 300 "$WINE" wineboot --init >"$out/wineboot.log" 2>&1
  timeout 60 "$WINESERVER" -w
fi

args=(--hours 24 --step 0.25)
set +e
(cd "$linux" && ./standin_host "${args[@]}") >"$out/linux.out" 2>"$out/linux.err"
linux_status=$?
(cd "$BUILD" && timeout 300 "$WINE" ./standin_host.exe "${args[@]}") >"$out/wine.out" \
  2>"$out/wine.err"
wine_status=$?
set -e
sed -i 's/\r$//' "$out/wine.out" "$out/wine.err"

if [ "$linux_status" -ne "$wine_status" ]; then
  echo "ci-windows: exit status $wine_status under Wine, $linux_status on Linux" >&2
  cat "$out/wine.err" >&2
  exit 1
fi

# Compares two reports line by line and word by word; integers must agree,
# other numbers may differ by one unit of their last printed digit plus 1e-9 of
# their size (the two C libraries round and compute exp/log/pow differently).
same_report() {
  awk '
    function numeric(w) { return w ~ /^[-+]?([0-9]+\.?[0-9]*|\.[0-9]+)([eE][-+]?[0-9]+)?$/ }
    function unit(w, m) {
      if (w ~ /[eE]/) {
        m = w; sub(/[eE].*/, "", m)
        return unit(m) * 10 ^ substr(w, match(w, /[eE]/) + 1)
      }
      return index(w, ".") ? 10 ^ -(length(w) - index(w, ".")) : 0
    }
    function strip(w) { sub(/[,;:%)]+$/, "", w); return w }
    FILENAME == ARGV[1] { a[FNR] = $0; na = FNR; next }
    {
      nb = FNR
      if (FNR > na) { print "extra line " FNR ": " $0; bad = 1; next }
      n = split(a[FNR], x, " "); m = split($0, y, " ")
      ok = (n == m)
      for (i = 1; ok && i <= n; ++i) {
        if (x[i] == y[i]) continue
        u = strip(x[i]); v = strip(y[i])
        if (substr(x[i], length(u) + 1) != substr(y[i], length(v) + 1) || !numeric(u) || !numeric(v))
          ok = 0
        else {
          d = u - v; if (d < 0) d = -d
          s = (u < 0 ? -u : u)
          tol = (unit(u) > unit(v) ? unit(u) : unit(v)) + 1e-9 * s
          if (d > tol * (1 + 1e-12)) ok = 0
        }
      }
      if (!ok) { print "line " FNR ": " a[FNR] " | " $0; bad = 1 }
    }
    END {
      if (nb < na) { print "missing lines after " nb; bad = 1 }
      exit bad
    }' "$1" "$2"
}

for stream in out err; do
  if ! diff_lines=$(same_report "$out/linux.$stream" "$out/wine.$stream"); then
    echo "ci-windows: the std$stream of the stand-in host differs under Wine (Linux | Wine):" >&2
    sed 's/^/  /' <<<"$diff_lines" >&2
    exit 1
  fi
done
# Two units of the busy store in one simulation (two ports, a coil on
# correlations, a heat input, conduction and losses; the second unit larger,
# with draws of its own): every output of both units at every step must agree.
# The two C libraries' exp/log/pow differ in the last bits and plug heights are
# truncated to integers, so numbers may differ by 1e-6 of their size plus 1e-9.
busy=(--hours 48 --step 0.25 --busy --two-units --table busy.txt)
set +e
(cd "$linux" && ./standin_host "${busy[@]}") >"$out/linux-busy.out" 2>/dev/null
linux_busy=$?
(cd "$BUILD" && timeout 300 "$WINE" ./standin_host.exe "${busy[@]}") >"$out/wine-busy.out" \
  2>/dev/null
wine_busy=$?
set -e
mv "$linux/busy.txt" "$out/linux-busy.txt" 2>/dev/null || true
mv "$BUILD/busy.txt" "$out/wine-busy.txt" 2>/dev/null || true
sed -i 's/\r$//' "$out/wine-busy.txt" 2>/dev/null || true
if [ "$linux_busy" -ne 0 ] || [ "$wine_busy" -ne 0 ] || [ ! -s "$out/linux-busy.txt" ]; then
  echo "ci-windows: busy store: exit status $wine_busy under Wine, $linux_busy on Linux" >&2
  exit 1
fi
if ! diff_lines=$(awk '
    FILENAME == ARGV[1] { a[FNR] = $0; na = FNR; next }
    {
      nb = FNR
      n = split(a[FNR], x, " "); m = split($0, y, " ")
      if (n != m) { print "line " FNR ": " n " | " m " values"; bad = 1; next }
      for (i = 1; i <= n; ++i) {
        d = x[i] - y[i]; if (d < 0) d = -d
        s = x[i] < 0 ? -x[i] : x[i]
        if (d > 1e-6 * s + 1e-9) {
          print "line " FNR " value " i ": " x[i] " | " y[i]; bad = 1; break
        }
      }
    }
    END { if (nb != na) { print na " | " nb " lines"; bad = 1 } exit bad }' \
    "$out/linux-busy.txt" "$out/wine-busy.txt"); then
  echo "ci-windows: outputs of the busy store differ under Wine (Linux | Wine):" >&2
  head -20 <<<"$diff_lines" >&2
  exit 1
fi
echo "ci-windows: two busy units under Wine agree with Linux in all 202 outputs of each," \
  "$(wc -l <"$out/linux-busy.txt") steps"

if [ ! -s "$out/linux.out" ]; then
  echo "ci-windows: the stand-in host printed nothing" >&2
  exit 1
fi
echo "ci-windows: stand-in host under Wine agrees with Linux ($(wc -l <"$out/linux.out") report" \
  "lines, $(wc -l <"$out/linux.err") message lines, exit status $linux_status):"
sed 's/^/  /' "$out/wine.out"
