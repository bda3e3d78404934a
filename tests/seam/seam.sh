#!/usr/bin/env bash
# The platform seam, both ways, on a native build BUILD (default mode):
#  1. ELF: libbrim.so and brim_init need libapmib.so and libvzmqtt.so and define none of their
#     symbols; the stand-ins export their calls and nothing else; libbrim.so exports every function
#     and global the header declares.
#  2. A firmware build (BRIM_PLATFORM_DIR) against our stand-ins installed in a prefix of their own,
#     as a vendor's would be: it builds no stand-in, and a program on it reads the store through
#     them. A missing vendor library is a configure error that names it.
#  3. A program built in the default mode runs unchanged with another libapmib.so first on the
#     library path, and reads through that one.
# Usage: tests/seam/seam.sh [BUILD]
set -euo pipefail
repo=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "${1:-$repo/build}" && pwd)
work=$build/seam
rm -rf "$work"
mkdir -p "$work"
fails=0
check() {  # check WHAT COMMAND...: one line per check
  if "${@:2}" >"$work/out" 2>&1; then echo "ok    $1"; else
    echo "FAIL  $1"; sed 's/^/      /' "$work/out" | sed -n 1,20p; fails=$((fails + 1)); fi
}
platform_syms='apmib_init apmib_get apmib_set apmib_update save_vz_to_file vz_sub vz_pub'
needs_platform() { local n; n=$(readelf -d "$1" | grep NEEDED); grep -q '\[libapmib.so\]' <<<"$n" && grep -q '\[libvzmqtt.so\]' <<<"$n"; }
defined() { nm -D --defined-only "$1" | awk '{ print $3 }'; }
defines_none() {
  local s bad=0 d
  d=$(defined "$1")
  for s in $platform_syms; do grep -qx "$s" <<<"$d" && { echo "$1 defines $s"; bad=1; }; done
  return $bad
}
exports_exactly() {  # exports_exactly LIB SONAME SYM...: the library's SONAME and its exports, exactly
  local lib=$1 got want
  readelf -d "$lib" | grep -q "SONAME.*\[$2\]" || { echo "$lib: SONAME is not $2"; return 1; }
  shift 2
  got=$(defined "$lib" | sort | tr '\n' ' ')
  want=$(printf '%s\n' "$@" | sort | tr '\n' ' ')
  [ "$got" = "$want" ] || { echo "$lib exports: $got"; echo "expected:    $want"; return 1; }
}
exports_header() {  # every function and global the header declares, but the platform's, is libbrim.so's
  local h=$repo/include/brimlib.h names n missing=0 d
  d=$(defined "$build/libbrim.so")
  names=$(grep '^BRIM_API.*(' "$h" | sed -E 's/\(.*//; s/.*[ *]//'
    grep '^BRIM_API extern' "$h" | sed -E 's|/\*.*||; s/^BRIM_API extern //; s/;.*//; s/\[[^]]*\]//g; s/\*//g' |
      awk -F, '{ for (i = 1; i <= NF; i++) { n = split($i, w, " "); print w[n] } }')
  for n in $names; do
    case " $platform_syms " in *" $n "*) continue ;; esac
    grep -qx "$n" <<<"$d" || { echo "libbrim.so does not export $n"; missing=1; }
  done
  echo "$(wc -w <<<"$names") names declared"
  [ "$(wc -w <<<"$names")" -ge 140 ] || { echo "fewer names than the header has: the reader is broken"; missing=1; }
  return $missing
}

for f in libbrim.so brim_init; do
  check "$f needs libapmib.so and libvzmqtt.so" needs_platform "$build/$f"
  check "$f defines no platform symbol" defines_none "$build/$f"
done
check "libapmib.so (SONAME libapmib.so) exports its five calls only" exports_exactly "$build/platform/libapmib.so" \
  libapmib.so apmib_init apmib_get apmib_set apmib_update save_vz_to_file
check "libvzmqtt.so (SONAME libvzmqtt.so) exports vz_sub and vz_pub only" exports_exactly "$build/platform/libvzmqtt.so" \
  libvzmqtt.so vz_sub vz_pub
check "libbrim.so exports every function and global of the header" exports_header

# 2. Firmware build against the stand-ins installed like a vendor's.
vendor=$work/vendor
cmake --install "$build" --component platform --prefix "$vendor" >/dev/null
libdir=$(ls -d "$vendor"/lib*/ | sed -n 1p)
firmware=$work/build-firmware
firmware_build() {
  cmake -S "$repo" -B "$firmware" -G Ninja -DBRIM_WERROR=ON -DCMAKE_BUILD_TYPE=MinSizeRel -DBRIM_PLATFORM_DIR="$libdir" &&
    ninja -C "$firmware" && [ ! -e "$firmware/platform" ] &&
    [ -z "$(find "$firmware" -name 'libapmib.so*' -o -name 'libvzmqtt.so*' -o -name apmib -type f)" ]
}
check "firmware build against $libdir builds no stand-in" firmware_build
check "firmware build's libbrim.so and brim_init need the vendor's libraries" bash -c \
  "$(declare -f needs_platform); needs_platform '$firmware/libbrim.so' && needs_platform '$firmware/brim_init'"
cc_probe() {  # cc_probe OUT LIBDIR PLATFORM_DIR: the probe on the header, libbrim.so and libapmib.so
  cc -o "$1" "$repo/tests/seam/probe.c" -I"$repo/include" $(pkg-config --cflags libcjson libmosquitto) \
    -L"$2" -lbrim -L"$3" -lapmib -Wl,-rpath,"$2" -Wl,-rpath,"$3"
}
check "a program on the firmware build reads the store through the vendor's library" bash -c \
  "$(declare -f cc_probe); repo='$repo' libdir='$libdir'; cc_probe '$work/probe-fw' '$firmware' '$libdir' &&
   out=\$(APMIB_STORE='$repo/platform/factory.store' LD_LIBRARY_PATH='$libdir' '$work/probe-fw') &&
   echo \"\$out\" && [ \"\$out\" = 'lan 192.168.0.1/255.255.255.0 mode 0' ]"
check "a firmware build without the vendor's libvzmqtt.so fails to configure, naming it" bash -c \
  "mkdir -p '$work/half' && cp '$libdir/libapmib.so' '$work/half/' &&
   ! cmake -S '$repo' -B '$work/build-half' -G Ninja -DBRIM_PLATFORM_DIR='$work/half' >'$work/half.log' 2>&1 &&
   grep -q 'libvzmqtt.so not found' '$work/half.log'"

# 3. Another libapmib.so first on the library path.
mkdir -p "$work/foreign"
check "a foreign libapmib.so builds" cc -shared -fPIC -Wl,-soname,libapmib.so -o "$work/foreign/libapmib.so" \
  "$repo/tests/seam/foreign_apmib.c"
check "a default-mode program reads through the foreign libapmib.so put first on the library path" bash -c \
  "$(declare -f cc_probe); repo='$repo' libdir='$libdir'; cc_probe '$work/probe' '$build' '$build/platform' &&
   [ \"\$(APMIB_STORE='$repo/platform/factory.store' '$work/probe')\" = 'lan 192.168.0.1/255.255.255.0 mode 0' ] &&
   out=\$(LD_LIBRARY_PATH='$work/foreign' '$work/probe') && echo \"\$out\" && [ \"\$out\" = 'lan 10.9.8.7/255.0.0.0 mode 1' ]"

[ "$fails" -eq 0 ] && echo "seam: all checks passed" || echo "seam: $fails checks failed"
[ "$fails" -eq 0 ]
