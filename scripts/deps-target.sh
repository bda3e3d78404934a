#!/usr/bin/env bash
# Installs what the target checks need when it is missing: the mipsel cross compiler, qemu-user
# (with its binfmt_misc entries), qemu-system-mips for the emulated router, musl, the sanitizer runtimes and GoogleTest's sources (built for
# the target). Packages already present are left alone, so a warm machine makes no network calls.
set -euo pipefail
USAGE="usage: bash scripts/deps-target.sh
Installs the Debian packages the target checks (mipsel cross compiler, qemu, musl, uclibc-source) needs when they are missing (as root)."
. "$(dirname "${BASH_SOURCE[0]}")/lib/usage.sh"
usage_args 0 "$@"
want=(g++-mipsel-linux-gnu qemu-user qemu-user-binfmt musl-tools libclang-rt-14-dev googletest
  qemu-system-mips cpio  # the emulated router, and its initramfs
  uclibc-source)  # the router's C library (scripts/target-uclibc.sh)
missing=()
for p in "${want[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
echo "installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
