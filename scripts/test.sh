#!/usr/bin/env bash
# Runs every test: installs what is missing, builds natively and with sanitizers, checks that
# the shipped binaries need no libstdc++, and runs the unit and sandbox suites on each build;
# then the same suites built for the router (mipsel) under qemu-user, the router's MIPS16e build,
# both router builds' footprints, and a musl build of the library and executable. Each step
# prints its time.
#
# Four lanes run side by side: the host's (native, seam, load, fleet), the router's (mipsel,
# MIPS16e, image, emulated router, musl), the checks' (docs, sanitizers, fuzz, the router's C
# libraries) and the SDK's (the uClibc-ng SDK, our package by the firmware build systems' lines, the
# uClibc router). Most steps wait on sockets, boots or one emulated core, so two cores finish them
# in about the time of the longest. Each step's output goes to its own log under BRIM_TEST_LOGS
# (default build-logs); a step that fails has its log printed at the end.
set -euo pipefail
USAGE="usage: bash scripts/test.sh
Every test, in four lanes side by side (host, router, checks, SDK); each step's log goes under
\${BRIM_TEST_LOGS:-build-logs}. Installs what is missing, builds; as root (namespaces)."
. "$(dirname "${BASH_SOURCE[0]}")/lib/usage.sh"
usage_args 0 "$@"
repo=$(cd "$(dirname "$0")/.." && pwd)
cd "$repo"
jobs=$(nproc 2>/dev/null || echo 2)
logs=${BRIM_TEST_LOGS:-$repo/build-logs}
rm -rf "$logs"
mkdir -p "$logs"

bash scripts/deps.sh
bash scripts/deps-target.sh
bash scripts/deps-cloud.sh  # here, not in the fleet's lane: apt-get runs one at a time

# Over the flash budget (libbrim.so and brim_init together), the footprint check fails.
export BRIM_FOOTPRINT_STRICT=${BRIM_FOOTPRINT_STRICT:-1}
export BRIM_FUZZ_SECONDS=${BRIM_FUZZ_SECONDS:-6}
t_start=$SECONDS

step() {  # step LANE NAME COMMAND...: one line when it starts, one when it ends
  local lane=$1 name=$2 t0=$SECONDS log
  shift 2
  log=$logs/$(printf '%s' "$lane-$name" | tr -c 'A-Za-z0-9_-' '_').log
  printf '[%4d s] %-6s %s ...\n' $((SECONDS - t_start)) "$lane" "$name"
  if "$@" >"$log" 2>&1; then
    printf '[%4d s] %-6s %s: passed in %d s\n' $((SECONDS - t_start)) "$lane" "$name" $((SECONDS - t0))
    printf 'passed %5d %s\n' $((SECONDS - t0)) "$name" >>"$logs/results"
  else
    printf '[%4d s] %-6s %s: FAILED in %d s (log: %s)\n' $((SECONDS - t_start)) "$lane" "$name" $((SECONDS - t0)) "$log"
    printf 'failed %5d %s %s\n' $((SECONDS - t0)) "$name" "$log" >>"$logs/results"
    return 1
  fi
}

# Steps of other lanes, by name (an extended regular expression), from the results file.
ended() { grep -Eq "^(passed|failed) +[0-9]+ $1( |\$)" "$logs/results" 2>/dev/null; }
passed_step() { grep -Eq "^passed +[0-9]+ $1\$" "$logs/results" 2>/dev/null; }
failed_step() { grep -Eq "^failed +[0-9]+ $1 " "$logs/results" 2>/dev/null; }
await() {  # await STEP [NEEDED]: until STEP has ended, or NEEDED (a step it needs) has failed
  until ended "$1"; do
    [ -n "${2:-}" ] && failed_step "$2" && return
    sleep 2
  done
}

# The SDK lane is the longest: its builds (nice 5, uClibc-ng 0) go before the other lanes' (10),
# while every suite runs at the usual priority.
build() {  # build DIR [cmake options...]; four lanes share the cores
  local dir=$1
  shift
  mkdir -p "$dir"
  cmake -S . -B "$dir" -G Ninja -DBRIM_WERROR=ON "$@" >"$dir.cmake.log" 2>&1 || { cat "$dir.cmake.log"; return 1; }
  nice -n 10 ninja -C "$dir" -j"$jobs" -l"$((jobs + 1))"
}

no_libstdcxx() {  # the shipped library and executable, and the stand-ins, must not need libstdc++
  local dir=$1 bad=0
  for f in "$dir/libbrim.so" "$dir/brim_init" "$dir/platform/libapmib.so" "$dir/platform/libvzmqtt.so"; do
    if readelf -d "$f" | grep -q 'libstdc++'; then
      echo "$f needs libstdc++ at run time"
      bad=1
    fi
  done
  # The archive defines none of libstdc++'s error reporters (a C++ program linking it keeps its
  # own exceptions) and needs none (a C program links it without libstdc++).
  if nm -A "$dir/libbrim.a" | grep -E ' [TUW] _ZSt[0-9]+__throw'; then
    echo "$dir/libbrim.a defines or needs libstdc++'s error reporters"
    bad=1
  fi
  return $bad
}

run_ctest() {
  ctest --test-dir "$1" --output-on-failure --timeout 600
}

# The router: 32-bit little-endian MIPS, built as for flash (MinSizeRel, whole-library
# optimisation) and run under qemu-user (inside the sandbox for the system tests). The sysroot
# holds the target's cJSON and libmosquitto.
mipsel_build() {
  bash scripts/target-sysroot.sh build-mipsel &&
    build build-mipsel -DCMAKE_BUILD_TYPE=MinSizeRel -DCMAKE_TOOLCHAIN_FILE=cmake/mipsel-linux-gnu.cmake \
      -DCMAKE_INSTALL_PREFIX=/usr
}
mipsel_tests() {
  bash scripts/target-binfmt.sh && run_ctest build-mipsel
}
# The whole router emulated (qemu-system-mipsel): its checks compare with the sandbox and drive it
# with the native build's request client, so they wait for the host lane's native build.
vm_checks() {
  await 'native build'
  passed_step 'native build' || { echo "the native build failed"; return 1; }
  bash tests/vm/checks.sh build-mipsel16 build
}
# The same router build as MIPS16e (BRIM_MIPS16), on build-mipsel's sysroot: what the emulated
# router's image carries, with the unit suite it runs inside. Its footprint has a budget of its own.
mipsel16_build() {
  bash scripts/build-mipsel16.sh brim brim_init modules/all platform/all brim_unit_tests echo_module
}
# The router's C library is a small one: every libc call we make must exist in musl.
musl_build() {
  bash scripts/musl-stubs.sh build-musl/stubs &&
    cmake -S . -B build-musl -G Ninja -DBRIM_WERROR=ON -DBRIM_TESTS=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DCMAKE_TOOLCHAIN_FILE=cmake/musl-x86_64.cmake >build-musl.cmake.log 2>&1 ||
    { cat build-musl.cmake.log; return 1; }
  ninja -C build-musl -j"$jobs" brim brim_init
}

# The router's own C libraries: uClibc-ng (built once, then cached) with and without posix_spawn,
# and musl, under qemu-user; then the same program in the emulated router, on the router lane's
# image, once that lane's emulated router is done (one boot at a time).
router_libc() {
  bash scripts/router-libc.sh build-libc build || return 1
  await 'emulated router \(MIPS kernel, MIPS16e build\)' 'mipsel build'
  ! failed_step 'mipsel build' || { echo "the mipsel build failed"; return 1; }
  BRIM_VM_BUILD=build-mipsel16 bash scripts/router-libc.sh build-libc vm
}

# The fleet's emulated router boots the SDK lane's uClibc image: the fleet waits for it to be made.
fleet_run() {
  await 'uClibc router image' '(router SDK \(uClibc-ng\)|firmware build \(OpenWrt line\))'
  passed_step 'uClibc router image' || { echo "the uClibc router image was not made"; return 1; }
  bash scripts/fleet.sh 8 --vm 1
}
# A lane goes on after a failed step unless the next step needs what failed.
host_lane() {
  if step host "native build" build build -DCMAKE_BUILD_TYPE=RelWithDebInfo; then
    step host "no libstdc++ at run time" no_libstdcxx build || true
    # Every command answers --help, and refuses an unknown option before it does anything.
    step host "commands answer --help" bash tests/commands.sh build || true
    step host "native tests" run_ctest build || true
    # The platform seam both ways: a firmware build against installed stand-ins, a foreign libapmib.so.
    step host "platform seam" bash tests/seam/seam.sh build || true
    # The subscriber under steady load: every reply checked, its memory must not grow.
    step host "load (sandbox)" bash scripts/load.sh build 45 || true
    # Routers booted by brim_init, bridged to a cloud broker cluster: refused access, faults, figures.
    # One of them the whole router emulated, booted from the SDK lane's uClibc image.
    step host "fleet (8 routers, one emulated, cloud cluster)" fleet_run || true
  fi
}
router_lane() {
  if step router "mipsel build" mipsel_build; then
    step router "mipsel16 build" mipsel16_build || true
    step router "mipsel footprint" bash scripts/footprint.sh build-mipsel build-mipsel16 mipsel-linux-gnu- || true
    # The emulated router's image, of the MIPS16e build, for our suites on the MIPS kernel.
    step router "router image" bash scripts/router-image.sh build-mipsel16 || true
    step router "mipsel tests (qemu)" mipsel_tests || true
    step router "emulated router (MIPS kernel, MIPS16e build)" vm_checks || true
  fi
  step router "musl build" musl_build || true
}
# The sanitizer build also spawns the way a C library without posix_spawn makes us (vfork and
# execv), so every suite runs both ways; its library must not name posix_spawn.
asan_build() {
  build build-asan -DCMAKE_BUILD_TYPE=Debug -DBRIM_SANITIZE=ON -DBRIM_POSIX_SPAWN=OFF &&
    if nm -D --undefined-only build-asan/libbrim.so | grep posix_spawn; then return 1; fi
}
checks_lane() {
  # Every path and link the README and docs/ name exists, every table renders.
  step checks "docs" bash tests/docs/check.sh || true
  if step checks "sanitizer build" asan_build; then
    step checks "sanitizer tests" run_ctest build-asan || true
  fi
  # Every parser and input-taking function under libFuzzer; crash inputs are kept.
  step checks "fuzz" bash scripts/fuzz.sh || true
  step checks "uClibc-ng and musl (mipsel)" router_libc || true
}

# The router as its vendor builds it: an SDK for uClibc-ng (cJSON, OpenSSL, mosquitto, busybox
# from Debian's sources; cached), and our package built against it by the configure lines
# OpenWrt and Buildroot generate from our recipes, with its footprint under their flags.
# The OpenWrt line's build (build-uclibc) becomes the uClibc router: every program from the SDK,
# booted and checked as the glibc one is, after it (one boot at a time) and the native build.
uclibc_vm_checks() {
  await 'emulated router \(MIPS kernel, MIPS16e build\)' 'mipsel build'
  await 'native build'
  passed_step 'native build' || { echo "the native build failed"; return 1; }
  bash tests/vm/checks.sh build-uclibc build
}
sdk_lane() {
  if step sdk "router SDK (uClibc-ng)" bash scripts/router-sdk.sh; then
    step sdk "firmware recipe of docs/integrating.md" bash tests/docs/recipe.sh || true
    step sdk "firmware build (Buildroot line)" bash scripts/firmware-build.sh buildroot || true
    if step sdk "firmware build (OpenWrt line)" bash scripts/firmware-build.sh openwrt; then
      step sdk "uClibc router image" bash scripts/router-image.sh --libc uclibc build-uclibc &&
        step sdk "emulated router (uClibc-ng)" uclibc_vm_checks || true
    fi
  fi
}

host_lane &
host=$!
router_lane &
router=$!
checks_lane &
checks=$!
sdk_lane &
sdk=$!
wait $host $router $checks $sdk || true

echo
bash scripts/loc.sh || true
echo
passed=$(grep -c '^passed' "$logs/results" || true)
failed=$(grep -c '^failed' "$logs/results" || true)
while read -r status secs name; do
  [ "$status" = failed ] || continue
  log=${name##* }
  echo "== ${name% *} failed; its output:"
  cat "$log"
done <"$logs/results"
awk '{ s = $1; t = $2; $1 = $2 = ""; sub(/^ +/, ""); if (s == "failed") sub(/ [^ ]*$/, ""); printf "%5d s  %s%s\n", t, $0, s == "failed" ? "  (failed)" : "" }' "$logs/results"
echo "test steps: $passed passed, $failed failed, wall $((SECONDS - t_start)) s"
[ "$failed" -eq 0 ] && [ "$passed" -ge 25 ]
