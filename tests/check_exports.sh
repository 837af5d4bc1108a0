#!/bin/sh
# The component library must export TYPE8642 alone and carry no definitions
# of the host services, which the host's kernel provides.
set -eu
lib="$1"
defined=$(nm -D --defined-only "$lib" | awk '{print $NF}' | sort)
if [ "$defined" != "TYPE8642" ]; then
  echo "exported symbols of $lib are not TYPE8642 alone:"
  echo "$defined"
  exit 1
fi
for s in MESSAGES TYPECK FOUNDBADPARAMETER SETSTORAGESIZE \
  TRNSYSFUNCTIONS_mp_GETNEXTAVAILABLELOGICALUNIT TRNSYSFUNCTIONS_mp_GETLABEL \
  TRNSYSFUNCTIONS_mp_GETSIMULATIONTIMESTEP TRNSYSFUNCTIONS_mp_GETSIMULATIONSTARTTIME \
  TRNSYSFUNCTIONS_mp_GETTIMESTEPITERATION; do
  if ! nm -D --undefined-only "$lib" | awk '{print $NF}' | grep -qx "$s"; then
    echo "host service $s is not left undefined in $lib"
    exit 1
  fi
done
echo "TYPE8642 is the only export; host services are undefined"
