#!/usr/bin/env bash
# The router build's MIPS16e flavour, as the emulated router's image carries it: MinSizeRel,
# BRIM_MIPS16, the spawn without posix_spawn, on build-mipsel's sysroot. Configures and builds the
# targets named (default: what the image holds) in BRIM_MIPS16_BUILD (default <repo>/build-mipsel16).
#
#   bash scripts/build-mipsel16.sh [TARGET...]
set -euo pipefail
USAGE="usage: bash scripts/build-mipsel16.sh [TARGET...]
Configures and builds the router build's MIPS16e flavour in \${BRIM_MIPS16_BUILD:-build-mipsel16}
(default targets: brim brim_init modules/all platform/all); fetches build-mipsel's sysroot first."
. "$(dirname "${BASH_SOURCE[0]}")/lib/usage.sh"
usage_args 99 "$@"
repo=$(cd "$(dirname "$0")/.." && pwd)
dir=${BRIM_MIPS16_BUILD:-$repo/build-mipsel16}
jobs=$(nproc 2>/dev/null || echo 2)
[ $# -gt 0 ] || set -- brim brim_init modules/all platform/all
bash "$repo/scripts/target-sysroot.sh" "$repo/build-mipsel"
mkdir -p "$dir"
cmake -S "$repo" -B "$dir" -G Ninja -DBRIM_WERROR=ON -DCMAKE_BUILD_TYPE=MinSizeRel \
  -DCMAKE_TOOLCHAIN_FILE="$repo/cmake/mipsel-linux-gnu.cmake" -DCMAKE_INSTALL_PREFIX=/usr -DBRIM_MIPS16=ON -DBRIM_POSIX_SPAWN=OFF \
  -DBRIM_TARGET_SYSROOT="$repo/build-mipsel/sysroot" >"$dir.cmake.log" 2>&1 || { cat "$dir.cmake.log" >&2; exit 1; }
nice -n 10 ninja -C "$dir" -j"$jobs" -l"$((jobs + 1))" "$@"
