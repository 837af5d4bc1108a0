#!/usr/bin/env bash
# Fuzzing with libFuzzer, AddressSanitizer and UndefinedBehaviorSanitizer:
# the start-profile reader for about a minute, then the whole call of the
# component (parameters, inputs, host settings, calls in any order) for about
# two; then the runner for a minute with scenarios, series and start profiles
# mutated from the examples (fuzz/fuzz_scenarios.py). A crash, a hang, a
# sanitizer report or a broken invariant fails the run.
# Keep every start profile that failed in tests/data/fuzz/ (replayed here as a
# seed, with a test case of its own in the store tests); a failing call
# program gets a test of its own in tests/host/.
#   FUZZ_SECONDS=60 FUZZ_CALL_SECONDS=120 FUZZ_SCENARIO_SECONDS=60 bash tools/ci-fuzz.sh
set -euo pipefail
cd "$(dirname "$0")/.."

JOBS=${JOBS:-2}
dir=build-fuzz

need=()
for p in cmake make clang libclang-rt-14-dev python3 g++ libtomlplusplus-dev libcli11-dev; do
  dpkg -s "$p" >/dev/null 2>&1 || need+=("$p")
done
if [ ${#need[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo=sudo
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${need[@]}"
fi

CC=clang CXX=clang++ cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPLUGSTORE_FUZZ=ON \
  -DPLUGSTORE_WERROR=ON -DPLUGSTORE_TESTS=OFF -DPLUGSTORE_BENCHMARKS=OFF >/dev/null
cmake --build "$dir" -j "$JOBS" --target fuzz_start_profile fuzz_call

# fuzz TARGET SECONDS MAX_LEN SEED_DIR...: new inputs go to a scratch corpus,
# the seeds in the tree stay as they are.
fuzz() {
  local target=$1 seconds=$2 maxLen=$3
  shift 3
  local work="$dir/$target"
  rm -rf "$work"
  mkdir -p "$work/corpus" "$work/artifacts"
  local seeds=()
  for s in "$@"; do [ -d "$s" ] && seeds+=("$s"); done
  if ! "$dir/fuzz/$target" -max_total_time="$seconds" -timeout=30 -rss_limit_mb=2048 \
    -max_len="$maxLen" -print_final_stats=1 -artifact_prefix="$work/artifacts/" \
    "$work/corpus" "${seeds[@]}" >"$work/fuzz.log" 2>&1; then
    tail -n 80 "$work/fuzz.log"
    echo "fuzz: $target FAILED; the failing input is in $work/artifacts/:" >&2
    ls -l "$work/artifacts" >&2
    exit 1
  fi
  grep -E '^(Done|stat::number_of_executed_units|stat::peak_rss_mb)' "$work/fuzz.log" ||
    tail -n 5 "$work/fuzz.log"
  echo "fuzz: $target clean for $seconds s"
}

fuzz fuzz_start_profile "${FUZZ_SECONDS:-60}" 32768 fuzz/corpus tests/data/fuzz
fuzz fuzz_call "${FUZZ_CALL_SECONDS:-120}" 8192 fuzz/corpus-call

# The runner of the README's build (build/), made here if missing.
if [ ! -x build/plugstore ]; then
  cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPLUGSTORE_WERROR=ON >/dev/null
  cmake --build build -j "$JOBS" --target plugstore
fi
/usr/bin/python3 fuzz/fuzz_scenarios.py build/plugstore --seconds "${FUZZ_SCENARIO_SECONDS:-60}" \
  --findings "$dir/scenario-findings"
