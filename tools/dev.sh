#!/usr/bin/env bash
# Set-up, build and run on a Debian machine (as root, or with sudo).
#   bash tools/dev.sh demo           build, then run an example into out/ (CSV and PNG)
#   bash tools/dev.sh test           build, then run every test
#   bash tools/dev.sh test-sanitize  the tests again under ASan + UBSan
set -euo pipefail
cd "$(dirname "$0")/.."

JOBS=${JOBS:-$(nproc 2>/dev/null || echo 2)}
PACKAGES=(cmake make g++ libgtest-dev libbenchmark-dev binutils libtomlplusplus-dev libcli11-dev libzip-dev
  python3-matplotlib python3-numpy python3-pytest
  python3-dev pybind11-dev python3-pybind11 python3-pandas python3-distributed python3-tqdm)

deps() {
  local missing=()
  for p in "${PACKAGES[@]}" "$@"; do
    dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
  done
  if [ ${#missing[@]} -gt 0 ]; then
    local sudo=""
    [ "$(id -u)" -eq 0 ] || sudo=sudo
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}"
  fi
}

build() {  # build DIR [cmake options...]
  local dir=$1
  shift
  cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPLUGSTORE_WERROR=ON "$@" >/dev/null
  cmake --build "$dir" -j "$JOBS"
}

case "${1:-}" in
  demo)
    deps
    build build
    mkdir -p out
    ./build/plugstore run examples/solar-summer-day/solar-summer-day.toml \
      -o out/solar-summer-day.csv --plot out/solar-summer-day.png
    ;;
  test)
    deps
    build build
    ctest --test-dir build --output-on-failure -j "$JOBS"
    ;;
  test-sanitize)
    deps
    build build-sanitize -DPLUGSTORE_SANITIZE=ON -DPLUGSTORE_BENCHMARKS=OFF
    ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
      ctest --test-dir build-sanitize --output-on-failure -j "$JOBS"
    ;;
  *)
    echo "usage: bash tools/dev.sh demo|test|test-sanitize" >&2
    exit 2
    ;;
esac
