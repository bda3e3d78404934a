#!/usr/bin/env bash
# Builds our package as a firmware build system builds a CMake package, against the router's SDK
# (scripts/router-sdk.sh): the configure line the system generates, with the recipe's own options
# read from the recipe in contrib/, then the build and the installs into a staging and a target
# directory. No toolchain file of ours, nothing of the build machine's libraries.
#   bash scripts/firmware-build.sh openwrt [BUILD] [SDK]     # BUILD default build-uclibc
#   bash scripts/firmware-build.sh buildroot [BUILD] [SDK]   # BUILD default build-buildroot
# SDK defaults to build-sdk. BUILD/fw/staging is a copy of the SDK's staging with the package
# installed, BUILD/fw/target what the recipe puts on the router. Then the footprint of libbrim.so
# and brim_init under these flags against the flash budget.
set -euo pipefail
USAGE="usage: bash scripts/firmware-build.sh openwrt|buildroot [BUILD] [SDK]
Builds our package by the configure line OpenWrt or Buildroot writes from its recipe (contrib/),
against the router's SDK (default build-sdk, scripts/router-sdk.sh), into BUILD (default
build-uclibc for openwrt, build-buildroot for buildroot): BUILD/fw/staging and BUILD/fw/target,
then the footprint against the flash budget."
. "$(dirname "${BASH_SOURCE[0]}")/lib/usage.sh"
usage_args 3 "$@"
repo=$(cd "$(dirname "$0")/.." && pwd)
cd "$repo"
system=${1:-}
case $system in
  openwrt) build=${2:-build-uclibc} recipe=$repo/contrib/openwrt/brimlib/Makefile ;;
  buildroot) build=${2:-build-buildroot} recipe=$repo/contrib/buildroot/brimlib/brimlib.mk ;;
  *) usage_error "openwrt or buildroot, not '$system'" ;;
esac
sdk=${3:-$repo/build-sdk}
[ -x "$sdk/bin/mipsel-linux-uclibc-gcc" ] || { echo "firmware-build: no SDK in $sdk (scripts/router-sdk.sh)" >&2; exit 1; }
sdk=$(cd "$sdk" && pwd)
mkdir -p "$build"
build=$(cd "$build" && pwd)
tc=$sdk/bin/mipsel-linux-uclibc-
jobs=2
t0=$SECONDS
say() { printf 'firmware-build: [%3d s] %s\n' $((SECONDS - t0)) "$*"; }

# Another SDK (another cache entry) has other compilers and libraries behind the same names, which
# the build's own records do not see: start from nothing then.
sdk_id=$(readlink -f "$sdk")
if [ -f "$build/CMakeCache.txt" ] && [ "$(cat "$build/.sdk" 2>/dev/null)" != "$sdk_id" ]; then
  find "$build" -mindepth 1 -delete
fi
echo "$sdk_id" >"$build/.sdk"
fw=$build/fw
rm -rf "$fw"
mkdir -p "$fw/target" "$fw/host/bin" "$fw/stub"
staging=$fw/staging
cp -al "$sdk/staging/." "$staging" 2>/dev/null || cp -a "$sdk/staging/." "$staging"
# The build systems' pkg-config: the staging's .pc files only.
cat >"$fw/host/bin/pkg-config" <<EOF
#!/bin/sh
PKG_CONFIG_LIBDIR=$staging/usr/lib/pkgconfig:$staging/usr/share/pkgconfig PKG_CONFIG_SYSROOT_DIR=$staging \\
PKG_CONFIG_PATH= exec $(command -v pkg-config) "\$@"
EOF
chmod +x "$fw/host/bin/pkg-config"
export PATH=$fw/host/bin:$PATH
unset PKG_CONFIG_PATH PKG_CONFIG_LIBDIR PKG_CONFIG_SYSROOT_DIR CFLAGS CXXFLAGS LDFLAGS

# The recipe's variables, as its build system's make sees them (its includes stubbed).
recipe_make() {  # recipe_make TARGET
  make -s --no-print-directory -f "$fw/stub/pkg-cmake.mk" -f "$recipe" -f "$fw/stub/print.mk" TOPDIR="$fw/stub" \
    INCLUDE_DIR="$fw/stub" STAGING_DIR="$staging" TARGET_DIR="$fw/target" PKG_INSTALL_DIR="$fw/ipkg-install" "$1"
}
recipe_var() { recipe_make "print-$1"; }
printf '%s\n' 'print-%: ; @printf "%s\n" '\''$($*)'\''' \
  'define newline' '' '' 'endef' \
  'install-target: ; $(foreach p,$(PACKAGES),$(call Package/$(p)/install,$(TARGET_DIR))$(newline))' >"$fw/stub/print.mk"
: >"$fw/stub/rules.mk"
: >"$fw/stub/cmake.mk"
printf '%s\n' 'BuildPackage = $(eval PACKAGES += $(1))' 'INSTALL_DIR := install -d -m0755' \
  'INSTALL_BIN := install -m0755' 'INSTALL_DATA := install -m0644' 'CP := cp -fpR' >"$fw/stub/package.mk"
printf '%s\n' 'cmake-package =' >"$fw/stub/pkg-cmake.mk"

if [ "$system" = openwrt ]; then
  # include/cmake.mk's Build/Configure/Default, for a MIPS 24Kc target (its TARGET_CFLAGS), with
  # the toolchain's own binutils, Ninja, and the install into PKG_INSTALL_DIR.
  target_cflags="-Os -pipe -mno-branch-likely -mips32r2 -mtune=24kc -fno-caller-saves -fno-plt"
  target_ldflags="-L$staging/usr/lib -L$staging/lib -znow -zrelro"
  # include/package.mk: what a recipe's PKG_BUILD_FLAGS asks for.
  for f in $(recipe_var PKG_BUILD_FLAGS); do
    case $f in
      gc-sections) target_cflags+=" -ffunction-sections -fdata-sections" target_ldflags+=" -Wl,--gc-sections" ;;
      lto) target_cflags+=" -flto=auto -fno-fat-lto-objects" target_ldflags+=" -flto=auto -fuse-linker-plugin" ;;
      *) echo "firmware-build: PKG_BUILD_FLAGS $f is not modelled here" >&2; exit 1 ;;
    esac
  done
  eval "opts=($(recipe_var CMAKE_OPTIONS))"
  say "configuring as OpenWrt does; the recipe's options: ${opts[*]}"
  rm -f "$build/CMakeCache.txt"
  (cd "$build" &&
    CFLAGS="$target_cflags" CXXFLAGS="$target_cflags" LDFLAGS="$target_ldflags" \
      cmake --no-warn-unused-cli -DCMAKE_SYSTEM_NAME=Linux -DCMAKE_SYSTEM_VERSION=1 -DCMAKE_SYSTEM_PROCESSOR=mipsel \
      -DCMAKE_BUILD_TYPE=Release -DCMAKE_C_FLAGS_RELEASE="-DNDEBUG" -DCMAKE_CXX_FLAGS_RELEASE="-DNDEBUG" \
      -DCMAKE_C_COMPILER_LAUNCHER="" -DCMAKE_C_COMPILER="${tc}gcc" \
      -DCMAKE_CXX_COMPILER_LAUNCHER="" -DCMAKE_CXX_COMPILER="${tc}g++" \
      -DCMAKE_ASM_COMPILER_LAUNCHER="" -DCMAKE_ASM_COMPILER="${tc}gcc" \
      -DCMAKE_EXE_LINKER_FLAGS:STRING="$target_ldflags" \
      -DCMAKE_MODULE_LINKER_FLAGS:STRING="$target_ldflags -Wl,-Bsymbolic-functions" \
      -DCMAKE_SHARED_LINKER_FLAGS:STRING="$target_ldflags -Wl,-Bsymbolic-functions" \
      -DCMAKE_AR="${tc}gcc-ar" -DCMAKE_NM="${tc}gcc-nm" -DCMAKE_RANLIB="${tc}gcc-ranlib" \
      -DCMAKE_FIND_ROOT_PATH="$staging/usr;$sdk" -DCMAKE_FIND_ROOT_PATH_MODE_PROGRAM=NEVER \
      -DCMAKE_FIND_ROOT_PATH_MODE_LIBRARY=ONLY -DCMAKE_FIND_ROOT_PATH_MODE_INCLUDE=ONLY \
      -DCMAKE_STRIP=: -DCMAKE_INSTALL_PREFIX=/usr -DDL_LIBRARY="$staging" -DCMAKE_PREFIX_PATH="$staging" \
      -DCMAKE_SKIP_RPATH=TRUE -DCMAKE_EXPORT_PACKAGE_REGISTRY=FALSE -DCMAKE_EXPORT_NO_PACKAGE_REGISTRY=TRUE \
      -DCMAKE_FIND_USE_PACKAGE_REGISTRY=FALSE -DCMAKE_FIND_PACKAGE_NO_PACKAGE_REGISTRY=TRUE \
      -DCMAKE_FIND_USE_SYSTEM_PACKAGE_REGISTRY=FALSE -DCMAKE_FIND_PACKAGE_NO_SYSTEM_PACKAGE_REGISTRY=TRUE \
      -DCMAKE_GENERATOR="Ninja" -DCMAKE_C_FLAGS="$target_cflags" "${opts[@]}" "$repo")
  say "building"
  nice -n 5 ninja -C "$build" -j$jobs
  DESTDIR=$fw/ipkg-install ninja -C "$build" install >/dev/null
  # Build/InstallDev (CMAKE_INSTALL:=1): everything installed goes to the staging directory;
  # each package's install section says what goes to the router.
  [ -n "$(recipe_var CMAKE_INSTALL)" ] && cp -fpR "$fw/ipkg-install/." "$staging/"
  recipe_make install-target
  out=$build
else
  # package/pkg-cmake.mk: a local package is copied into the build directory and built in its
  # source tree with Buildroot's toolchain file (support/misc/toolchainfile.cmake.in), then
  # installed with install/fast into the staging and the target directories.
  src=$fw/brimlib-$(recipe_var BRIMLIB_VERSION)
  mkdir -p "$src"
  git ls-files -z | xargs -0 cp --parents -t "$src"
  share=$fw/host/share/buildroot
  mkdir -p "$share/Platform"
  echo 'include(Platform/Linux)' >"$share/Platform/Buildroot.cmake"
  target_cflags="-D_LARGEFILE_SOURCE -D_LARGEFILE64_SOURCE -D_FILE_OFFSET_BITS=64 -Os -g0"
  cat >"$share/toolchainfile.cmake" <<EOF
list(APPEND CMAKE_MODULE_PATH \${CMAKE_CURRENT_LIST_DIR})
set(CMAKE_SYSTEM_NAME Buildroot)
set(CMAKE_SYSTEM_VERSION 1)
set(CMAKE_SYSTEM_PROCESSOR mipsel)
set(CMAKE_C_FLAGS_DEBUG "" CACHE STRING "Debug CFLAGS")
set(CMAKE_C_FLAGS_RELEASE " -DNDEBUG" CACHE STRING "Release CFLAGS")
set(CMAKE_C_FLAGS "$target_cflags" CACHE STRING "Buildroot CFLAGS")
set(CMAKE_EXE_LINKER_FLAGS "" CACHE STRING "Buildroot LDFLAGS for executables")
set(CMAKE_SHARED_LINKER_FLAGS "" CACHE STRING "Buildroot LDFLAGS for shared libraries")
set(CMAKE_MODULE_LINKER_FLAGS "" CACHE STRING "Buildroot LDFLAGS for module libraries")
set(CMAKE_INSTALL_SO_NO_EXE 0)
set(CMAKE_PROGRAM_PATH "$fw/host/bin")
set(CMAKE_SYSROOT "$staging")
set(CMAKE_FIND_ROOT_PATH "$staging")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(ENV{PKG_CONFIG_SYSROOT_DIR} "$staging")
set(CMAKE_C_COMPILER "${tc}gcc")
set(CMAKE_CXX_FLAGS_DEBUG "" CACHE STRING "Debug CXXFLAGS")
set(CMAKE_CXX_FLAGS_RELEASE " -DNDEBUG" CACHE STRING "Release CXXFLAGS")
set(CMAKE_CXX_FLAGS "$target_cflags" CACHE STRING "Buildroot CXXFLAGS")
set(CMAKE_CXX_COMPILER "${tc}g++")
EOF
  eval "opts=($(recipe_var BRIMLIB_CONF_OPTS))"
  say "configuring as Buildroot does; the recipe's options: ${opts[*]}"
  (cd "$src" && rm -f CMakeCache.txt &&
    cmake "$src" -DCMAKE_TOOLCHAIN_FILE="$share/toolchainfile.cmake" -DCMAKE_BUILD_TYPE=Release \
      -DCMAKE_INSTALL_PREFIX="/usr" -DCMAKE_COLOR_MAKEFILE=OFF -DBUILD_DOC=OFF -DBUILD_DOCS=OFF \
      -DBUILD_EXAMPLE=OFF -DBUILD_EXAMPLES=OFF -DBUILD_TEST=OFF -DBUILD_TESTS=OFF -DBUILD_TESTING=OFF \
      -DBUILD_SHARED_LIBS=ON "${opts[@]}")
  say "building"
  nice -n 5 make -j$jobs -C "$src"
  make DESTDIR="$staging" install/fast -C "$src" >/dev/null
  make DESTDIR="$fw/target" install/fast -C "$src" >/dev/null
  out=$src
fi

# What reaches the router: every ELF on uClibc-ng's loader or a library, none needing libstdc++.
say "the router's files:"
(cd "$fw/target" && find . ! -type d | LC_ALL=C sort | sed 's/^\./  /')
bad=0
while read -r f; do
  if "${tc}readelf" -d "$f" | grep -q 'NEEDED.*libstdc++'; then echo "$f needs libstdc++"; bad=1; fi
  interp=$("${tc}readelf" -l "$f" | sed -n 's/.*Requesting program interpreter: \(.*\)]/\1/p')
  case $interp in '' | /lib/ld-uClibc.so.*) ;; *) echo "$f asks for $interp"; bad=1 ;; esac
done < <(find "$fw/target" -type f -exec sh -c 'head -c4 "$1" | grep -q ELF' _ {} \; -print)
[ $bad = 0 ]
[ -e "$staging/usr/include/brimlib.h" ] && [ -e "$staging/usr/lib/pkgconfig/brimlib.pc" ]
# Printed against the budget, not held to it: the budget is the router build's (MinSizeRel, LTO).
BRIM_FOOTPRINT_STRICT=0 bash scripts/footprint.sh "$out" "$tc"
# With -zrelro the data segment starts on a new 64 KiB page of MIPS's maximum page size, and the
# file holds the gap as zeros, which squashfs compresses away: the bytes that load count.
loaded=$("${tc}size" "$fw/target/usr/lib/"libbrim.so.*.*.* "$fw/target/usr/bin/brim_init" | awk 'NR > 1 { s += $1 + $2 } END { print s }')
say "libbrim.so + brim_init: $loaded bytes of code and data, budget 65536 (64 KiB): ratio $(awk -v a="$loaded" 'BEGIN { printf "%.3f", a / 65536 }')"
say "done ($system)"
