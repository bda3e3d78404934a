#!/usr/bin/env bash
# Builds the emulated router's image from a router build (default build-mipsel16):
#   BUILD/router/vmlinuz          Debian's Malta kernel (32-bit little-endian MIPS)
#   BUILD/router/rootfs.cpio.gz   its initramfs: busybox, the broker, our part, the stand-ins
#
#   bash scripts/router-image.sh [--if-stale] [BUILD]
#   bash scripts/router-image.sh [--if-stale] --libc uclibc [BUILD]   # BUILD default build-uclibc
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
#
# --libc uclibc: the router as its vendor builds it. Every program and library comes from the
# SDK (scripts/router-sdk.sh) as BUILD/fw holds it after scripts/firmware-build.sh openwrt BUILD:
# uClibc-ng, busybox (passwd and telnetd included), mosquitto, OpenSSL, cJSON and the stand-ins
# from the staging directory, our packages from the target directory; only the kernel is Debian's.
# Every ELF program must ask for uClibc-ng's loader. Its loader reads no /etc/ld.so.preload: the
# Ethernet driver double is preloaded through LD_PRELOAD on the kernel's command line (BUILD/router/append).
set -euo pipefail
USAGE="usage: bash scripts/router-image.sh [--if-stale] [--libc glibc|uclibc] [BUILD]
Makes the emulated router's image (BUILD/router: Debian's Malta kernel, an initramfs with
busybox, mosquitto and the build installed) from a router build (default build-mipsel16).
--if-stale: only when the image is missing or older than what it is made of.
--libc uclibc: every program from the SDK (scripts/router-sdk.sh), our package from the OpenWrt
line's build (scripts/firmware-build.sh openwrt; default build-uclibc)."
. "$(dirname "${BASH_SOURCE[0]}")/lib/usage.sh"
USAGE_OPTS="--if-stale --libc" usage_args 2 "$@"
repo=$(cd "$(dirname "$0")/.." && pwd)
cd "$repo"
if_stale=0 libc=glibc
while [ $# -gt 0 ]; do
  case $1 in
    --if-stale) if_stale=1; shift ;;
    --libc) libc=${2:?--libc glibc|uclibc}; shift 2 ;;
    *) break ;;
  esac
done
case $libc in glibc) def=build-mipsel16 ;; uclibc) def=build-uclibc ;; *) usage_error "--libc glibc|uclibc" ;; esac
[ -d "${1:-$def}" ] || usage_error "no build directory ${1:-$def}"
build=$(cd "${1:-$def}" && pwd)
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
if [ $libc = uclibc ]; then
  pkgs=(linux-image-$kabi)
  sysroot=$build/fw/staging
  [ -x "$build/fw/target/usr/bin/brim_init" ] && [ -e "$sysroot/lib/ld-uClibc.so.0" ] ||
    { echo "router-image: no firmware build in $build/fw (scripts/firmware-build.sh openwrt $build)" >&2; exit 1; }
else
  sysroot=$(sed -n 's/^BRIM_TARGET_SYSROOT:[A-Z]*=//p' "$build/CMakeCache.txt")
  # The image is installed under /usr, where the subscriber looks for modules by default.
  prefix=$(sed -n 's/^CMAKE_INSTALL_PREFIX:[A-Z]*=//p' "$build/CMakeCache.txt")
  [ "$prefix" = /usr ] || { echo "router-image: $build is configured for $prefix, not /usr (-DCMAKE_INSTALL_PREFIX=/usr)" >&2; exit 1; }
  [ -e "$sysroot/lib/ld.so.1" ] || { echo "router-image: no target sysroot in $sysroot (scripts/target-sysroot.sh)" >&2; exit 1; }
fi

exec 9>"$build/router.lock"
flock 9
# What the image is made of, newer than it: the repository's part, and the build's outputs (files
# only: a reconfigure touches directories and generated files without changing what is installed).
stale() {
  [ -f "$image/size.txt" ] || return 0
  [ -n "$(find image platform/bin platform/factory.store platform/web_brim scripts/router-image.sh ! -type d \
    -newer "$image/size.txt" -print -quit)$(find "$build" \( -name CMakeFiles -o -path "$build/router*" \) -prune -o \
    -type f \( -name '*.so' -o -name '*.so.*' -o -name brim_init -o -name apmib -o -name busybox -o -name mosquitto \) \
    -newer "$image/size.txt" -print -quit)" ]
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
if [ $libc = glibc ]; then
  mkdir -p "$out/static"
  dpkg -x "$(compgen -G "$cache/busybox-static_*_mipsel.deb" | head -n1)" "$out/static"
fi

# The file system's skeleton, busybox and its applets (the list comes from busybox itself, run
# under qemu-user), the two static applets.
(cd "$root" && mkdir -p bin sbin lib/modules usr/bin usr/sbin usr/lib/mipsel-linux-gnu proc sys dev tmp root \
  mnt var/log var/run var/js etc/udhcpc opt/brim/bin opt/brim/libexec web_brim/js)
chmod 1777 "$root/tmp"
chmod 0700 "$root/root"
if [ $libc = glibc ]; then
  cp "$out/debs/bin/busybox" "$root/bin/busybox"
  cp "$out/static/bin/busybox" "$root/bin/busybox-static"
else
  cp "$sysroot/bin/busybox" "$root/bin/busybox"
fi
QEMU_LD_PREFIX=$sysroot qemu-mipsel -L "$sysroot" "$root/bin/busybox" --list-full | while read -r a; do
  [ -e "$root/$a" ] || ln -s /bin/busybox "$root/$a"
done
if [ $libc = glibc ]; then
  ln -s /bin/busybox-static "$root/usr/bin/passwd"
  ln -s /bin/busybox-static "$root/usr/sbin/telnetd"
fi
ln -s bin/busybox "$root/init"

# The kernel and the modules the router's Ethernet ports need.
mods=$out/debs/lib/modules/$kabi/kernel
cp "$out/debs/boot/vmlinuz-$kabi" "$out/vmlinuz"
cp "$mods/drivers/net/mii.ko" "$mods/drivers/net/ethernet/amd/pcnet32.ko" "$mods/net/llc/llc.ko" \
  "$mods/net/802/stp.ko" "$mods/net/bridge/bridge.ko" "$root/lib/modules/"

# Our part, as a firmware build installs it (the runtime, and the example handler module), and the
# platform's stand-ins for the vendor's.
if [ $libc = glibc ]; then
  for c in runtime examples platform; do cmake --install "$build" --component $c --prefix "$root/usr"; done >/dev/null
  rm -rf "$root/usr/lib/cmake"  # the stand-ins' CMake export: a build's, not the router's
  cp "$build/platform/ethdriver/lib/mipsel-linux-gnu/libbrim_ethdriver.so" "$root/usr/lib/"
  cp "$out/debs/usr/sbin/mosquitto" "$root/usr/sbin/"
  cp "$out/debs/usr/bin/mosquitto_passwd" "$root/usr/bin/"
else
  # What the firmware build's packages put on the router, and the vendor's parts from the staging.
  cp -a "$build/fw/target/." "$root/"
  cp "$sysroot/usr/lib/libapmib.so" "$sysroot/usr/lib/libvzmqtt.so" "$sysroot/usr/lib/libbrim_ethdriver.so" "$root/usr/lib/"
  cp "$sysroot/usr/bin/apmib" "$root/usr/bin/"
  cp "$sysroot/usr/sbin/mosquitto" "$root/usr/sbin/"
  cp "$sysroot/usr/bin/mosquitto_passwd" "$root/usr/bin/"
  echo "LD_PRELOAD=/usr/lib/libbrim_ethdriver.so" >"$out/append"
fi
"${cross}strip" --strip-unneeded "$root/usr/lib/"lib*.so* "$root/usr/lib/brim/modules/"*.so
"${cross}strip" --strip-all "$root/usr/bin/brim_init" "$root/usr/bin/apmib"
for f in flash sysconf iwpriv init.sh killsh.sh vz_daemon vz_broker brim-journal udhcpc udhcpc.script; do
  cp "platform/bin/$f" "$root/opt/brim/bin/"
done
[ -e "$root/usr/bin/brim-bridge-conf" ] || cp platform/bin/brim-bridge-conf "$root/opt/brim/bin/"
ln -s /usr/sbin/mosquitto "$root/opt/brim/libexec/vz_broker"
ln -s /bin/busybox "$root/opt/brim/libexec/udhcpc"
"${cross}strip" --strip-unneeded "$root/usr/lib/libbrim_ethdriver.so"
echo /usr/lib/libbrim_ethdriver.so >"$root/etc/ld.so.preload"
cp platform/factory.store "$root/etc/apmib.store"
cp platform/web_brim/js/language_*.js "$root/web_brim/js/"

# Every library the programs need, and what those need in turn.
needed() { "${cross}readelf" -d "$1" 2>/dev/null | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p'; }
find_lib() {
  local d
  for d in "$root/usr/lib" "$sysroot/lib" "$out/debs/lib/mipsel-linux-gnu" "$out/debs/usr/lib/mipsel-linux-gnu" \
    "$sysroot/usr/lib/mipsel-linux-gnu" "$sysroot/usr/lib"; do
    [ -e "$d/$1" ] && { echo "$d/$1"; return; }
  done
  return 1
}
# The loader, and libgcc_s, which the C library opens itself to unwind a thread that exits (the
# broker's bridge thread does): no NEEDED entry names it.
if [ $libc = glibc ]; then
  cp -L "$sysroot/lib/ld.so.1" "$sysroot/lib/libgcc_s.so.1" "$root/lib/"
else
  cp -L "$sysroot/lib/ld-uClibc.so.0" "$root/lib/"
fi
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
    case $libc:$src in
      *:"$sysroot/lib/"*) dest=$root/lib ;;
      uclibc:*) dest=$root/usr/lib ;;
      *) dest=$root/usr/lib/mipsel-linux-gnu ;;
    esac
    cp -L "$src" "$dest/$lib"
    "${cross}strip" --strip-unneeded "$dest/$lib" 2>/dev/null || true
    queue+=("$dest/$lib")
  done
done

cp -a image/. "$root/"
if [ $libc = uclibc ]; then
  # Every program on uClibc-ng's loader, no library of glibc's.
  bad=0
  while read -r f; do
    interp=$("${cross}readelf" -l "$f" 2>/dev/null | sed -n 's/.*Requesting program interpreter: \(.*\)]/\1/p')
    case $interp in '' | /lib/ld-uClibc.so.*) ;; *) echo "router-image: ${f#"$root"} asks for $interp" >&2; bad=1 ;; esac
    ! "${cross}readelf" -d "$f" 2>/dev/null | grep -Eq 'NEEDED.*(libc\.so\.6|ld\.so\.1|libstdc)' ||
      { echo "router-image: ${f#"$root"} needs glibc or libstdc++" >&2; bad=1; }
  done < <(find "$root" -type f ! -name '*.ko' -exec sh -c 'head -c4 "$1" | grep -q ELF' _ {} \; -print)
  [ $bad = 0 ] || exit 1
fi
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
