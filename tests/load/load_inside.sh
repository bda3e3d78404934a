#!/usr/bin/env bash
# Inside the sandbox (scripts/load.sh): boots the router with the status and echo modules, then runs
# the load client.   load_inside.sh SECONDS [brim_load options...]
set -euo pipefail
seconds=${1:-60}
shift || true
build=${BRIM_BUILD:?run through sandbox/brim-sandbox}
pids() { grep -lx "$1" /proc/[0-9]*/comm 2>/dev/null | cut -d/ -f3; }
modules=$(mktemp -d /tmp/brim_load_modules.XXXXXX)
ln -s "$build/modules/device_status.so" "$build/tests/modules/echo_module.so" "$modules/"
# An old broker must be gone first, or the boot's new one cannot bind its port.
kill $(pids vz_broker) 2>/dev/null || true
for _ in $(seq 100); do pids vz_broker >/dev/null || break; sleep 0.05; done
unset BRIM_MQTT_PORT BRIM_VZ_SUB_FAIL
BRIM_MODULE_DIR=$modules brim_init >/dev/null 2>/tmp/brim_load_sub.err
for _ in $(seq 250); do sub=$(pids brim_sub) && break; sleep 0.02; done
[ -n "${sub:-}" ] || { echo "load: brim_sub did not start" >&2; cat /tmp/brim_load_sub.err >&2; exit 1; }
rc=0
"$build/tests/brim_load" -p "$sub" -d "$seconds" "$@" || rc=$?
# Each distinct line the boot and brim_sub wrote to standard error, once, with its count.
sort /tmp/brim_load_sub.err | uniq -c | awk 'NR <= 20'
exit $rc
