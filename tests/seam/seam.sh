#!/usr/bin/env bash
# The platform seam, both ways, on a native build BUILD (default mode) and a firmware build
# (BRIM_PLATFORM_DIR) against our stand-ins installed in a prefix of their own, as a vendor's would
# be: the ELF files' needs and exports, programs reading the store through either library, another
# libapmib.so first on the library path, and a missing vendor library named at configure time.
# Then what install components hold: "runtime" alone, "runtime" + "dev" and all built on.
# Usage: tests/seam/seam.sh [BUILD]
set -euo pipefail
repo=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "${1:-$repo/build}" && pwd)
work=$build/seam
fw=$work/build-firmware
rm -rf "$work"
mkdir -p "$work/foreign" "$work/half"
fails=0
check() {  # check WHAT COMMAND...: one line per check
  if "${@:2}" >"$work/out" 2>&1; then echo "ok    $1"; else
    echo "FAIL  $1"; sed 's/^/      /' "$work/out" | sed -n 1,20p; fails=$((fails + 1)); fi
}
platform_syms='apmib_init apmib_get apmib_set apmib_update save_vz_to_file vz_sub vz_pub'
defined() { nm -D --defined-only "$1" | awk '{ print $3 }' | sort; }
uses_platform() {  # uses_platform ELF: needs both platform libraries and defines none of their symbols
  local n
  n=$(readelf -d "$1")
  grep -q 'NEEDED.*\[libapmib.so\]' <<<"$n" && grep -q 'NEEDED.*\[libvzmqtt.so\]' <<<"$n" || return 1
  ! printf '%s\n' $platform_syms | sort | comm -12 - <(defined "$1") | grep .
}
exports_exactly() {  # exports_exactly LIB SYM...: the library's SONAME is its name, its exports exactly SYM...
  readelf -d "$1" | grep -q "SONAME.*\[${1##*/}\]" && diff <(printf '%s\n' "${@:2}" | sort) <(defined "$1")
}
exports_header() {  # every function and global the header declares, but the platform's, is libbrim.so's
  local h=$repo/include/brimlib.h names
  names=$(grep '^BRIM_API.*(' "$h" | sed -E 's/\(.*//; s/.*[ *]//'
    grep '^BRIM_API extern' "$h" | sed -E 's|/\*.*||; s/^BRIM_API extern //; s/;.*//; s/\[[^]]*\]//g; s/\*//g' |
      awk -F, '{ for (i = 1; i <= NF; i++) { n = split($i, w, " "); print w[n] } }')
  echo "$(wc -w <<<"$names") names declared"  # fewer than the header has: the reader is broken
  [ "$(wc -w <<<"$names")" -ge 140 ] && ! printf '%s\n' $names | grep -vxF "${platform_syms// /$'\n'}" | sort |
    comm -23 - <(defined "$build/libbrim.so") | grep .
}
firmware_build() {  # it builds no stand-in
  cmake -S "$repo" -B "$fw" -G Ninja -DBRIM_WERROR=ON -DCMAKE_BUILD_TYPE=MinSizeRel \
    -DBRIM_PLATFORM_DIR="$libdir" &&
    ninja -C "$fw" && [ ! -e "$fw/platform" ] &&
    [ -z "$(find "$fw" -name 'libapmib.so*' -o -name 'libvzmqtt.so*' -o -name apmib -type f)" ]
}
half_configure() {
  ! cmake -S "$repo" -B "$work/build-half" -G Ninja -DBRIM_PLATFORM_DIR="$work/half" >"$work/half.log" 2>&1 &&
    grep -q 'libvzmqtt.so not found' "$work/half.log"
}
probe_says() {  # probe_says BRIM_LIBDIR APMIB_LIBDIR WANT [VAR=VALUE...]: the probe built on them prints WANT
  local out
  # shellcheck disable=SC2046
  cc -o "$work/probe" "$repo/tests/seam/probe.c" -I"$repo/include" $(pkg-config --cflags libcjson libmosquitto) \
    -L"$1" -lbrim -L"$2" -lapmib -Wl,-rpath,"$1" -Wl,-rpath,"$2" &&
    out=$(env APMIB_STORE="$repo/platform/factory.store" "${@:4}" "$work/probe") && echo "$out" &&
    [ "$out" = "$3" ]
}

consumer() {  # consumer PREFIX cmake|pkg-config APMIB: the probe built on PREFIX that way reads the store
  local d=$work/consumer-${1##*/}-$2 lib=("$1"/lib*/) p=$repo/tests/seam/probe.c
  mkdir -p "$d" && printf '%s\n' 'cmake_minimum_required(VERSION 3.16)' 'project(c C)' 'find_package(brimlib REQUIRED)' \
    "add_executable(probe $p)" 'target_link_libraries(probe brimlib::brim ${APMIB})' >"$d/CMakeLists.txt"
  if [ "$2" = cmake ]; then cmake -S "$d" -B "$d" -G Ninja -DCMAKE_PREFIX_PATH="$1" -DAPMIB="$3" && ninja -C "$d"; else
    cc -o "$d/probe" "$p" $(PKG_CONFIG_PATH="$lib/pkgconfig" pkg-config --cflags --libs brimlib) "$3" -Wl,-rpath-link,"$libdir"; fi &&
    [ "$(APMIB_STORE="$repo/platform/factory.store" LD_LIBRARY_PATH="$lib:$libdir" "$d/probe")" = 'lan 192.168.0.1/255.255.255.0 mode 0' ]
}

cmake --install "$build" --component platform --prefix "$work/vendor" >/dev/null
libdir=$(ls -d "$work/vendor"/lib*/ | sed -n 1p)
check "firmware build against $libdir builds no stand-in" firmware_build
# shellcheck disable=SC2086
for f in {$build,$fw}/{libbrim.so,brim_init}; do
  check "$f needs libapmib.so and libvzmqtt.so, defines none of their symbols" uses_platform "$f"
done
check "libapmib.so exports its five calls only" exports_exactly "$build/platform/libapmib.so" \
  apmib_init apmib_get apmib_set apmib_update save_vz_to_file
check "libvzmqtt.so exports vz_sub and vz_pub only" exports_exactly "$build/platform/libvzmqtt.so" vz_sub vz_pub
check "libbrim.so exports every function and global of the header" exports_header
check "a program on the firmware build reads the store through the vendor's library" probe_says "$fw" "$libdir" \
  'lan 192.168.0.1/255.255.255.0 mode 0' LD_LIBRARY_PATH="$libdir"
cp "$libdir/libapmib.so" "$work/half/"
check "a firmware build without the vendor's libvzmqtt.so fails to configure, naming it" half_configure
check "a foreign libapmib.so builds" cc -shared -fPIC -Wl,-soname,libapmib.so -o "$work/foreign/libapmib.so" \
  "$repo/tests/seam/foreign_apmib.c"
check "a default-mode program reads the store through our libapmib.so" probe_says "$build" "$build/platform" \
  'lan 192.168.0.1/255.255.255.0 mode 0'
check "the same program reads through the foreign libapmib.so first on the library path" probe_says "$build" \
  "$build/platform" 'lan 10.9.8.7/255.0.0.0 mode 1' LD_LIBRARY_PATH="$work/foreign"

cmake --install "$build" --component runtime --prefix "$work/image" >/dev/null
check "the runtime component is libbrim.so.0*, brim_init and its manual page only" \
  diff <(find "$work/image" ! -type d -printf '%f\n' | sort) <(printf '%s\n' brim_init libbrim.so.0 \
  "$(readlink "$build/libbrim.so.0")" $([ ! -f "$build/man/brim_init.8" ] || echo brim_init.8) | sort)
for c in runtime dev; do cmake --install "$build" --component $c --prefix "$work/sdk"; done >/dev/null
cmake --install "$build" --prefix "$work/all" >/dev/null
check "a program builds on runtime + dev with find_package" consumer "$work/sdk" cmake "$libdir/libapmib.so"
check "a program builds on runtime + dev with pkg-config" consumer "$work/sdk" pkg-config "$libdir/libapmib.so"
check "a program builds on every component with find_package" consumer "$work/all" cmake brimlib::apmib
echo "seam: $fails checks failed"
[ "$fails" -eq 0 ]
