#!/usr/bin/env bash
# Builds the router's own C library, uClibc-ng for 32-bit little-endian MIPS, from Debian's
# uclibc-source with Debian's cross compiler, in two flavours:
#   rt     with the advanced realtime option (posix_spawn in libc)
#   nort   without it (no posix_spawn, as on many routers)
# Each is a root for cmake/mipsel-small-libc.cmake: usr/include (uClibc-ng's headers and the
# kernel's), usr/lib (crt1.o, crti.o, crtn.o, libc.so), lib (ld-uClibc.so.0, libc.so.0).
# Cached under ${BRIM_CACHE:-/var/cache/brimlib}/uclibc/KEY, KEY a digest of the versions of the
# source, the compiler, binutils and the kernel's headers, and of this script (which holds the
# configuration): a second run costs nothing, another checkout on the machine shares it. OUT/uclibc-rt and OUT/uclibc-nort link there.
#   bash scripts/target-uclibc.sh OUT
set -euo pipefail
USAGE="usage: bash scripts/target-uclibc.sh OUT
Builds uClibc-ng for mipsel with and without posix_spawn (cached under \${BRIM_CACHE:-/var/cache/brimlib})
and links them as OUT/uclibc-rt and OUT/uclibc-nort."
. "$(dirname "${BASH_SOURCE[0]}")/lib/usage.sh"
usage_args 1 "$@"
[ $# -eq 1 ] || usage_error
out=$1
mkdir -p "$out"
out=$(cd "$out" && pwd)
cross=mipsel-linux-gnu-
tarball=$(ls /usr/src/uClibc-ng-*.tar.xz 2>/dev/null | sed -n 1p)
[ -n "$tarball" ] || { echo "target-uclibc: no /usr/src/uClibc-ng-*.tar.xz (package uclibc-source)" >&2; exit 1; }
key=$({ dpkg-query -W -f '${Package} ${Version}\n' uclibc-source binutils-${cross%-} linux-libc-dev-${cross%%-*}-cross
  ${cross}gcc --version | head -n1; cat "$0"; } | sha256sum | cut -c1-16)
cache=${BRIM_CACHE:-/var/cache/brimlib}/uclibc
dest=$cache/$key
t0=$SECONDS
say() { printf 'target-uclibc: [%3d s] %s\n' $((SECONDS - t0)) "$*"; }

link_out() { ln -sfn "$dest/rt" "$out/uclibc-rt" && ln -sfn "$dest/nort" "$out/uclibc-nort"; }
mkdir -p "$cache"
exec 9>"$cache/.lock"
flock 9  # one build at a time; a second caller then finds it done
if [ -f "$dest/.done" ]; then
  link_out
  say "cached in $dest"
  exit 0
fi

work=$(mktemp -d "$cache/build.XXXXXX")
trap 'rm -rf "$work"' EXIT
say "unpacking $(basename "$tarball")"
tar -xJf "$tarball" -C "$work"
src=$(ls -d "$work"/uClibc-ng-*)
cd "$src"
# Without the advanced realtime option, libc would get clock_gettime twice (librt's, which it
# keeps for that option, and the plain one): leave librt's out then, as it does with spawn.c.
sed -i 's/^\tspawn\.c \\$/\tclock_gettime.c \\\n\tspawn.c \\/' librt/Makefile.in
grep -q '^	clock_gettime.c \\$' librt/Makefile.in || { echo "target-uclibc: librt/Makefile.in changed" >&2; exit 1; }
# The archives keep only objects that have symbols, found with a shell and an nm per object, for
# each of some 1300 objects and each archive: over half of the build's time. One nm over them all
# gives the same objects in the same order (libc and its loader come out byte for byte the same).
sed -i 's#^\t$(foreach o,$(2),$(if $(shell $(NM) $(1) $(o) | grep .),$(o)))$#\t$(shell $(NM) -A $(1) $(2) 2>/dev/null | cut -d: -f1 | uniq)#' Makerules
grep -q 'NM) -A' Makerules || { echo "target-uclibc: Makerules changed" >&2; exit 1; }

set_opt() {  # set_opt NAME VALUE|n
  sed -i -e "/^$1=/d" -e "/^# $1 is not set/d" .config
  if [ "$2" = n ]; then echo "# $1 is not set" >>.config; else echo "$1=$2" >>.config; fi
}
say "configuring: defconfig, little endian, NPTL, wide characters (C++), SUSv3 legacy (usleep), as a router's: C99 math, resolver, IPv6, getifaddrs, utmp(x)"
make -s ARCH=mips defconfig >/dev/null
set_opt ARCH_WANTS_BIG_ENDIAN n
set_opt ARCH_WANTS_LITTLE_ENDIAN y
set_opt HAS_NO_THREADS n
set_opt UCLIBC_HAS_THREADS_NATIVE y
set_opt UCLIBC_HAS_WCHAR y  # the C++ headers' <cwchar>, reached through <string_view>
set_opt UCLIBC_SUSV3_LEGACY y
# What a router's programs (busybox, mosquitto, OpenSSL, cJSON) want of it: C99 math (isnan,
# lrint...), the DNS resolver, IPv6, getifaddrs (over netlink, with AI_ADDRCONFIG), utmp and
# utmpx (login records), %m in printf.
for o in DO_C99_MATH UCLIBC_HAS_RESOLVER_SUPPORT UCLIBC_HAS_IPV6 UCLIBC_USE_NETLINK \
  UCLIBC_SUPPORT_AI_ADDRCONFIG UCLIBC_HAS_UTMP UCLIBC_HAS_UTMPX UCLIBC_HAS_PRINTF_M_SPEC; do
  set_opt $o y
done
set_opt KERNEL_HEADERS "\"/usr/${cross%-}/include\""
set_opt CROSS_COMPILER_PREFIX "\"$cross\""
set_opt RUNTIME_PREFIX '"/"'
set_opt DEVEL_PREFIX '"/usr/"'
set_opt UCLIBC_HAS_ADVANCED_REALTIME y
make -s olddefconfig >/dev/null
for o in DO_C99_MATH UCLIBC_HAS_RESOLVER_SUPPORT UCLIBC_HAS_IPV6 UCLIBC_SUPPORT_AI_ADDRCONFIG UCLIBC_HAS_UTMPX; do
  grep -qx "$o=y" .config || { echo "target-uclibc: $o did not stay set" >&2; exit 1; }
done

install_root() {  # install_root NAME [MAKE ARGS]: installs the tree as it is built into $work/NAME
  make -s PREFIX="$work/$1" "${@:2}" install >/dev/null
  cp -a /usr/${cross%-}/include/{linux,asm,asm-generic} "$work/$1/usr/include/"
}
jobs=$(nproc 2>/dev/null || echo 2)
say "building with the advanced realtime option"
nice -n 10 make -s -j"$jobs" >"$work/rt.log" 2>&1 || { tail -n 30 "$work/rt.log"; exit 1; }
install_root rt

# The option adds or drops whole sources (posix_spawn and its file actions, posix_fadvise,
# posix_madvise, posix_memalign, librt's clock_gettime) and only declarations in the headers, so
# every other object stays as it is: regenerate the configuration headers, build what the new
# source list lacks and link again, holding the objects' common header as unchanged. For 1.0.35
# this gives libc and its loader byte for byte as a build from scratch without the option does.
say "rebuilding what the option changes, without it"
set_opt UCLIBC_HAS_ADVANCED_REALTIME n
make -s olddefconfig >/dev/null
make -s headers >/dev/null
find . -name '*.a' -not -path './extra/*' -delete
rm -f lib/*.so*
keep=(-o include/bits/uClibc_config.h)
nice -n 10 make -s -j"$jobs" "${keep[@]}" >"$work/nort.log" 2>&1 || { tail -n 30 "$work/nort.log"; exit 1; }
install_root nort "${keep[@]}"

# What each flavour is for.
grep -q ' T posix_spawn$' <<<"$(nm -D "$work/rt/lib/libc.so.0")" || { echo "target-uclibc: rt has no posix_spawn" >&2; exit 1; }
! grep -q posix_spawn <<<"$(nm -D "$work/nort/lib/libc.so.0")" || { echo "target-uclibc: nort has posix_spawn" >&2; exit 1; }
[ ! -e "$work/nort/usr/include/spawn.h" ] || { echo "target-uclibc: nort has spawn.h" >&2; exit 1; }
rm -rf "$dest"
mkdir -p "$dest"
mv "$work/rt" "$work/nort" "$dest/"
touch "$dest/.done"
link_out
say "done: $dest/rt and $dest/nort ($(du -sh "$dest" | cut -f1))"
