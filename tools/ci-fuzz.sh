#!/usr/bin/env bash
# Fuzzing of the start-profile reader: libFuzzer with AddressSanitizer and
# UndefinedBehaviorSanitizer for about a minute. A crash, a hang or a sanitizer
# report fails the run. Keep every input that failed in tests/data/fuzz/: it is
# replayed here as a seed, and gets a test case of its own in the store tests.
set -euo pipefail
cd "$(dirname "$0")/.."

JOBS=${JOBS:-2}
SECONDS_TO_RUN=${FUZZ_SECONDS:-60}
dir=build-fuzz

need=()
for p in cmake make clang libclang-rt-14-dev; do
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
cmake --build "$dir" -j "$JOBS" --target fuzz_start_profile

# New inputs go to a scratch corpus; the seeds in the tree stay as they are.
rm -rf "$dir/corpus" "$dir/artifacts"
mkdir -p "$dir/corpus" "$dir/artifacts"
seeds=(fuzz/corpus)
if [ -d tests/data/fuzz ]; then seeds+=(tests/data/fuzz); fi

log="$dir/fuzz.log"
if ! "$dir/fuzz/fuzz_start_profile" -max_total_time="$SECONDS_TO_RUN" -timeout=10 \
  -rss_limit_mb=2048 -max_len=32768 -print_final_stats=1 \
  -artifact_prefix="$dir/artifacts/" "$dir/corpus" "${seeds[@]}" >"$log" 2>&1; then
  tail -n 80 "$log"
  echo "fuzz: FAILED; the failing input is in $dir/artifacts/:" >&2
  ls -l "$dir/artifacts" >&2
  exit 1
fi
grep -E '^(Done|stat::number_of_executed_units|stat::peak_rss_mb)' "$log" || tail -n 5 "$log"
echo "fuzz: start profile reader clean for ${SECONDS_TO_RUN} s"
