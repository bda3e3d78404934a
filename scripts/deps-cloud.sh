#!/usr/bin/env bash
# Installs what the simulated cloud needs when it is missing: the RabbitMQ broker (with its MQTT
# plugin, part of the package), mosquitto and its clients for the routers' side, openssl for the
# test CA, busybox to check that the router's scripts run under its sh.
#
# The broker's package would start a service on the host; we run it only inside namespaces, so
# services are kept from starting while apt-get runs (policy-rc.d answering 101), and any epmd or
# beam that got going anyway is stopped afterwards.
set -euo pipefail
USAGE="usage: bash scripts/deps-cloud.sh
Installs the Debian packages the simulated cloud (RabbitMQ, mosquitto, openssl, busybox) needs when they are missing (as root)."
. "$(dirname "${BASH_SOURCE[0]}")/lib/usage.sh"
usage_args 0 "$@"
want=(rabbitmq-server mosquitto mosquitto-clients openssl busybox iproute2 util-linux procps)
missing=()
for p in "${want[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
if [ "$(id -u)" -ne 0 ]; then
  echo "deps-cloud: missing packages (install them as root): ${missing[*]}" >&2
  exit 1
fi
echo "deps-cloud: installing ${missing[*]}"

policy=/usr/sbin/policy-rc.d
ours=
if [ ! -e "$policy" ]; then
  printf '#!/bin/sh\n# deps-cloud.sh: no services start during the install\nexit 101\n' >"$policy"
  chmod 0755 "$policy"
  ours=1
fi
cleanup() { if [ -n "$ours" ]; then rm -f "$policy"; fi; }
trap cleanup EXIT

# Processes of the host's own namespaces only: a broker we run inside a namespace of ours has other
# pid and net namespaces, and is none of this script's business.
host_brokers() {
  local d pid comm me_pid me_net
  me_pid=$(readlink /proc/self/ns/pid)
  me_net=$(readlink /proc/self/ns/net)
  for d in /proc/[0-9]*; do
    pid=${d#/proc/}
    read -r comm <"$d/comm" 2>/dev/null || continue
    case $comm in epmd | beam.smp | erl_child_setup | inet_gethost) ;; *) continue ;; esac
    [ "$(readlink "/proc/$pid/ns/pid" 2>/dev/null)" = "$me_pid" ] || continue
    [ "$(readlink "/proc/$pid/ns/net" 2>/dev/null)" = "$me_net" ] || continue
    echo "$pid $comm"
  done
}
before=$(host_brokers | awk '{print $1}')

export DEBIAN_FRONTEND=noninteractive
apt-get -o DPkg::Lock::Timeout=300 update -qq >/dev/null
apt-get -o DPkg::Lock::Timeout=300 install -y -qq --no-install-recommends "${missing[@]}" >/dev/null

# Anything the install started anyway (epmd is started on demand by erlang tools) goes again.
host_brokers | while read -r pid comm; do
  case " $before " in *" $pid "*) continue ;; esac
  echo "deps-cloud: stopping $comm ($pid) that the install left on the host"
  kill "$pid" 2>/dev/null || true
done
