#!/usr/bin/env bash
# Installs the Debian packages that the build, the sandbox and the tests need; only the missing
# ones, quietly, so running it again costs a few dpkg queries.
set -euo pipefail
USAGE="usage: bash scripts/deps.sh
Installs the Debian packages the build, the sandbox and the tests need when they are missing (as root)."
. "$(dirname "${BASH_SOURCE[0]}")/lib/usage.sh"
usage_args 0 "$@"
packages=(build-essential cmake ninja-build pkg-config libcjson-dev libmosquitto-dev mosquitto
  mosquitto-clients googletest libgtest-dev iproute2 psmisc procps util-linux coreutils mawk clang-14 libclang-rt-14-dev
  libssl-dev  # the MD5 benchmark measures against libcrypto
  dnsmasq-base busybox  # the ISP's DHCP server; the router's DHCP client and shell
  help2man go-md2man)  # the manual pages
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
# Any awk will do for the stand-ins; do not replace one that is already there.
if command -v awk >/dev/null; then
  for i in "${!missing[@]}"; do [ "${missing[$i]}" = mawk ] && unset 'missing[i]'; done
fi
[ ${#missing[@]} -eq 0 ] && exit 0
if [ "$(id -u)" -ne 0 ]; then
  echo "deps: missing packages (install them as root): ${missing[*]}" >&2
  exit 1
fi
echo "deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq >/dev/null
apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
