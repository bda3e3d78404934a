#!/usr/bin/env bash
# The router's own kinds of C library: libbrim.so and brim_init (linked with --no-undefined) and
# the stand-in libapmib.so (its needs checked by name) built for mipsel (MinSizeRel) against
#   uclibc-rt    uClibc-ng with its advanced realtime option (BrimSystem uses posix_spawn)
#   uclibc-nort  uClibc-ng without it (-DBRIM_POSIX_SPAWN=OFF: vfork and execv)
#   musl         Debian's musl for mipsel (a link check)
# (scripts/target-uclibc.sh builds and caches uClibc-ng; cJSON and libmosquitto are link stubs).
# Then tests/libc/probe.c, a C program of the library's calls, on uClibc-ng's own loader for both
# uClibc-ng builds: under qemu-user, and inside the emulated router (sandbox/brim-vm) of the router
# build BRIM_VM_BUILD (default build-mipsel16; its image is made when missing).
#   bash scripts/router-libc.sh [OUT [build|vm]]   (default build-libc, both phases)
# "build" is everything but the emulated router, "vm" the emulated router on what "build" made.
set -euo pipefail
USAGE="usage: bash scripts/router-libc.sh [OUT [build|vm]]
libbrim.so and brim_init built against uClibc-ng (with and without posix_spawn) and musl for
mipsel, and a probe of the library's calls on uClibc-ng under qemu-user (build) and in the
emulated router of \${BRIM_VM_BUILD:-build-mipsel16} (vm); default OUT build-libc, both phases."
. "$(dirname "${BASH_SOURCE[0]}")/lib/usage.sh"
usage_args 2 "$@"
case ${2:-all} in all | build | vm) ;; *) usage_error "unknown phase $2" ;; esac
repo=$(cd "$(dirname "$0")/.." && pwd)
cd "$repo"
mkdir -p "${1:-build-libc}"
out=$(cd "${1:-build-libc}" && pwd)
phase=${2:-all}
vm_build=${BRIM_VM_BUILD:-$repo/build-mipsel16}
cross=mipsel-linux-gnu-
t0=$SECONDS
say() { printf 'router-libc: [%3d s] %s\n' $((SECONDS - t0)) "$*"; }
fails=0
check() {  # check WHAT COMMAND...: one line per check, then its output if it failed or show=1
  if "${@:2}" >"$out/check.out" 2>&1; then echo "ok    $1"; [ -n "${show:-}" ] || return 0; else
    echo "FAIL  $1"; fails=$((fails + 1)); fi
  sed 's/^/      /' "$out/check.out"
}

# musl for mipsel: Debian's packages unpacked (never installed) into the layout of a root.
musl_root() {
  local debs=${BRIM_CACHE:-/var/cache/brimlib}/debs raw=$out/musl-debs root=$out/musl p deb
  [ -f "$root/.stamp" ] && return 0
  mkdir -p "$debs"
  if ! compgen -G "$debs/musl-dev_*_mipsel.deb" >/dev/null || ! compgen -G "$debs/musl_*_mipsel.deb" >/dev/null; then
    apt-cache show musl-dev:mipsel >/dev/null 2>&1 || {
      grep -qx mipsel <<<"$(dpkg --print-foreign-architectures)" || dpkg --add-architecture mipsel
      apt-get update -qq
    }
    # apt-get download writes into the working directory; the _apt user may not reach it.
    (cd "$debs" && apt-get download -qq musl-dev:mipsel musl:mipsel 2>&1 | grep -v '^W: Download is performed unsandboxed' || true)
  fi
  rm -rf "$raw" "$root"
  for p in musl musl-dev; do
    deb=$(ls "$debs"/${p}_*_mipsel.deb 2>/dev/null | sed -n 1p)
    [ -n "$deb" ] || { echo "router-libc: $p:mipsel was not downloaded" >&2; return 1; }
    dpkg -x "$deb" "$raw"
  done
  mkdir -p "$root/usr/include" "$root/usr/lib"
  cp -a "$raw/usr/include/mipsel-linux-musl/." /usr/${cross%-}/include/{linux,asm,asm-generic} "$root/usr/include/"
  cp -a "$raw/usr/lib/mipsel-linux-musl/." "$raw/lib/mipsel-linux-musl/libc.so" "$root/usr/lib/"
  touch "$root/.stamp"
}

build() {  # build NAME LOADER [CMAKE ARGS]: the shipped targets (and the probe) against root OUT/NAME
  local dir=$out/build-$1
  say "build $1"
  cmake -S "$repo" -B "$dir" -G Ninja -DBRIM_WERROR=ON -DBRIM_TESTS=OFF -DCMAKE_BUILD_TYPE=MinSizeRel \
    -DCMAKE_TOOLCHAIN_FILE="$repo/cmake/mipsel-small-libc.cmake" -DBRIM_LIBC_ROOT="$out/$1" \
    -DBRIM_LIBC_LOADER="$2" -DBRIM_LINK_STUBS="$out/stubs" "${@:3}" >"$dir.cmake.log" 2>&1 ||
    { cat "$dir.cmake.log"; return 1; }
  local targets=(brim brim_init apmib)
  [[ " $* " != *" -DBRIM_LIBC_PROBE=ON "* ]] || targets+=(libc_probe)
  nice -n 10 ninja -C "$dir" -j"$(nproc)" "${targets[@]}"
}
needs() {  # needs ELF LIBC: NEEDED has LIBC and nothing of glibc's or libstdc++
  local n
  n=$(readelf -d "$1" | grep NEEDED)
  echo "$n"
  grep -q "\[$2\]" <<<"$n" && ! grep -Eq '\[(libc\.so\.6|libstdc\+\+|ld\.so\.1|libgcc_s)' <<<"$n"
}
spawns() { nm -D --undefined-only "$1" | grep -w posix_spawn; }
# The store library reads wlan_idx and vwlan_idx from the process (libbrim.so has them), so it
# cannot link with --no-undefined; the same check by name: what it needs, the C library or
# libbrim.so defines.
libc_of() {  # libc_of ROOT: its C library's files
  case $1 in musl) echo "$out/musl/usr/lib/libc.so" ;; *) echo "$out/$1/lib/libc.so.0 $out/$1/lib/ld-uClibc.so.0" ;; esac
}
resolved() {  # resolved ELF DEFINER...: prints what ELF needs that no DEFINER defines
  comm -23 <(nm -D --undefined-only "$1" | awk '$1 == "U" { print $2 }' | sort -u) \
    <(for d in "${@:2}"; do nm -D --defined-only "$d"; done | awk '{ sub(/@.*/, "", $3); print $3 }' | sort -u) | grep . && return 1
  return 0
}

build_phase() {
  local b f
  say "uClibc-ng sysroots"
  bash scripts/target-uclibc.sh "$out"
  say "musl for mipsel"
  musl_root
  bash scripts/musl-stubs.sh "$out/stubs" "${cross}gcc -nostdlib"
  build uclibc-rt /lib/ld-uClibc.so.0 -DBRIM_LIBC_PROBE=ON
  build uclibc-nort /lib/ld-uClibc.so.0 -DBRIM_LIBC_PROBE=ON -DBRIM_POSIX_SPAWN=OFF
  build musl /lib/ld-musl-mipsel.so.1

  # What each build links: its own C library, never glibc's or libstdc++; posix_spawn only where
  # the C library has it.
  for b in uclibc-rt:libc.so.0 uclibc-nort:libc.so.0 musl:libc.so; do
    for f in libbrim.so brim_init platform/libapmib.so; do
      check "${b%:*}: $f needs ${b#*:} and no glibc, libstdc++ or libgcc_s" needs "$out/build-${b%:*}/$f" "${b#*:}"
    done
  done
  for b in uclibc-rt uclibc-nort musl; do
    # shellcheck disable=SC2046  # libc_of gives one or two paths without blanks
    check "$b: platform/libapmib.so needs only the C library's names and the process's" resolved \
      "$out/build-$b/platform/libapmib.so" "$out/build-$b/libbrim.so" $(libc_of "$b")
  done
  check "uclibc-rt: libbrim.so spawns with posix_spawn" spawns "$out/build-uclibc-rt/libbrim.so"
  check "uclibc-nort: libbrim.so names no posix_spawn" eval '! spawns "$out/build-uclibc-nort/libbrim.so"'

  # The probe on uClibc-ng's loader under qemu-user (its /lib is the sysroot's).
  for f in rt nort; do
    say "probe on uclibc-$f under qemu-user"
    rm -rf "$out/scratch-$f" && mkdir -p "$out/scratch-$f"
    show=1 check "uclibc-$f: probe under qemu-user" \
      qemu-mipsel -L "$out/uclibc-$f" "$out/build-uclibc-$f/libc_probe" "$out/scratch-$f"
  done
}

# Both probes inside the emulated router, on one boot: each build's libraries in
# /opt/uclibc/<flavour>/lib, first on the library path (the image's own are glibc's); the loader,
# the same file in both flavours, as /lib/ld-uClibc.so.0.
vm_phase() {
  local guest=$out/guest f
  [ -x "$vm_build/brim_init" ] || { echo "FAIL  no router build in $vm_build"; fails=$((fails + 1)); return; }
  bash scripts/router-image.sh --if-stale "$vm_build" >"$out/router-image.log" 2>&1 || { cat "$out/router-image.log"; return 1; }
  rm -rf "$guest"
  for f in rt nort; do
    cmp "$out/uclibc-rt/lib/ld-uClibc.so.0" "$out/uclibc-$f/lib/ld-uClibc.so.0"
    mkdir -p "$guest/$f/lib"
    cp -a "$out/uclibc-$f/lib/." "$out/build-uclibc-$f"/libbrim.so* "$out/build-uclibc-$f"/platform/lib{apmib,vzmqtt}.so \
      "$out/stubs/lib"/*.so.1 "$guest/$f/lib/"
    cp "$out/build-uclibc-$f/libc_probe" "$guest/$f/"
  done
  cp -L "$out/uclibc-rt/lib/ld-uClibc.so.0" "$out/ld-uClibc.so.0"
  say "probe on uclibc-rt and uclibc-nort in the emulated router"
  show=1 check "uclibc-rt and uclibc-nort: probe in the emulated router" bash sandbox/brim-vm --build "$vm_build" run \
    --add "$guest:/opt/uclibc" --add "$out/ld-uClibc.so.0:/lib/ld-uClibc.so.0" -- sh -c '
      rc=0
      for f in rt nort; do
        echo "== uclibc-$f"
        export LD_LIBRARY_PATH=/opt/uclibc/$f/lib
        LD_TRACE_LOADED_OBJECTS=1 /opt/uclibc/$f/libc_probe >/tmp/loaded-$f
        grep "libc\.so\|ld-uClibc" /tmp/loaded-$f
        grep -q "^.libc\.so\.0 => /opt/uclibc/$f/lib/libc\.so\.0" /tmp/loaded-$f || rc=1
        mkdir -p /tmp/probe-$f
        /opt/uclibc/$f/libc_probe /tmp/probe-$f || rc=1
      done
      exit $rc'
}

[ "$phase" = vm ] || build_phase
[ "$phase" = build ] || vm_phase
say "$fails failed"
[ "$fails" -eq 0 ]
