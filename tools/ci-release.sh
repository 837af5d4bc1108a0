#!/usr/bin/env bash
# Release builds as a user makes them (CMake's Release type, -O3), here with
# warnings as errors: the component library, the stand-in host and the
# runner, then one example run through the Release runner.
#   bash tools/ci-release.sh             with GCC (what CI runs)
#   bash tools/ci-release.sh gcc clang   with each compiler named
set -euo pipefail
cd "$(dirname "$0")/.."

JOBS=${JOBS:-2}
compilers=("$@")
[ ${#compilers[@]} -gt 0 ] || compilers=(gcc)

need=()
for p in cmake make g++ libtomlplusplus-dev libcli11-dev; do
  dpkg -s "$p" >/dev/null 2>&1 || need+=("$p")
done
for c in "${compilers[@]}"; do
  if [ "$c" = clang ]; then dpkg -s clang >/dev/null 2>&1 || need+=(clang); fi
done
if [ ${#need[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo=sudo
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${need[@]}"
fi

for c in "${compilers[@]}"; do
  case "$c" in
    gcc) cc=gcc cxx=g++ ;;
    clang) cc=clang cxx=clang++ ;;
    *)
      echo "usage: bash tools/ci-release.sh [gcc] [clang]" >&2
      exit 2
      ;;
  esac
  dir=build-release-$c
  CC=$cc CXX=$cxx cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=Release -DPLUGSTORE_WERROR=ON \
    -DPLUGSTORE_TESTS=OFF -DPLUGSTORE_BENCHMARKS=OFF >/dev/null
  cmake --build "$dir" -j "$JOBS" --target type8642 standin_host plugstore >/dev/null
  example=examples/dhw-draw-off/dhw-draw-off.toml
  "$dir/plugstore" run "$example" -o "$dir/dhw-draw-off.csv" 2>"$dir/run.log" || {
    cat "$dir/run.log" >&2
    echo "ci-release: the $c Release runner failed on $example" >&2
    exit 1
  }
  echo "ci-release: $c Release build of the component, stand-in host and runner; $example runs"
done
