#!/usr/bin/env bash
# Runs every benchmark from a release build. Each line: name, our figure, the anchor's figure
# measured in the same run, their ratio, and the goal.
set -euo pipefail
USAGE="usage: bash scripts/bench.sh
Builds a release build (build-bench) and runs every benchmark; a figure that misses its goal
is marked. Installs what is missing (scripts/deps.sh); as root (the sandbox)."
. "$(dirname "${BASH_SOURCE[0]}")/lib/usage.sh"
usage_args 0 "$@"
repo=$(cd "$(dirname "$0")/.." && pwd)
cd "$repo"
bash scripts/deps.sh
mkdir -p build-bench
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DBRIM_BENCH=ON -DBRIM_TESTS=OFF >/dev/null
ninja -C build-bench -j"$(nproc)" >/dev/null
for b in build-bench/bench/*_bench; do
  [ -x "$b" ] && "$b"
done
# The sandbox's own start, with and without its ISP, measured from the host.
bash bench/sandbox_start.sh build-bench
# Benchmarks that need the simulated router run inside the sandbox.
for s in bench/*_bench.sh; do
  [ -f "$s" ] && sandbox/brim-sandbox --build build-bench -- bash "$repo/$s"
done
# The MIPS16e router build's MD5 against the MIPS32 one's, under qemu-mipsel, once the test
# command has made both router builds.
if [ -f build-mipsel/CMakeCache.txt ] && [ -f build-mipsel16/CMakeCache.txt ]; then
  bash bench/md5_mips16.sh
fi
