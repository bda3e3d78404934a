#!/usr/bin/env bash
# The uClibc router image beside the glibc one, in one run (as root): root file system size
# unpacked and compressed, memory in use after boot, brim_sub's and the broker's resident memory,
# kernel start to brim_init's exit, and the smallest guest memory (in 8 MiB steps from 24 MiB) at
# which each boots and passes the boot's own checks (brim_init exited 0; broker, brim_sub and
# vz_daemon run; the status request answered from the LAN with the WAN connected).
# BRIM_BENCH_MIN_MEM: where the search starts (default 24; a boot that never starts costs 180 s).
#   bash bench/router_images.sh [UCLIBC_BUILD [GLIBC_BUILD]]   # default build-uclibc build-mipsel16
# Both images must have been made (scripts/router-image.sh --libc uclibc, and the test command's).
set -euo pipefail
USAGE="usage: bash bench/router_images.sh [UCLIBC_BUILD [GLIBC_BUILD]]
The uClibc router image beside the glibc one, in one run: sizes, memory after boot, the smallest
guest memory that boots, boot time. Both images made first; as root."
. "$(dirname "${BASH_SOURCE[0]}")/../scripts/lib/usage.sh"
usage_args 2 "$@"
repo=$(cd "$(dirname "$0")/.." && pwd)
cd "$repo"
builds=("${1:-build-uclibc}" "${2:-build-mipsel16}")
names=(uClibc glibc)
if [ -z "${_BRIM_BENCH_NS:-}" ]; then
  export _BRIM_BENCH_NS=1
  exec unshare --mount --propagation private -- bash "$0" "${builds[@]}"
fi
run=$(mktemp -d /tmp/brim-images.XXXXXX)
mount -t tmpfs -o mode=0700 images "$run"
cleanup() {
  local d
  for d in "$run"/vm*; do [ ! -d "$d" ] || bash sandbox/brim-vm stop "$d" >/dev/null 2>&1 || true; done
  umount "$run"
  rmdir "$run"
}
trap cleanup EXIT

# The boot's own checks, in the guest; then the figures, one "name value" a line.
probe='
[ "$(cat /var/log/brim_init.status)" = 0 ] && pidof vz_broker >/dev/null && pidof brim_sub >/dev/null &&
  pidof vz_daemon >/dev/null || exit 1
rss() { sed -n "s/^VmRSS:[[:space:]]*\([0-9]*\).*/\1/p" /proc/$(pidof $1 | cut -d" " -f1)/status; }
echo "used_kb $(free | awk "/^Mem:/ { print \$3 }")"
echo "sub_kb $(rss brim_sub)"
echo "broker_kb $(rss vz_broker)"
echo "boot_s $(cat /var/log/brim_init.uptime)"'
boot() {  # boot I MEM: boots image I with MEM MiB, runs the checks; figures in $run/fig$I.MEM
  local i=$1 mem=$2 dir=$run/vm$1.$2
  BRIM_VM_MEM=$mem bash sandbox/brim-vm --build "${builds[i]}" start "$dir" >"$run/boot$i.$mem.log" 2>&1 ||
    { echo "    $(tail -n 1 "$run/boot$i.$mem.log")" >&2; bash sandbox/brim-vm stop "$dir" >/dev/null 2>&1; return 1; }
  local ok=1
  bash sandbox/brim-vm --build "${builds[i]}" exec "$dir" --timeout 120 -- sh -c "$probe" >"$run/fig$i.$mem" || ok=0
  [ $ok = 1 ] && bash sandbox/brim-vm --build "${builds[i]}" lan "$dir" -- sh -c \
    'mosquitto_rr -h "$BRIM_VM_ROUTER" -t router/status -e brim-vm/reply -m "{}" -W 20' | grep -q '"wan_connected":[[:space:]]*true' ||
    ok=0
  bash sandbox/brim-vm --build "${builds[i]}" stop "$dir" >/dev/null 2>&1 || true
  [ $ok = 1 ]
}
fig() { sed -n "s/^$2 //p" "$run/fig$1.256"; }
for i in 0 1; do
  [ -f "${builds[i]}/router/rootfs.cpio.gz" ] || { echo "no image in ${builds[i]}/router" >&2; exit 1; }
  echo "booting the ${names[i]} image at 256 MiB" >&2
  boot "$i" 256 || { echo "the ${names[i]} image failed its checks at 256 MiB" >&2; exit 1; }
  smallest[i]=none
  for mem in $(seq "${BRIM_BENCH_MIN_MEM:-24}" 8 248); do
    echo "  ${names[i]} at $mem MiB" >&2
    if boot "$i" "$mem"; then smallest[i]=$mem; break; fi
  done
  gz[i]=$(stat -c %s "${builds[i]}/router/rootfs.cpio.gz")
  raw[i]=$(gzip -dc "${builds[i]}/router/rootfs.cpio.gz" | wc -c)
done
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
row() { printf '%-44s %14s %14s %8s\n' "$@"; }
row "figure (one run)" "uClibc" "glibc" "ratio"
row "root file system, compressed (bytes)" "${gz[0]}" "${gz[1]}" "$(ratio "${gz[0]}" "${gz[1]}")"
row "root file system, unpacked cpio (bytes)" "${raw[0]}" "${raw[1]}" "$(ratio "${raw[0]}" "${raw[1]}")"
for f in used_kb:"memory in use after boot (kB, 256 MiB guest)" sub_kb:"brim_sub resident (kB)" \
  broker_kb:"broker resident (kB)" boot_s:"kernel start to brim_init exit (s)"; do
  row "${f#*:}" "$(fig 0 "${f%%:*}")" "$(fig 1 "${f%%:*}")" "$(ratio "$(fig 0 "${f%%:*}")" "$(fig 1 "${f%%:*}")")"
done
row "smallest guest memory that passes (MiB)" "${smallest[0]}" "${smallest[1]}" ""
