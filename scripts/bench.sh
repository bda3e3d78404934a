#!/usr/bin/env bash
# Runs every benchmark from a release build. Each line: name, our figure, the anchor's figure
# measured in the same run, their ratio, and the goal; a ratio that misses its goal is marked
# "<-- misses goal", and the last line counts them.
set -euo pipefail
USAGE="usage: bash scripts/bench.sh
Builds a release build (build-bench) and runs every benchmark; a figure that misses its goal
is marked. Installs what is missing (scripts/deps.sh); as root (the sandbox)."
. "$(dirname "${BASH_SOURCE[0]}")/lib/usage.sh"
. "$(dirname "${BASH_SOURCE[0]}")/lib/progress.sh"
usage_args 0 "$@"
repo=$(cd "$(dirname "$0")/.." && pwd)
cd "$repo"
bash scripts/deps.sh
make_build() {
  mkdir -p build-bench
  cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DBRIM_BENCH=ON -DBRIM_TESTS=OFF &&
    ninja -C build-bench -j"$(nproc)"
}
run_logged "bench: building build-bench (some minutes the first time)" build-bench.log make_build
run_all() {
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
}
# Goals of the form "<= X" or ">= X" are judged on the line's ratio. mawk reads a pipe a buffer at
# a time: -W interactive passes each line on as it comes.
judge=(awk)
awk -W version 2>/dev/null | grep -q mawk && judge+=(-W interactive)
run_all | "${judge[@]}" '{
  r = g = op = ""
  for (i = 1; i < NF; i++) {
    if ($i == "ratio") r = $(i + 1)
    if ($i == "goal" && ($(i + 1) == "<=" || $(i + 1) == ">=")) { op = $(i + 1); g = $(i + 2) }
  }
  if (op != "" && r != "") {
    n++
    if ((op == "<=" && r + 0 > g + 0) || (op == ">=" && r + 0 < g + 0)) { $0 = $0 "  <-- misses goal"; m++ }
  }
  print
  fflush()
}
END { printf "bench: %d ratios judged against their goals, %d miss them\n", n, m }'
