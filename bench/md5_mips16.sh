#!/usr/bin/env bash
# MD5 of the MIPS16e router build (BRIM_MIPS16, build-mipsel16) against the MIPS32 one
# (build-mipsel) under qemu-mipsel: one program loads both builds' libbrim.so and times them in
# turn (bench/md5_flavours.cpp). Needs both router builds (scripts/test.sh makes them).
# Usage: bench/md5_mips16.sh [MIPS32_BUILD] [MIPS16_BUILD]
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
cd "$repo"
b32=${1:-build-mipsel}
b16=${2:-build-mipsel16}
for b in "$b32" "$b16"; do nice -n 10 ninja -C "$b" libbrim.so >/dev/null; done
sysroot=$(sed -n 's/^BRIM_TARGET_SYSROOT:PATH=//p' "$b32/CMakeCache.txt")
prog=$b16/md5_flavours
# The program only passes bytes between the two libraries: any flags will do.
mipsel-linux-gnu-g++ -std=c++17 -O2 -I"$repo" -o "$prog" bench/md5_flavours.cpp -ldl
qemu-mipsel -L "$sysroot" -E LD_LIBRARY_PATH="$repo/$b32/platform:/usr/lib/mipsel-linux-gnu" \
  "$prog" "$repo/$b16/libbrim.so" "$repo/$b32/libbrim.so" "MD5 1 MiB, MIPS16e build vs MIPS32 (qemu)"
