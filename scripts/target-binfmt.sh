#!/usr/bin/env bash
# Lets the kernel run mipsel programs through qemu-user, so that target binaries started by other
# programs (a shell running `apmib` or `brim_init` from PATH, a death test re-executing itself)
# run under emulation just as the program ctest starts does. Registers Debian's qemu-mipsel
# binfmt_misc entry (the one qemu-user-binfmt ships) when the running kernel lacks it; needs root.
# The emulated programs find the target's loader and libraries through QEMU_LD_PREFIX, which the
# caller exports (ctest sets it for the mipsel suite).
set -euo pipefail
USAGE="usage: bash scripts/target-binfmt.sh
Registers the kernel's binfmt_misc entry for mipsel programs (qemu-user) when missing; as root."
. "$(dirname "${BASH_SOURCE[0]}")/lib/usage.sh"
usage_args 0 "$@"
bm=/proc/sys/fs/binfmt_misc
conf=/usr/lib/binfmt.d/qemu-mipsel.conf
if [ ! -e "$bm/status" ]; then
  mount -t binfmt_misc binfmt_misc "$bm"
fi
if [ -e "$bm/qemu-mipsel" ]; then
  grep -q '^enabled' "$bm/qemu-mipsel" && exit 0
  echo 1 >"$bm/qemu-mipsel"
  exit 0
fi
[ -f "$conf" ] || { echo "target-binfmt: $conf missing (package qemu-user-binfmt)" >&2; exit 1; }
# F: the kernel opens the emulator now, so it is found from inside the sandbox's mount namespace too.
line=$(grep -v '^#' "$conf" | sed -n 1p)
case $line in *F) ;; *) line=${line}F ;; esac
printf '%s' "$line" >"$bm/register"
