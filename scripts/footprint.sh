#!/usr/bin/env bash
# Footprint of the router build: the stripped sizes of libbrim.so and brim_init, what they need at
# run time, their total against the flash budget, and the 15 largest functions. The platform's
# libraries (libapmib.so, libvzmqtt.so) are the firmware's and are not counted. Fails when a binary
# needs anything but the C library, libgcc_s, cJSON, libmosquitto, the platform and libbrim itself
# (libstdc++ above all), or, with BRIM_FOOTPRINT_STRICT=1, when the total is over the budget.
# Usage: footprint.sh BUILD_DIR [TOOL_PREFIX]   (TOOL_PREFIX defaults to mipsel-linux-gnu-)
set -euo pipefail
build=${1:?usage: footprint.sh BUILD_DIR [TOOL_PREFIX]}
prefix=${2-mipsel-linux-gnu-}
strict=${BRIM_FOOTPRINT_STRICT:-0}
budget=$((64 * 1024))
allowed='^(libc\.so(\.[0-9]+)?|libgcc_s\.so\.1|libcjson\.so\.1|libmosquitto\.so\.1|libapmib\.so|libvzmqtt\.so|libbrim\.so\.0)$'

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
bad=0
total=0
for f in libbrim.so brim_init; do
  [ -f "$build/$f" ] || { echo "footprint: $build/$f missing"; exit 1; }
  "${prefix}strip" --strip-all -o "$tmp/$f" "$build/$f"
  size=$(stat -c %s "$tmp/$f")
  total=$((total + size))
  needed=$("${prefix}readelf" -d "$build/$f" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' | tr '\n' ' ')
  printf '%-11s %8d bytes stripped (%5.1f KiB)  needs: %s\n' "$f" "$size" "$(awk -v s="$size" 'BEGIN { print s / 1024 }')" "$needed"
  for n in $needed; do
    if ! [[ $n =~ $allowed ]]; then
      echo "footprint: $f needs $n at run time"
      bad=1
    fi
  done
done
printf '%-11s %8d bytes, budget %d (64 KiB): ratio %s\n' total "$total" "$budget" \
  "$(awk -v s="$total" -v b="$budget" 'BEGIN { printf "%.3f", s / b }')"
echo "largest functions (bytes, in the unstripped binaries):"
for f in libbrim.so brim_init; do
  "${prefix}nm" --size-sort -S -C "$build/$f" | while read -r _ sz kind name; do
    case $kind in t | T | w | W) printf '%d %s %s\n' "$((16#$sz))" "$f" "$name" ;; esac
  done
done | sort -k1,1nr | awk 'NR <= 15 { n = $3; for (i = 4; i <= NF; i++) n = n " " $i; printf "  %6d  %-10s %s\n", $1, $2, n }'
if [ "$total" -gt "$budget" ]; then
  if [ "$strict" = 1 ]; then
    echo "footprint: over the flash budget"
    bad=1
  else
    echo "footprint: WARNING over the flash budget (fails with BRIM_FOOTPRINT_STRICT=1)"
  fi
fi
exit $bad
