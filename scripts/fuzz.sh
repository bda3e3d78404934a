#!/usr/bin/env bash
# Builds the libFuzzer targets (fuzz/*_fuzz.cpp) with clang and, for each: replays the inputs
# kept under fuzz/regressions/<name>/, then fuzzes it for a bounded time from the seeds in
# fuzz/corpus/<name>/. An input that crashes or draws a sanitizer report is kept under
# fuzz/regressions/<name>/ (commit it with its fix) and the script fails.
#   BRIM_FUZZ_SECONDS  time per target (default 10; eleven targets)
#   BRIM_FUZZ_BUILD    build directory (default build-fuzz)
set -euo pipefail
USAGE="usage: bash scripts/fuzz.sh
Builds the libFuzzer targets (clang, \${BRIM_FUZZ_BUILD:-build-fuzz}), replays the kept regression
inputs and fuzzes each target for \${BRIM_FUZZ_SECONDS:-10} s; a crash input is kept, and fails."
. "$(dirname "${BASH_SOURCE[0]}")/lib/usage.sh"
usage_args 0 "$@"
repo=$(cd "$(dirname "$0")/.." && pwd)
cd "$repo"
seconds=${BRIM_FUZZ_SECONDS:-10}
dir=${BRIM_FUZZ_BUILD:-build-fuzz}
jobs=$(nproc 2>/dev/null || echo 2)
[ "$jobs" -gt 2 ] || jobs=2

cc=clang-14 cxx=clang++-14
command -v "$cxx" >/dev/null || { cc=clang cxx=clang++; }
command -v "$cxx" >/dev/null || { echo "fuzz: clang is not installed (scripts/deps.sh)" >&2; exit 1; }

mkdir -p "$dir"
cmake -S . -B "$dir" -G Ninja -DBRIM_FUZZ=ON -DBRIM_TESTS=OFF -DCMAKE_BUILD_TYPE=Debug \
  -DCMAKE_C_COMPILER="$cc" -DCMAKE_CXX_COMPILER="$cxx" >"$dir.cmake.log" 2>&1 || { cat "$dir.cmake.log"; exit 1; }
ninja -C "$dir" -j"$jobs" brim_fuzz

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=()
for src in fuzz/*_fuzz.cpp; do
  name=$(basename "$src" _fuzz.cpp)
  bin=$dir/fuzz/${name}_fuzz
  kept=fuzz/regressions/$name
  opts=(-timeout=10 -rss_limit_mb=1024 -print_final_stats=0)

  shopt -s nullglob
  cases=("$kept"/*)
  shopt -u nullglob
  if [ ${#cases[@]} -gt 0 ]; then
    if ! "$bin" "${opts[@]}" "${cases[@]}" >"$work/$name.replay.log" 2>&1; then
      echo "!! $name: a kept regression input fails again"
      tail -n 40 "$work/$name.replay.log"
      failed+=("$name")
      continue
    fi
  fi

  # New inputs go to a scratch corpus; the committed seeds are only read.
  mkdir -p "$work/$name" "$kept"
  if "$bin" "${opts[@]}" -max_total_time="$seconds" -artifact_prefix="$kept/" \
    "$work/$name" "fuzz/corpus/$name" >"$work/$name.log" 2>&1; then
    echo "$name: $(grep -o 'Done [0-9]* runs' "$work/$name.log" | tail -n 1 || true), ${#cases[@]} regression inputs replayed"
  else
    echo "!! $name: crash or sanitizer report; input kept in $kept/"
    tail -n 40 "$work/$name.log"
    failed+=("$name")
  fi
  rmdir "$kept" 2>/dev/null || true  # nothing kept: no empty directory left behind
done

if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzz: failed: ${failed[*]}"
  exit 1
fi
echo "fuzz: all targets held"
