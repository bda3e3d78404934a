#!/usr/bin/env bash
# Inside the sandbox (scripts/load.sh): boots the simulated router with the shipped status module
# and the tests' echo module, waits for its subscriber and broker, then runs the load client.
#   load_inside.sh SECONDS [brim_load options...]
set -euo pipefail
seconds=${1:-60}
shift || true
build=${BRIM_BUILD:?run through sandbox/brim-sandbox}

pid_of() {  # pids of live processes named $1 (/proc/PID/comm)
  local f name
  for f in /proc/[0-9]*/comm; do
    read -r name <"$f" 2>/dev/null || continue
    [ "$name" = "$1" ] && echo "${f//[^0-9]/}"
  done
}

modules=$(mktemp -d /tmp/brim_load_modules.XXXXXX)
ln -s "$build/modules/device_status.so" "$build/tests/modules/echo_module.so" "$modules/"

# A broker left from before is stopped first: the boot starts its own right after signalling the
# old one, and the new one could not bind while the old one still holds the port.
killall vz_broker 2>/dev/null || true
for _ in $(seq 100); do [ -z "$(pid_of vz_broker)" ] && break; sleep 0.05; done
# The router's own broker port, whatever the caller's environment holds.
unset BRIM_MQTT_PORT BRIM_VZ_SUB_FAIL
BRIM_MODULE_DIR=$modules brim_init >/dev/null 2>/tmp/brim_load_sub.err

# Bounded waits for the subscriber and the broker (brim_load then probes until brim_sub answers).
for _ in $(seq 250); do [ -n "$(pid_of brim_sub)" ] && break; sleep 0.02; done
[ -n "$(pid_of brim_sub)" ] || { echo "load: brim_sub did not start" >&2; cat /tmp/brim_load_sub.err >&2; exit 1; }
for _ in $(seq 250); do (exec 3<>/dev/tcp/127.0.0.1/1883) 2>/dev/null && break; sleep 0.02; done

rc=0
"$build/tests/brim_load" -d "$seconds" "$@" || rc=$?
# What the boot and the subscriber wrote to standard error, each distinct line once with its count.
if [ -s /tmp/brim_load_sub.err ]; then
  echo "standard error of the boot and brim_sub:"
  awk '!seen[$0]++ { order[++n] = $0 } END { for (i = 1; i <= n && i <= 20; i++) printf "  %7d x %s\n", seen[order[i]], order[i] }' \
    /tmp/brim_load_sub.err
fi
exit $rc
