#!/usr/bin/env bash
# What a thermostat costs over a year at one-minute steps: runs the year with
# the element on a thermostat and on a fixed schedule, alternately, ROUNDS
# times each, and prints the user CPU time of every run and the ratio of the
# sums; then checks the thermostat's year: account closed, no warning, no
# temperature above 62 degC.
#   bash bench/control-year/compare.sh [BUILD-DIR] [ROUNDS]    (default: build 2)
set -euo pipefail
cd "$(dirname "$0")"
BUILD=$(cd "../../${1:-build}" && pwd)
ROUNDS=${2:-2}
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

for ((r = 1; r <= ROUNDS; r++)); do
  for name in thermostat schedule; do
    # exit status 3 (a warning) must not end the comparison; it is judged below
    /usr/bin/time -f "$name %U" -a -o "$out/times" "$BUILD/plugstore" run -q "$name.toml" \
      -o "$out/$name.csv" --summary "$out/$name.json" || true
    tail -1 "$out/times"
  done
done

/usr/bin/python3 - "$out" <<'PY'
import csv, json, sys
out = sys.argv[1]
total = {"thermostat": 0.0, "schedule": 0.0}
for line in open(f"{out}/times"):
    name, seconds = line.split()
    total[name] += float(seconds)
print(f"thermostat / schedule (user time): {total['thermostat'] / total['schedule']:.3f}")
summary = json.load(open(f"{out}/thermostat.json"))
hottest = 0.0
with open(f"{out}/thermostat.csv") as f:
    rows = csv.reader(f)
    header = next(rows)
    cols = [i for i, n in enumerate(header) if n.startswith(("profile.", "sensor")) or n.endswith("outletTemperature")]
    for row in rows:
        hottest = max(hottest, max(float(row[i]) for i in cols))
t = summary["tapping"]
print(f"thermostat year: unexplained {summary['account']['unexplained']:.2e} kWh, "
      f"{summary['warnings']} warnings, hottest {hottest:.2f} degC; tappings asked "
      f"{t['asked']:.3f} kWh, short {t['short']:.3f} kWh")
ok = summary["account"]["closes"] and summary["warnings"] == 0 and hottest <= 62.0
sys.exit(0 if ok else 1)
PY
