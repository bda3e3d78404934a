#!/usr/bin/env bash
# Builds the emulated router's image from a router build (default build-mipsel16):
#   BUILD/router/vmlinuz          Debian's Malta kernel (32-bit little-endian MIPS)
#   BUILD/router/rootfs.cpio.gz   its initramfs: busybox, the broker, our part, the stand-ins
#
#   bash scripts/router-image.sh [--if-stale] [BUILD]
#
# --if-stale: only when the image is missing or older than what it is made of. One run at a time
# per build (a lock), and the image is made aside and moved into place, so a run beside a boot or
# another run never leaves either of them half an image.
#
# The root file system is what a firmware holds: Debian's mipsel busybox (dynamic; its static
# build only for the two applets the dynamic one lacks, passwd and telnetd), mosquitto as the
# firmware's broker (and mosquitto_passwd, which writes its password file at boot), the C library
# and the libraries these need (found from their NEEDED entries), the Ethernet drivers as kernel
# modules; our part installed as a firmware build installs it;
# stand-ins only for what only the vendor has (the store and MQTT client libraries, the factory
# store, flash, sysconf, iwpriv, init.sh, killsh.sh, vz_daemon, vz_broker, the Ethernet driver's
# WAN link request); image/ laid over it (init, rcS, the router's /etc).
# Debian's packages are fetched with apt-get download, unpacked with dpkg -x and kept in
# ${BRIM_CACHE:-/var/cache/brimlib}/debs; the kernel is pinned by its ABI name.
set -euo pipefail
USAGE="usage: bash scripts/router-image.sh [--if-stale] [BUILD]
Makes the emulated router's image (BUILD/router: Debian's Malta kernel, an initramfs with
busybox, mosquitto and the build installed) from a router build (default build-mipsel16).
--if-stale: only when the image is missing or older than what it is made of."
. "$(dirname "${BASH_SOURCE[0]}")/lib/usage.sh"
USAGE_OPTS=--if-stale usage_args 1 "$@"
repo=$(cd "$(dirname "$0")/.." && pwd)
cd "$repo"
if_stale=0
[ "${1:-}" = --if-stale ] && { if_stale=1; shift; }
[ -d "${1:-build-mipsel16}" ] || usage_error "no build directory ${1:-build-mipsel16}"
build=$(cd "${1:-build-mipsel16}" && pwd)
kabi=6.1.0-50-4kc-malta
pkgs=(linux-image-$kabi busybox busybox-static mosquitto libdlt2 libsystemd0 libwrap0 libcap2 libgcrypt20
  libgpg-error0 liblz4-1 liblzma5 libzstd1 libnsl2 libtirpc3 libgssapi-krb5-2 libkrb5-3 libk5crypto3
  libcom-err2 libkrb5support0 libkeyutils1)
cache=${BRIM_CACHE:-/var/cache/brimlib}/debs
image=$build/router
out=$build/router.new
root=$out/root
cross=mipsel-linux-gnu-
t0=$SECONDS
say() { printf 'router-image: [%3d s] %s\n' $((SECONDS - t0)) "$*"; }

[ -x "$build/brim_init" ] || { echo "router-image: $build/brim_init is not built" >&2; exit 1; }
sysroot=$(sed -n 's/^BRIM_TARGET_SYSROOT:[A-Z]*=//p' "$build/CMakeCache.txt")
# The image is installed under /usr, where the subscriber looks for modules by default.
prefix=$(sed -n 's/^CMAKE_INSTALL_PREFIX:[A-Z]*=//p' "$build/CMakeCache.txt")
[ "$prefix" = /usr ] || { echo "router-image: $build is configured for $prefix, not /usr (-DCMAKE_INSTALL_PREFIX=/usr)" >&2; exit 1; }
[ -e "$sysroot/lib/ld.so.1" ] || { echo "router-image: no target sysroot in $sysroot (scripts/target-sysroot.sh)" >&2; exit 1; }

exec 9>"$build/router.lock"
flock 9
# What the image is made of, newer than it: the repository's part, and the build's outputs (files
# only: a reconfigure touches directories and generated files without changing what is installed).
stale() {
  [ -f "$image/size.txt" ] || return 0
  [ -n "$(find image platform/bin platform/factory.store platform/web_brim scripts/router-image.sh ! -type d \
    -newer "$image/size.txt" -print -quit)$(find "$build" \( -name CMakeFiles -o -path "$build/router*" \) -prune -o \
    -type f \( -name '*.so' -o -name '*.so.*' -o -name brim_init -o -name apmib \) -newer "$image/size.txt" -print -quit)" ]
}
if [ $if_stale = 1 ] && ! stale; then
  say "up to date: $image"
  exit 0
fi

# Fetch what the cache lacks; the mipsel package lists are added once.
mkdir -p "$cache"
missing=()
for p in "${pkgs[@]}"; do
  compgen -G "$cache/${p}_*_mipsel.deb" >/dev/null || missing+=("$p:mipsel")
done
if [ ${#missing[@]} -gt 0 ]; then
  say "fetching ${missing[*]}"
  if ! apt-cache show busybox:mipsel >/dev/null 2>&1; then
    dpkg --print-foreign-architectures | grep -qx mipsel || dpkg --add-architecture mipsel
    apt-get update -qq
  fi
  (cd "$cache" && apt-get download -qq "${missing[@]}" 2>&1 | grep -v '^W: Download is performed unsandboxed' || true)
  for p in "${missing[@]}"; do
    compgen -G "$cache/${p%:mipsel}_*_mipsel.deb" >/dev/null || { echo "router-image: $p was not downloaded" >&2; exit 1; }
  done
fi

rm -rf "$out"
mkdir -p "$root" "$out/debs"
for p in "${pkgs[@]}"; do
  [ "$p" = busybox-static ] && continue  # same path as busybox's: unpacked apart below
  dpkg -x "$(compgen -G "$cache/${p}_*_mipsel.deb" | head -n1)" "$out/debs"
done
mkdir -p "$out/static"
dpkg -x "$(compgen -G "$cache/busybox-static_*_mipsel.deb" | head -n1)" "$out/static"

# The file system's skeleton, busybox and its applets (the list comes from busybox itself, run
# under qemu-user), the two static applets.
(cd "$root" && mkdir -p bin sbin lib/modules usr/bin usr/sbin usr/lib/mipsel-linux-gnu proc sys dev tmp root \
  mnt var/log var/run var/js etc/udhcpc opt/brim/bin opt/brim/libexec web_brim/js)
chmod 1777 "$root/tmp"
chmod 0700 "$root/root"
cp "$out/debs/bin/busybox" "$root/bin/busybox"
cp "$out/static/bin/busybox" "$root/bin/busybox-static"
QEMU_LD_PREFIX=$sysroot qemu-mipsel -L "$sysroot" "$root/bin/busybox" --list-full | while read -r a; do
  [ -e "$root/$a" ] || ln -s /bin/busybox "$root/$a"
done
ln -s /bin/busybox-static "$root/usr/bin/passwd"
ln -s /bin/busybox-static "$root/usr/sbin/telnetd"
ln -s bin/busybox "$root/init"

# The kernel and the modules the router's Ethernet ports need.
mods=$out/debs/lib/modules/$kabi/kernel
cp "$out/debs/boot/vmlinuz-$kabi" "$out/vmlinuz"
cp "$mods/drivers/net/mii.ko" "$mods/drivers/net/ethernet/amd/pcnet32.ko" "$mods/net/llc/llc.ko" \
  "$mods/net/802/stp.ko" "$mods/net/bridge/bridge.ko" "$root/lib/modules/"

# Our part, as a firmware build installs it (the runtime, and the example handler module), and the
# platform's stand-ins for the vendor's.
for c in runtime examples platform; do cmake --install "$build" --component $c --prefix "$root/usr"; done >/dev/null
rm -rf "$root/usr/lib/cmake"  # the stand-ins' CMake export: a build's, not the router's
"${cross}strip" --strip-unneeded "$root/usr/lib/"lib*.so* "$root/usr/lib/brim/modules/"*.so
"${cross}strip" --strip-all "$root/usr/bin/brim_init" "$root/usr/bin/apmib"
for f in flash sysconf iwpriv init.sh killsh.sh vz_daemon vz_broker brim-journal brim-bridge-conf udhcpc \
  udhcpc.script; do
  cp "platform/bin/$f" "$root/opt/brim/bin/"
done
ln -s /usr/sbin/mosquitto "$root/opt/brim/libexec/vz_broker"
ln -s /bin/busybox "$root/opt/brim/libexec/udhcpc"
cp "$build/platform/ethdriver/lib/mipsel-linux-gnu/libbrim_ethdriver.so" "$root/usr/lib/"
"${cross}strip" --strip-unneeded "$root/usr/lib/libbrim_ethdriver.so"
echo /usr/lib/libbrim_ethdriver.so >"$root/etc/ld.so.preload"
cp platform/factory.store "$root/etc/apmib.store"
cp platform/web_brim/js/language_*.js "$root/web_brim/js/"
cp "$out/debs/usr/sbin/mosquitto" "$root/usr/sbin/"
cp "$out/debs/usr/bin/mosquitto_passwd" "$root/usr/bin/"

# Every library the programs need, and what those need in turn.
needed() { "${cross}readelf" -d "$1" 2>/dev/null | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p'; }
find_lib() {
  local d
  for d in "$root/usr/lib" "$sysroot/lib" "$out/debs/lib/mipsel-linux-gnu" "$out/debs/usr/lib/mipsel-linux-gnu" \
    "$sysroot/usr/lib/mipsel-linux-gnu"; do
    [ -e "$d/$1" ] && { echo "$d/$1"; return; }
  done
  return 1
}
# The loader, and libgcc_s, which the C library opens itself to unwind a thread that exits (the
# broker's bridge thread does): no NEEDED entry names it.
cp -L "$sysroot/lib/ld.so.1" "$sysroot/lib/libgcc_s.so.1" "$root/lib/"
queue=("$root/bin/busybox" "$root/usr/sbin/mosquitto" "$root/usr/bin/mosquitto_passwd" "$root/usr/bin/brim_init" "$root/usr/bin/apmib"
  "$root/usr/lib/libbrim_ethdriver.so" "$root/usr/lib/brim/modules/"*.so)
declare -A seen=()
while [ ${#queue[@]} -gt 0 ]; do
  f=${queue[0]}
  queue=("${queue[@]:1}")
  for lib in $(needed "$f"); do
    [ -n "${seen[$lib]:-}" ] && continue
    seen[$lib]=1
    [ -e "$root/usr/lib/$lib" ] && { queue+=("$root/usr/lib/$lib"); continue; }
    src=$(find_lib "$lib") || { echo "router-image: no $lib for $f" >&2; exit 1; }
    case $src in "$sysroot/lib/"*) dest=$root/lib ;; *) dest=$root/usr/lib/mipsel-linux-gnu ;; esac
    cp -L "$src" "$dest/$lib"
    "${cross}strip" --strip-unneeded "$dest/$lib" 2>/dev/null || true
    queue+=("$dest/$lib")
  done
done

cp -a image/. "$root/"
(cd "$root" && find . | LC_ALL=C sort | cpio -o -H newc --owner=0:0 --quiet) | gzip -9 >"$out/rootfs.cpio.gz"

# The image's size, and our part of it (the stand-ins are the vendor's, counted apart).
ours=$(stat -c %s "$root/usr/lib/libbrim.so.0"* "$root/usr/bin/brim_init" | awk '{ s += $1 } END { print s }')
stand=$(du -cb "$root/usr/lib/libapmib.so" "$root/usr/lib/libvzmqtt.so" "$root/usr/bin/apmib" "$root/opt/brim" \
  "$root/usr/lib/libbrim_ethdriver.so" | tail -n1 | cut -f1)
unpacked=$(du -sb "$root" | cut -f1)
{
  echo "kernel $(stat -c %s "$out/vmlinuz") bytes, root file system $(stat -c %s "$out/rootfs.cpio.gz") bytes" \
    "compressed ($unpacked unpacked)"
  echo "our part: libbrim.so + brim_init $ours bytes ($(awk -v a="$ours" -v b="$unpacked" 'BEGIN { printf "%.2f", 100 * a / b }')%" \
    "of the unpacked root), the vendor's stand-ins $stand bytes"
} >"$out/size.txt"
rm -rf "$build/router.old"
[ ! -e "$image" ] || mv "$image" "$build/router.old"
mv "$out" "$image"
rm -rf "$build/router.old"
while read -r line; do say "$line"; done <"$image/size.txt"
