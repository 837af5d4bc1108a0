#!/usr/bin/env bash
# Writes anew what the runner's tests compare against, after a deliberate
# change of the model or of the catalog:
#   examples/*/reference.csv    the reference output of every example
#   examples/*/plot.png         its picture, for the examples that have one
#   examples/sweep/results.csv  the table of the example sweep, and its plot.png
#   examples/solar-combi/results.csv  the table of the combi store's sweep
#   docs/reference.md           the parameter, input and output tables
#   docs/Type8642.tmf           the proforma for the host's studio
#   docs/solar-summer-day.png   the picture in the README
#
#   bash tools/update_references.sh [BUILD-DIR]     (default: build)
# Review the differences (git diff --stat, and a plot) before committing.
set -euo pipefail
cd "$(dirname "$0")/.."

BUILD=${1:-build}
cmake -S . -B "$BUILD" >/dev/null
cmake --build "$BUILD" -j "${JOBS:-2}" --target plugstore
plugstore="$BUILD/plugstore"

for dir in examples/*/; do
  name=$(basename "$dir")
  [ -f "$dir$name.toml" ] || continue  # a sweep, below
  "$plugstore" run -q "$dir$name.toml" -o "$dir/reference.csv"
  echo "examples/$name/reference.csv"
  # An example whose readme shows its run keeps the picture beside it.
  if [ -f "$dir/plot.png" ]; then
    title=$(sed -n 's/^title = "\(.*\)"$/\1/p' "$dir$name.toml")
    "$plugstore" plot "$dir/reference.csv" -o "$dir/plot.png" --title "$title"
  fi
done

"$plugstore" sweep -q examples/sweep/volume-plugs.sweep.toml -o examples/sweep/results.csv
/usr/bin/python3 examples/sweep/plot.py examples/sweep/results.csv -o examples/sweep/plot.png
echo "examples/sweep/results.csv"
"$plugstore" sweep -q examples/solar-combi/volume-area.sweep.toml -o examples/solar-combi/results.csv
echo "examples/solar-combi/results.csv"

"$plugstore" describe --markdown > docs/reference.md
echo "docs/reference.md"
"$plugstore" proforma -o docs/Type8642.tmf
echo "docs/Type8642.tmf"

"$plugstore" plot examples/solar-summer-day/reference.csv -o docs/solar-summer-day.png \
  --title "Solar store on a summer day (examples/solar-summer-day)"
