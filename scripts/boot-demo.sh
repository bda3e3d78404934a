#!/usr/bin/env bash
# Boots a simulated router and shows what the boot did: installs what is missing, builds into
# build/, then runs brim_init inside the sandbox (with an ISP upstream) and prints its report.
# With --vm, the whole router emulated instead: every program on uClibc-ng (scripts/router-sdk.sh),
# our package built as OpenWrt builds it (build-uclibc), in its image on a MIPS kernel under
# qemu-system-mipsel, booted by its own init, reported on from inside and from its LAN. Needs root
# (namespaces).
set -euo pipefail
USAGE="usage: bash scripts/boot-demo.sh [--vm]
Boots a simulated router (build/, sandbox/brim-sandbox with an ISP) and prints what the boot did.
--vm: the whole router emulated instead: every program on uClibc-ng (the SDK, build-sdk), our
package built as OpenWrt builds it (build-uclibc), under qemu-system-mipsel.
Installs what is missing, builds; as root (namespaces)."
. "$(dirname "${BASH_SOURCE[0]}")/lib/usage.sh"
. "$(dirname "${BASH_SOURCE[0]}")/lib/progress.sh"
USAGE_OPTS=--vm usage_args 0 "$@"
repo=$(cd "$(dirname "$0")/.." && pwd)
cd "$repo"
bash scripts/deps.sh
if [ "${1:-}" = --vm ]; then
  # The router as its vendor builds it: every program on uClibc-ng, from the SDK (made once, then
  # cached), our package built by the OpenWrt line into build-uclibc.
  bash scripts/deps-target.sh
  run_logged "boot-demo: making the router SDK (the first time: uClibc-ng, OpenSSL, mosquitto, busybox; some minutes)" \
    build-sdk.log bash scripts/router-sdk.sh
  run_logged "boot-demo: building build-uclibc as OpenWrt builds it" build-uclibc.log bash scripts/firmware-build.sh openwrt build-uclibc
  bash scripts/router-image.sh --if-stale --libc uclibc build-uclibc
  exec sandbox/vm-report build-uclibc
fi
# The same configuration as the test command's native build, so neither rebuilds for the other.
make_build() {
  cmake -S . -B build -G Ninja -DBRIM_WERROR=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo &&
    ninja -C build -j"$(nproc 2>/dev/null || echo 2)" brim_init apmib_tool brim_sh_journal device_status eth_driver
}
run_logged "boot-demo: building build/ (some minutes the first time)" build.log make_build
# With an ISP of its own: a DHCP server behind eth1, so the WAN comes up as on a router at home.
exec sandbox/brim-sandbox --build build --isp -- sandbox/boot-report
