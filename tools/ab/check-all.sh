#!/usr/bin/env bash
# The A/B comparison of two builds of the component library over the runs
# that must stay bit-identical: every example, the stand-in host's busy store
# (one and two units, short and long steps, and late enough for the plug-table
# dumps), coils whose steps are cut into sub-steps while a port draws
# (coil-draw.toml beside this file) and the years of the draw-off store, its
# element on a timer and on a thermostat.
#   bash tools/ab/check-all.sh OLD.so NEW.so [--quick]   (--quick: no year)
set -uo pipefail
cd "$(dirname "$0")/../.."
a=$1
b=$2
ab=${AB:-build/plugstore_ab}
status=0
run() {
  echo "== $*"
  "$ab" --a "$a" --b "$b" "$@" | tail -n +2 || status=1
}
for e in examples/*/*.toml; do
  case $e in *.sweep.toml) continue ;; esac  # a parameter sweep, not a scenario
  run "$e"
done
run --busy --hours 240
run --busy --hours 48 --step 0.01
run --busy --two-units --hours 240 --step 1
run --busy --two-units --hours 96 --step 3
run tools/ab/coil-draw.toml
run examples/dhw-draw-off/dhw-draw-off.toml -D simulation.start=1e10 -D simulation.stop=10000000002
if [ "${3:-}" != "--quick" ]; then
  run bench/draw-off-year/draw-off-year.toml
  run bench/heater-year/heater-year.toml
fi
exit $status
