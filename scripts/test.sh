#!/usr/bin/env bash
# Runs every test: installs what is missing, builds natively and with sanitizers, checks that
# the shipped binaries need no libstdc++, and runs the unit and sandbox suites on each build;
# then the same suites built for the router (mipsel) under qemu-user, the router build's
# footprint, and a musl build of the library and executable. Each step prints its time.
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
cd "$repo"
jobs=$(nproc 2>/dev/null || echo 2)

bash scripts/deps.sh
bash scripts/deps-target.sh

# Over the flash budget (libbrim.so and brim_init together), the footprint check fails.
export BRIM_FOOTPRINT_STRICT=${BRIM_FOOTPRINT_STRICT:-1}

passed=0
failed=0
times=()
step() {
  local name=$1 t0=$SECONDS
  shift
  echo "== $name"
  if "$@"; then
    passed=$((passed + 1))
  else
    echo "!! $name failed"
    failed=$((failed + 1))
  fi
  times+=("$(printf '%5d s  %s' $((SECONDS - t0)) "$name")")
}

build() {  # build DIR [cmake options...]
  local dir=$1
  shift
  cmake -S . -B "$dir" -G Ninja -DBRIM_WERROR=ON "$@" >"$dir.cmake.log" 2>&1 || { cat "$dir.cmake.log"; return 1; }
  ninja -C "$dir" -j"$jobs"
}

no_libstdcxx() {  # the shipped library and executable, and the stand-ins, must not need libstdc++
  local dir=$1 bad=0
  for f in "$dir/libbrim.so" "$dir/brim_init" "$dir/platform/libapmib.so" "$dir/platform/libvzmqtt.so"; do
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
# The platform seam both ways: a firmware build against installed stand-ins, a foreign libapmib.so.
step "platform seam" bash tests/seam/seam.sh build
# The subscriber under steady load for 60 s: every reply checked, its memory must not grow.
step "load (sandbox)" bash scripts/load.sh build 60
step "sanitizer build" build build-asan -DCMAKE_BUILD_TYPE=Debug -DBRIM_SANITIZE=ON
step "sanitizer tests" run_ctest build-asan
# Every parser and input-taking function under libFuzzer, 10 s each; crash inputs are kept.
step "fuzz" bash scripts/fuzz.sh

# The router: 32-bit little-endian MIPS, built as for flash (MinSizeRel, whole-library
# optimisation) and run under qemu-user (inside the sandbox for the system tests). The sysroot
# holds the target's cJSON and libmosquitto.
mipsel_build() {
  bash scripts/target-sysroot.sh build-mipsel &&
    build build-mipsel -DCMAKE_BUILD_TYPE=MinSizeRel -DCMAKE_TOOLCHAIN_FILE=cmake/mipsel-linux-gnu.cmake
}
mipsel_tests() {
  bash scripts/target-binfmt.sh && run_ctest build-mipsel
}
# The router's C library is a small one: every libc call we make must exist in musl.
musl_build() {
  bash scripts/musl-stubs.sh build-musl/stubs &&
    cmake -S . -B build-musl -G Ninja -DBRIM_WERROR=ON -DBRIM_TESTS=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DCMAKE_TOOLCHAIN_FILE=cmake/musl-x86_64.cmake >build-musl.cmake.log 2>&1 ||
    { cat build-musl.cmake.log; return 1; }
  ninja -C build-musl -j"$jobs" brim brim_init
}
mkdir -p build-mipsel build-musl
step "mipsel build" mipsel_build
step "mipsel footprint" bash scripts/footprint.sh build-mipsel mipsel-linux-gnu-
step "mipsel tests (qemu)" mipsel_tests
step "musl build" musl_build

echo
bash scripts/loc.sh || true
echo
printf '%s\n' "${times[@]}"
echo "test steps: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
