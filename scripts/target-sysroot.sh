#!/usr/bin/env bash
# Builds the mipsel sysroot that the cross build links against and qemu runs from:
#   BUILD/sysroot/usr/...  cJSON, libmosquitto and libssl3 (+ -dev) from Debian's mipsel packages
#   BUILD/sysroot/lib/...  the cross toolchain's C library, loader, libgcc_s and libstdc++ (tests)
# The packages are unpacked with dpkg -x, not installed: the mipsel and amd64 libssl3 of this
# release differ in version, so they cannot be co-installed as a foreign architecture.
set -euo pipefail
USAGE="usage: bash scripts/target-sysroot.sh BUILD_DIR
Fetches Debian's mipsel cJSON, libmosquitto and libssl3 and makes BUILD_DIR/sysroot (cached)."
. "$(dirname "${BASH_SOURCE[0]}")/lib/usage.sh"
usage_args 1 "$@"
[ $# -eq 1 ] || usage_error
build=$1
mkdir -p "$build"
build=$(cd "$build" && pwd)
sysroot=$build/sysroot
debs=$build/sysroot-debs
pkgs=(libcjson1 libcjson-dev libmosquitto1 libmosquitto-dev libssl3 libssl-dev)
cross_lib=/usr/mipsel-linux-gnu/lib

# Cached: the stamp names the packages asked for; remove BUILD/sysroot to fetch newer ones.
stamp=$sysroot/.stamp
if [ -f "$stamp" ] && [ "$(head -n1 "$stamp")" = "${pkgs[*]}" ] && [ -e "$sysroot/lib/ld.so.1" ]; then
  exit 0
fi

# The mipsel package lists are needed only to fetch; add them once.
if ! apt-cache show libcjson1:mipsel >/dev/null 2>&1; then
  dpkg --print-foreign-architectures | grep -qx mipsel || dpkg --add-architecture mipsel
  apt-get update -qq
fi

rm -rf "$sysroot" "$debs"
mkdir -p "$sysroot" "$debs"
# apt-get download writes into the working directory; the _apt user may not reach it.
(cd "$debs" && apt-get download -qq $(printf '%s:mipsel ' "${pkgs[@]}") 2>&1 | grep -v '^W: Download is performed unsandboxed' || true)
for p in "${pkgs[@]}"; do
  deb=$(ls "$debs"/"${p}"_*_mipsel.deb 2>/dev/null | sed -n 1p)
  [ -n "$deb" ] || { echo "target-sysroot: $p:mipsel was not downloaded" >&2; exit 1; }
  dpkg -x "$deb" "$sysroot"
done
mkdir -p "$sysroot/lib"
cp -a "$cross_lib"/. "$sysroot/lib/"
{ echo "${pkgs[*]}"; (cd "$debs" && ls *.deb); } >"$stamp"
echo "target-sysroot: $(du -sh "$sysroot" | cut -f1) in $sysroot"
