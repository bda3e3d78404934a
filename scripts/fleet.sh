#!/usr/bin/env bash
# The fleet, end to end: a two-node cloud cluster (sandbox/brim-cloud), one shared ISP
# (sandbox/brim-isp) and N simulated routers (sandbox/brim-sandbox), each booted by the real
# brim_init with its device id, client id and certificate in its store, so that its broker
# bridges to the cluster. Then the checks of tests/fleet/checks.sh (security, a status sweep,
# faults under a steady stream of requests) and the figures, side by side from this run.
#
#   bash scripts/fleet.sh [N] [--vm K]   (as root; N >= 4, default 8; BRIM_BUILD_DIR: default build/)
#
# --vm K: K of the routers (N-K to N-1, none of those the faults use) are the whole router emulated
# (sandbox/brim-vm, the image of BRIM_VM_BUILD, made when it is missing): by default the uClibc
# router (build-uclibc: the SDK's programs, our package as OpenWrt builds it); a glibc router build
# (build-mipsel16) boots too. Their brokers bridge over TLS from the MIPS guest, and they answer
# the sweep and a control.
#
# It builds what it needs first (the test command's native configuration when the build directory
# is new). Everything lives in private mount and PID namespaces, on a tmpfs at BUILD/fleet-run
# (inside the build directory, which every router sees at its own path); routers, cluster nodes and
# the ISP end with this script, on failure too, and its last check is that nothing it started is
# left. Exit status: 0 when every check passed.
set -euo pipefail
repo=$(cd "$(dirname "$(readlink -f "$0")")/.." && pwd -P)
USAGE="usage: bash scripts/fleet.sh [N [--vm K]]
N simulated routers (default 8, at least 4 + K) bridged to a two-node cloud cluster, checked and
measured; K of them the whole router emulated. As root (namespaces)."
. "$repo/scripts/lib/usage.sh"
USAGE_OPTS=--vm usage_args 2 "$@"
n=${1:-8}
vms=0
[ "${2:-}" = --vm ] && vms=${3:-x}
[ $# -le 1 ] || [ "${2:-}" = --vm ] || usage_error "unknown argument $2"
# A, and a router of its own for each fault that runs beside another; emulated routers besides.
[[ $n =~ ^[0-9]+$ && $vms =~ ^[0-9]+$ && $n -ge $((4 + vms)) && $n -le 999 ]] || usage_error
is_vm() { [ "$1" -ge $((n - vms)) ] && [ "$1" -lt "$n" ]; }
t0=$(date +%s%N)
say() { printf 'fleet: [%6.1f s] %s\n' "$((($(date +%s%N) - t0) / 1000000))e-3" "$*"; }

if [ -z "${_BRIM_FLEET_INNER:-}" ]; then
  [ "$(id -u)" -eq 0 ] || { echo "fleet: must run as root (namespaces)" >&2; exit 2; }
  bash "$repo/scripts/deps.sh"
  bash "$repo/scripts/deps-cloud.sh"
  build=${BRIM_BUILD_DIR:-$repo/build}
  mkdir -p "$build"
  build=$(cd "$build" && pwd -P)
  # The same configuration as the test command's native build, so neither rebuilds for the other;
  # ninja configures again by itself when a CMakeLists.txt changed.
  if [ ! -f "$build/build.ninja" ]; then
    cmake -S "$repo" -B "$build" -G Ninja -DBRIM_WERROR=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      >"$build/fleet.cmake.log" 2>&1 || { cat "$build/fleet.cmake.log" >&2; exit 1; }
  fi
  ninja -C "$build" -j"$(nproc 2>/dev/null || echo 2)" brim_init apmib_tool brim_sh_journal device_status \
    echo_module eth_driver brim-fleet brim-rr >/dev/null
  vm_build=$(readlink -m "${BRIM_VM_BUILD:-$repo/build-uclibc}")
  vm_echo=$vm_build/tests/modules/echo_module.so
  if [ "$vms" -gt 0 ]; then
    bash "$repo/scripts/deps-target.sh"
    if [ ! -e "$vm_build/CMakeCache.txt" ] || [ -d "$vm_build/fw" ]; then
      # The uClibc router: the SDK, our package by the OpenWrt line (when its image is missing:
      # scripts/firmware-build.sh makes it again), the echo handler by the SDK's compiler.
      bash "$repo/scripts/router-sdk.sh" >/dev/null
      [ -e "$vm_build/router/rootfs.cpio.gz" ] || bash "$repo/scripts/firmware-build.sh" openwrt "$vm_build" >/dev/null
      vm_echo=$build/echo_module.uclibc.so
      "$repo/build-sdk/bin/mipsel-linux-uclibc-gcc" -shared -fPIC -Os -I"$repo/include" -o "$vm_echo" \
        "$repo/tests/support/echo_module.c"
      bash "$repo/scripts/router-image.sh" --if-stale --libc uclibc "$vm_build"
    else
      # A glibc router build: the MIPS16e router build on the MIPS32 build's sysroot.
      BRIM_MIPS16_BUILD=$vm_build bash "$repo/scripts/build-mipsel16.sh" brim brim_init modules/all platform/all echo_module >/dev/null
      bash "$repo/scripts/router-image.sh" --if-stale "$vm_build"
    fi
  fi
  export _BRIM_FLEET_INNER=1 BRIM_BUILD_DIR=$build BRIM_VM_BUILD=$vm_build BRIM_VM_ECHO=$vm_echo
  # This script is the PID namespace's init: when it ends, the kernel ends whatever is left in it.
  exec unshare --mount --pid --fork --kill-child --mount-proc --propagation private -- bash "$0" "$@"
fi
build=$BRIM_BUILD_DIR
# As PID 1 this shell gets only the signals it handles.
trap 'exit 130' INT
trap 'exit 143' TERM

run=$build/fleet-run
mkdir -p "$run"
mount -t tmpfs -o mode=0755 fleet-run "$run"
cloud() { bash "$repo/sandbox/brim-cloud" "$1" "$run/cloud" "${@:2}"; }
isp_net=$run/isp/netns
in_isp() { nsenter --net="$isp_net" -- "$@"; }

declare -a sb=() ids=()  # per router: the sandbox's pid (brim-sandbox, then unshare), its id
for k in $(seq 1 "$n"); do ids[k]=$(printf 'dev-%03d' "$k"); done
router_ns() {  # the pid of router K's namespace init (the sandbox's PID 1)
  local c
  # The file has no newline at its end.
  read -r c _ 2>/dev/null <"/proc/${sb[$1]}/task/${sb[$1]}/children" || [ -n "${c:-}" ] || return 1
  echo "$c"
}
in_router() {  # in_router K CMD...: CMD in router K's network namespace
  local p
  p=$(router_ns "$1") || return 1
  nsenter --net="/proc/$p/ns/net" -- "${@:2}"
}
vm() { bash "$repo/sandbox/brim-vm" --build "$BRIM_VM_BUILD" "$@"; }
router_stop() {  # router_stop K [nowait]: the sandbox's init dies with unshare (--kill-child), and with it the router
  local p=${sb[$1]:-}
  [ -n "$p" ] || return 0
  if is_vm "$1"; then  # powered off
    vm stop "$run/routers/$1/vm" >>"$run/routers/$1/sandbox.log" 2>&1
    sb[$1]=
    return 0
  fi
  kill -KILL "$p" 2>/dev/null || true
  wait "$p" 2>/dev/null || true
  sb[$1]=
  [ "${2:-}" = nowait ] && return 0
  # Its port on the ISP's bridge goes with its network namespace; a new one takes the name.
  for _ in $(seq 100); do in_isp ip link show "fr$1" >/dev/null 2>&1 || return 0; sleep 0.05; done
}
router_start() {  # router_start K: a fresh sandbox booted from router K's store
  local k=$1 d=$run/routers/$1 c
  mkdir -p "$d"
  if is_vm "$k"; then  # provisioned as the factory does: the device's certificate into the image
    c=$run/cloud/pki/devices/${ids[k]}
    vm --store "$d/store" --isp-netns "$isp_net" start "$d/vm" --add "$c/ca.crt:/etc/brim-cloud/ca.crt" \
      --add "$c/client.crt:/etc/brim-cloud/client.crt" --add "$c/client.key:/etc/brim-cloud/client.key" \
      --add "$BRIM_VM_ECHO:/usr/lib/brim/modules/echo_module.so" \
      </dev/null >>"$d/sandbox.log" 2>&1 &
    sb[k]=$!
    return 0
  fi
  bash "$repo/sandbox/brim-sandbox" --build "$build" --store "$d/store" --isp-netns "$isp_net" \
    --isp-port "fr$k" -- bash "$repo/sandbox/fleet-router" "$run/cloud/pki/devices/${ids[k]}" \
    </dev/null >>"$d/sandbox.log" 2>&1 &
  sb[k]=$!
}
passed=0 failed=0
ok() { say "ok    $1"; passed=$((passed + 1)); }
fail() { say "FAIL  $1${2:+: $2}"; failed=$((failed + 1)); }
check() {  # check NAME WHY COMMAND...: ok when COMMAND succeeds
  local name=$1 why=$2
  shift 2
  if "$@"; then ok "$name"; else fail "$name" "$why"; fi
}
kill_tree() {  # kill_tree PID...: each process and everything it started, children first
  local p
  for p in "$@"; do
    # shellcheck disable=SC2046
    kill_tree $(cat /proc/"$p"/task/*/children 2>/dev/null)
    kill "$p" 2>/dev/null || true
  done
}
left() {  # the live processes of this namespace but this shell and the command substitution
  local d s
  for d in /proc/[0-9]*; do
    [ "${d#/proc/}" = 1 ] || [ "${d#/proc/}" = "$BASHPID" ] && continue
    read -r s 2>/dev/null <"$d/stat" || continue
    s=${s##*) }
    [ "${s%% *}" = Z ] || echo "${d#/proc/} $(tr '\0' ' ' <"$d/cmdline" | cut -c1-120)"
  done
}
cleanup() {
  local rc=$? k
  trap - EXIT
  set +e
  # What the run wrote, for a look after a failure (the run directory goes with this script).
  for k in "${!sb[@]}"; do  # an emulated router's logs are inside it
    is_vm "$k" && [ -n "${sb[k]}" ] && vm exec "$run/routers/$k/vm" --timeout 10 -- sh -c \
      'tail -n 200 /var/log/mosquitto.log /var/log/brim_init.out' >"$run/routers/$k/guest.log" 2>&1
  done
  rm -rf "$build/fleet-logs" && mkdir -p "$build/fleet-logs/cloud"
  cp -r "$run/checks" "$run/routers" "$build/fleet-logs/" 2>/dev/null || true
  cp -r "$run/cloud/node1/log" "$build/fleet-logs/cloud/node1" 2>/dev/null || true
  cp -r "$run/cloud/node2/log" "$build/fleet-logs/cloud/node2" 2>/dev/null || true
  for k in "${!sb[@]}"; do router_stop "$k" nowait; done
  # shellcheck disable=SC2046
  kill_tree $(jobs -p)
  # A test cloud keeps nothing: its nodes are killed, not stopped in order.
  if [ -e "$run/cloud/holder.pid" ]; then
    cloud node-kill 1 >/dev/null 2>&1 || true
    cloud node-kill 2 >/dev/null 2>&1 || true
    cloud stop >/dev/null 2>&1 || true
  fi
  [ -e "$isp_net" ] && bash "$repo/sandbox/brim-isp" stop "$run/isp" >/dev/null 2>&1
  # The last check: nothing the run started is left (what is, the kernel ends with this shell).
  for _ in $(seq 50); do [ -z "$(left)" ] && break; sleep 0.1; done
  check "nothing of the run is left" "still running: $(left | head -c 600)" test -z "$(left)"
  cd / && umount -l "$run" 2>/dev/null
  if [ -n "$finished" ]; then say "$passed passed, $failed failed"; else say "the run stopped early (status $rc)"; fi
  [ "$rc" -eq 0 ] && [ -n "$finished" ] && [ "$failed" -eq 0 ] && { say PASS; exit 0; }
  say FAIL
  exit 1
}
finished=
trap cleanup EXIT

say "ISP and cloud cluster"
bash "$repo/sandbox/brim-isp" start "$run/isp" >/dev/null
BRIM_CLOUD_LIFETIME=3600 cloud start --uplink "$isp_net"
cloud add-device "${ids[@]:1}" >/dev/null
addr() { awk -v n="node$1" '$1 == n {sub(/:.*/, "", $2); print $2}' "$run/cloud/addresses"; }
n1=$(addr 1)
n2=$(addr 2)
op=$run/cloud/pki/operator
op_cid=$(cat "$op/clientid")
op_tls=(--cafile "$run/cloud/pki/ca.crt" --cert "$op/client.crt" --key "$op/client.key")
printf '%s\n' "${ids[@]:1}" >"$run/inventory"

say "booting $n routers"
for k in $(seq 1 "$n"); do
  d=$run/routers/$k c=$run/cloud/pki/devices/${ids[k]}
  mkdir -p "$d"
  { cat "$repo/platform/factory.store"
    cat <<EOF
HOST_NAME = "${ids[k]}"
CLOUD_ENABLED = 1
CLOUD_ADDRESSES = "$n1 $n2"
CLOUD_DEVICE_ID = "${ids[k]}"
CLOUD_CLIENT_ID = "$(cat "$c/clientid")"
CLOUD_CA = "/etc/brim-cloud/ca.crt"
CLOUD_CERT = "/etc/brim-cloud/client.crt"
CLOUD_KEY = "/etc/brim-cloud/client.key"
EOF
  } >"$d/store"
  router_start "$k"
  # Boots overlap, a few at a time: each is mostly waiting (DHCP, the boot's own pauses).
  [ $((k % 8)) -eq 0 ] && sleep 1
done

cloud_subs() {  # the cluster's MQTT subscription queues with consumers, asked of a running node
  cloud ctl 1 list_queues name consumers 2>/dev/null || cloud ctl 2 list_queues name consumers 2>/dev/null
}
bridges_up() {  # bridges_up SECONDS K...: until router K's bridge has subscribed, for each K
  # A bridge that the cluster lists as connected may not have subscribed yet: a request sent then
  # is lost. Its subscription queue with a consumer is the bridge at work.
  local until=$(($(date +%s) + $1)) k missing
  shift
  while :; do
    cloud_subs >"$run/subs.$BASHPID" || true
    missing=0
    for k in "$@"; do
      grep -Eq "^mqtt-subscription-$(cat "$run/cloud/pki/devices/${ids[k]}/clientid")qos0[[:space:]]+[1-9]" "$run/subs.$BASHPID" ||
        missing=$((missing + 1))
    done
    [ "$missing" -eq 0 ] && return 0
    [ "$(date +%s)" -ge "$until" ] && { say "$missing of $# bridges not connected"; return 1; }
    sleep 1
  done
}
all=$(seq 1 "$n")
# shellcheck disable=SC2086
bridges_up $((60 + 4 * n)) $all || { say "FAIL: the fleet did not come up"; exit 1; }
say "all $n routers booted and bridged"

rr() {  # rr ARGS...: the operator's request stream (brim-rr) from the ISP's side
  in_isp "$build/brim-rr" -p 8883 "${op_tls[@]}" -i "$op_cid-rr$RANDOM" "$@"
}
fleet() {  # fleet ARGS...: brim-fleet as the operator
  in_isp "$build/brim-fleet" -h "$n1:8883" -h "$n2:8883" "${op_tls[@]}" -i "$op_cid-fleet$RANDOM" "$@"
}
fig_rows=()
fig() { fig_rows+=("$1" "$2"); }  # fig NAME VALUE: one figure, printed at the end
steady_figures() {  # the round trip against its anchor, memory of routers and nodes, all at rest
  local res tot t k node p
  say "== figures: round trip through the cluster against the router's own broker"
  res=$(rr -h "$n1" -h "$n2" -t "fleet/$A/echo" -n 200 --label fleet) || true
  fig "round trip via cloud+bridge, p50 / p99 (200 echo)" "$(sed -n 's/.*p50=\([0-9.]*\) p99=\([0-9.]*\).*/\1 ms \/ \2 ms/p' <<<"$res")"
  res=$(in_router 1 "$build/brim-rr" -h 127.0.0.1 -p 1883 -t echo -n 200 --label local) || true
  fig "same request on A's local broker, p50 / p99" "$(sed -n 's/.*p50=\([0-9.]*\) p99=\([0-9.]*\).*/\1 ms \/ \2 ms/p' <<<"$res")"
  # Every process of a router is in its PID namespace: resident memory summed by namespace.
  ps -e -o pidns=,rss= | awk '{ s[$1] += $2 } END { for (k in s) print k, s[k] }' >"$out/rss"
  tot=0
  for k in $(seq 1 "$n"); do
    is_vm "$k" && continue
    t=$(awk -v ns="$(stat -L -c %i "/proc/$(router_ns "$k")/ns/pid")" '$1 == ns { print $2 }' "$out/rss")
    tot=$((tot + ${t:-0}))
  done
  k=$((n - vms))
  fig "memory per sandbox router (RSS, mean)" "$((tot / k / 1024)) MiB ($((tot / k)) KiB)"
  for node in 1 2; do
    p=$(cloud node-pid "$node")
    fig "cluster node $node (RSS, with $n bridges)" "$(awk '/^VmRSS/ {printf "%d MiB", $2 / 1024}' "/proc/$p/status")"
  done
}
# shellcheck source=../tests/fleet/checks.sh
. "$repo/tests/fleet/checks.sh"

say "== figures (this run, N = $n)"
printf '  %-48s %s\n' "${fig_rows[@]}"
finished=1
