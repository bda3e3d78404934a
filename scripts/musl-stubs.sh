#!/usr/bin/env bash
# Prepares the musl build's view of cJSON and libmosquitto, which have no musl packages: their real
# headers, pkg-config files, the kernel headers, and stub shared objects (same soname, every exported function an
# empty body) built with musl-gcc. The stubs only let the linker resolve our calls; nothing runs
# against them. Usage: musl-stubs.sh OUT_DIR [CC]   (idempotent; CC, default musl-gcc, builds the
# stubs: "mipsel-linux-gnu-gcc -nostdlib" serves the router's small C libraries, as the stubs call
# nothing)
set -euo pipefail
USAGE="usage: bash scripts/musl-stubs.sh OUT_DIR [CC]
The musl build's view of cJSON and libmosquitto (headers, link stubs built with CC, default
musl-gcc) in OUT_DIR."
. "$(dirname "${BASH_SOURCE[0]}")/lib/usage.sh"
usage_args 2 "$@"
[ $# -ge 1 ] || usage_error
out=$1
cc=${2:-musl-gcc}
mkdir -p "$out"
out=$(cd "$out" && pwd)
[ -f "$out/.stamp" ] && exit 0
hostlib=/usr/lib/$(gcc -print-multiarch)
mkdir -p "$out/include/cjson" "$out/lib/pkgconfig"
cp /usr/include/cjson/cJSON.h "$out/include/cjson/"
cp /usr/include/mosquitto.h /usr/include/mqtt_protocol.h "$out/include/"

stub() {  # stub NAME SONAME: a musl shared object exporting what the host's real one exports
  local name=$1 soname=$2 src=$out/lib/$1-stub.c
  nm -D --defined-only "$hostlib/$soname" | awk '$2 == "T" { sub(/@.*/, "", $3); printf "void %s(void) {}\n", $3 }' >"$src"
  [ -s "$src" ] || { echo "musl-stubs: no symbols in $hostlib/$soname" >&2; return 1; }
  $cc -shared -fPIC -o "$out/lib/$soname" -Wl,-soname,"$soname" "$src"
  ln -sf "$soname" "$out/lib/$name.so"
  cat >"$out/lib/pkgconfig/$name.pc" <<PC
prefix=$out
Name: $name
Description: $name link stub for the musl build
Version: 0
Libs: -L\${prefix}/lib -l${name#lib}
Cflags: -I\${prefix}/include -I\${prefix}/include/cjson
PC
}
# The kernel's user-space headers (linux/, asm/), which musl does not ship.
mkdir -p "$out/kernel"
ln -sfn /usr/include/linux "$out/kernel/linux"
ln -sfn "/usr/include/$(gcc -print-multiarch)/asm" "$out/kernel/asm"
ln -sfn /usr/include/asm-generic "$out/kernel/asm-generic"
# libstdc++'s headers are configured for glibc: give them the two glibc names they use.
cat >"$out/include/brim_musl_compat.h" <<'H'
#define __GLIBC_PREREQ(maj, min) 0
#ifdef __cplusplus
#include <locale.h>
typedef locale_t __locale_t;
#endif
H

stub libcjson libcjson.so.1
stub libmosquitto libmosquitto.so.1
touch "$out/.stamp"
