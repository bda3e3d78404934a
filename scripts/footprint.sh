#!/usr/bin/env bash
# Footprint of the router builds: for each build, the stripped sizes of libbrim.so and brim_init,
# what they need at run time, their total against the flash budget of the build's flavour (MIPS32:
# 64 KiB; MIPS16e, BRIM_MIPS16=ON: 48 KiB), and the 15 largest functions; given two builds, also
# the functions whose size moved most between them. The platform's libraries (libapmib.so,
# libvzmqtt.so) are the firmware's and are not counted. Fails when a binary needs anything but
# the C library, libgcc_s, cJSON, libmosquitto, the platform and libbrim itself (libstdc++ above
# all), or, with BRIM_FOOTPRINT_STRICT=1, when a total is over its budget.
# Usage: footprint.sh BUILD_DIR... [TOOL_PREFIX]   (TOOL_PREFIX defaults to mipsel-linux-gnu-)
set -euo pipefail
USAGE="usage: bash scripts/footprint.sh BUILD_DIR... [TOOL_PREFIX]
Stripped sizes, run-time needs and largest functions of each router build's libbrim.so and
brim_init against its flash budget (TOOL_PREFIX: default mipsel-linux-gnu-)."
. "$(dirname "${BASH_SOURCE[0]}")/lib/usage.sh"
usage_args 99 "$@"
builds=()
prefix=mipsel-linux-gnu-
for a in "$@"; do
  if [ -d "$a" ]; then builds+=("$a"); elif [[ $a == *- ]]; then prefix=$a; else
    usage_error "$a is no build directory"; fi
done
[ ${#builds[@]} -gt 0 ] || usage_error
strict=${BRIM_FOOTPRINT_STRICT:-0}
allowed='^(libc\.so(\.[0-9]+)?|libgcc_s\.so\.1|libcjson\.so\.1|libmosquitto\.so\.1|libapmib\.so|libvzmqtt\.so|libbrim\.so\.0)$'

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
bad=0
functions() {  # functions BUILD: "bytes binary name" for every function, largest first
  for f in libbrim.so brim_init; do
    "${prefix}nm" --size-sort -S -C "$1/$f" | while read -r _ sz kind name; do
      case $kind in t | T | w | W) printf '%d %s %s\n' "$((16#$sz))" "$f" "$name" ;; esac
    done
  done | sort -k1,1nr
}
for build in "${builds[@]}"; do
  if grep -q '^BRIM_MIPS16:BOOL=ON' "$build/CMakeCache.txt" 2>/dev/null; then
    flavour=MIPS16e budget=$((48 * 1024))
  else
    flavour=MIPS32 budget=$((64 * 1024))
  fi
  echo "== $build ($flavour)"
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
  printf '%-11s %8d bytes, budget %d (%d KiB): ratio %s\n' total "$total" "$budget" $((budget / 1024)) \
    "$(awk -v s="$total" -v b="$budget" 'BEGIN { printf "%.3f", s / b }')"
  echo "largest functions (bytes, in the unstripped binaries):"
  functions "$build" >"$tmp/functions"
  awk 'NR <= 15 { n = $3; for (i = 4; i <= NF; i++) n = n " " $i; printf "  %6d  %-10s %s\n", $1, $2, n }' "$tmp/functions"
  cp "$tmp/functions" "$tmp/functions.$flavour.$(printf '%s' "$build" | tr / _)"
  if [ "$total" -gt "$budget" ]; then
    if [ "$strict" = 1 ]; then
      echo "footprint: $build over the flash budget"
      bad=1
    else
      echo "footprint: WARNING $build over the flash budget (fails with BRIM_FOOTPRINT_STRICT=1)"
    fi
  fi
done
if [ ${#builds[@]} -eq 2 ]; then
  echo "== largest movers, ${builds[0]} -> ${builds[1]} (bytes)"
  a=$(ls "$tmp"/functions.*"$(printf '%s' "${builds[0]}" | tr / _)")
  b=$(ls "$tmp"/functions.*"$(printf '%s' "${builds[1]}" | tr / _)")
  # Names that occur more than once (local copies) are summed.
  awk 'FNR == 1 { file++ } { n = $2; for (i = 3; i <= NF; i++) n = n " " $i; s[n, file] += $1; names[n] = 1 }
    END { for (n in names) { d = s[n, 2] - s[n, 1]; printf "%d %d %d %s\n", d < 0 ? -d : d, s[n, 1], s[n, 2], n } }' "$a" "$b" |
    sort -k1,1nr | awk '{ a += $2; b += $3 } NR <= 15 { n = $4; for (i = 5; i <= NF; i++) n = n " " $i
      printf "  %6d -> %6d  %+6d  %s\n", $2, $3, $3 - $2, n }
      END { printf "  %6d -> %6d  %+6d  all functions (ratio %.3f)\n", a, b, b - a, b / a }'
fi
exit $bad
