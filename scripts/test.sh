#!/usr/bin/env bash
# Runs every test: installs what is missing, builds natively and with sanitizers, checks that
# the shipped binaries need no libstdc++, and runs the unit and sandbox suites on each build.
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
cd "$repo"
jobs=$(nproc 2>/dev/null || echo 2)

bash scripts/deps.sh

passed=0
failed=0
step() {
  local name=$1
  shift
  echo "== $name"
  if "$@"; then
    passed=$((passed + 1))
  else
    echo "!! $name failed"
    failed=$((failed + 1))
  fi
}

build() {  # build DIR [cmake options...]
  local dir=$1
  shift
  cmake -S . -B "$dir" -G Ninja -DBRIM_WERROR=ON "$@" >"$dir.cmake.log" 2>&1 || { cat "$dir.cmake.log"; return 1; }
  ninja -C "$dir" -j"$jobs"
}

no_libstdcxx() {  # the shipped library and executable must not need libstdc++ at run time
  local dir=$1 bad=0
  for f in "$dir/libbrim.so" "$dir/brim_init"; do
    if readelf -d "$f" | grep -q 'libstdc++'; then
      echo "$f needs libstdc++ at run time"
      bad=1
    fi
  done
  return $bad
}

run_ctest() {
  ctest --test-dir "$1" --output-on-failure --timeout 600
}

mkdir -p build build-asan
step "native build" build build -DCMAKE_BUILD_TYPE=RelWithDebInfo
step "no libstdc++ at run time" no_libstdcxx build
step "native tests" run_ctest build
step "sanitizer build" build build-asan -DCMAKE_BUILD_TYPE=Debug -DBRIM_SANITIZE=ON
step "sanitizer tests" run_ctest build-asan

echo
echo "test steps: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
