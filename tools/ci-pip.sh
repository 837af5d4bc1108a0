#!/usr/bin/env bash
# The Python package as a user installs it: `pip install --no-build-isolation .`
# into a fresh virtual environment that sees Debian's packages, then its run
# against the runner of the CMake build (build/, made by tools/dev.sh test).
set -euo pipefail
cd "$(dirname "$0")/.."

need=()
for p in python3-venv python3-pip python3-setuptools python3-pybind11 pybind11-dev python3-dev \
  libtomlplusplus-dev python3-pandas python3-pytest; do
  dpkg -s "$p" >/dev/null 2>&1 || need+=("$p")
done
if [ ${#need[@]} -gt 0 ]; then
  apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${need[@]}" >/dev/null
fi
[ -x build/plugstore ] || { echo "ci-pip: build/plugstore missing (bash tools/dev.sh test)" >&2; exit 1; }

venv=$(mktemp -d /tmp/plugstore-venv.XXXXXX)
trap 'rm -rf "$venv"' EXIT
/usr/bin/python3 -m venv --system-site-packages "$venv"
rm -rf build-pip  # the objects of an earlier build: this one starts afresh
start=$(date +%s)
"$venv/bin/pip" install -q --no-build-isolation . 
echo "ci-pip: pip install --no-build-isolation . took $(($(date +%s) - start)) s"
# From another folder, so that nothing but the installed package is found.
(cd "$venv" && PLUGSTORE_EXE="$OLDPWD/build/plugstore" PLUGSTORE_SOURCE_DIR="$OLDPWD" \
  PYTHONDONTWRITEBYTECODE=1 "$venv/bin/python" -m pytest -q -p no:cacheprovider \
  "$OLDPWD/tests/pip")
