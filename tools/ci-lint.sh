#!/usr/bin/env bash
# Formatting and static analysis of the component's sources.
set -euo pipefail
cd "$(dirname "$0")/.."

need=()
command -v clang-format >/dev/null 2>&1 || need+=(clang-format)
command -v clang-tidy >/dev/null 2>&1 || need+=(clang-tidy)
if [ ${#need[@]} -gt 0 ]; then
  apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${need[@]}"
fi

mapfile -t sources < <(git ls-files 'src/*.cpp' 'src/*.h' 'standin/*.cpp' 'standin/*.h' \
  'tests/*.cpp' 'tests/*.h' 'tools/*.cpp' 'tools/*.h' 'bench/*.cpp' 'fuzz/*.cpp' \
  'python/*.cpp' 'python/*.h' 'fmu/*.cpp' 'fmu/*.h')
clang-format --dry-run --Werror "${sources[@]}"
echo "clang-format: ${#sources[@]} files clean"

# clang-tidy over the component library, with the compile commands of a build.
cmake -S . -B build-tidy -DCMAKE_EXPORT_COMPILE_COMMANDS=ON -DPLUGSTORE_TESTS=OFF \
  -DPLUGSTORE_BENCHMARKS=OFF >/dev/null
mapfile -t model < <(git ls-files 'src/*.cpp')
clang-tidy -p build-tidy --quiet "${model[@]}" 2>/dev/null
echo "clang-tidy: ${#model[@]} files clean"
