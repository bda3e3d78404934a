#!/usr/bin/env bash
# Footprint of the router build: stripped sizes of libbrim.so and brim_init, and what they need
# at run time. Fails when either needs anything but the C library, libcjson, libmosquitto and
# libgcc_s (libstdc++ above all). The size of libbrim.so is printed against its flash budget as a
# ratio; beyond 1.0 it warns, or fails with BRIM_FOOTPRINT_STRICT=1.
# Usage: footprint.sh BUILD_DIR [TOOL_PREFIX]   (TOOL_PREFIX defaults to mipsel-linux-gnu-)
set -euo pipefail
build=${1:?usage: footprint.sh BUILD_DIR [TOOL_PREFIX]}
prefix=${2-mipsel-linux-gnu-}
strict=${BRIM_FOOTPRINT_STRICT:-0}
budget_lib=$((96 * 1024))
allowed='^(libc\.so(\.[0-9]+)?|libcjson\.so\.1|libmosquitto\.so\.1|libgcc_s\.so\.1)$'

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
bad=0
for f in libbrim.so brim_init; do
  [ -f "$build/$f" ] || { echo "footprint: $build/$f missing"; exit 1; }
  "${prefix}strip" --strip-all -o "$tmp/$f" "$build/$f"
  size=$(stat -c %s "$tmp/$f")
  needed=$("${prefix}readelf" -d "$build/$f" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' | tr '\n' ' ')
  printf '%-11s %8d bytes stripped (%6.1f KiB)  needs: %s\n' "$f" "$size" "$(awk -v s="$size" 'BEGIN { print s / 1024 }')" "$needed"
  for n in $needed; do
    if ! [[ $n =~ $allowed ]]; then
      echo "footprint: $f needs $n at run time"
      bad=1
    fi
  done
  if [ "$f" = libbrim.so ]; then
    ratio=$(awk -v s="$size" -v b="$budget_lib" 'BEGIN { printf "%.3f", s / b }')
    echo "libbrim.so  budget $budget_lib bytes: ratio $ratio"
    if [ "$size" -gt "$budget_lib" ]; then
      if [ "$strict" = 1 ]; then
        echo "footprint: libbrim.so is over its budget"
        bad=1
      else
        echo "footprint: WARNING libbrim.so is over its budget (fails with BRIM_FOOTPRINT_STRICT=1)"
      fi
    fi
  fi
done
exit $bad
