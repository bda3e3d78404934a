#!/usr/bin/env bash
# Figures of the fleet's cloud on this machine, each printed beside its anchor from the same run:
# the two-node cluster's start from nothing (and from its own state), a node's restart after a
# kill (with and without the client id tracker's early start), memory per node, the cost of
# BRIDGES router bridges on the cluster (each a mosquitto of its own, all in one namespace), the
# time the whole fleet takes to move off a killed node, and the request round trip through the
# cluster against the same round trip on a router's own broker.
#
#   bash tests/fleet/measure.sh [BRIDGES] [RUNDIR]     (as root; BRIDGES defaults to 100)
set -euo pipefail
repo=$(cd "$(dirname "$(readlink -f "$0")")/../.." && pwd)
. "$repo/tests/fleet/lib.sh"
fleet_enter "$@"

bridges=${1:-100}
run=${2:-$(mktemp -d /tmp/brim-fleet-measure.XXXXXX)}
mkdir -p "$run"
run=$(cd "$run" && pwd -P)
cloud=$repo/sandbox/brim-cloud
bash "$repo/scripts/deps-cloud.sh"
mkdir -p "$run/bin"
cc -O2 -Wall -o "$run/bin/mqtt_rr" "$repo/tests/fleet/mqtt_rr.c" -lmosquitto
fleet_responder=$run/bin/mqtt_rr
now() { date +%s.%N; }
since() { awk -v a="$1" -v b="$(now)" 'BEGIN { printf "%.1f", b - a }'; }
say() { echo "measure: $*"; }
fig() { printf '  %-44s %s\n' "$1" "$2"; }  # one figure per line
rss_kib() { awk '/^VmRSS/ {print $2}' "/proc/$1/status"; }
mib() { awk -v k="$1" 'BEGIN { printf "%.1f MiB", k / 1024 }'; }
node_ip() { awk -v n="node$1" '$1 == n {sub(/:.*/, "", $2); print $2}' "$run/addresses"; }
erl_mem() { "$cloud" ctl "$run" "$1" eval 'erlang:memory(total).' | tr -d '\r'; }
beam() { "$cloud" node-pid "$run" "$1"; }
connections() {  # the cluster's MQTT connections, "conn_name" lines, asked of a running node
  "$cloud" ctl "$run" 1 list_mqtt_connections conn_name 2>/dev/null ||
    "$cloud" ctl "$run" 2 list_mqtt_connections conn_name 2>/dev/null
}
count_on() {  # count_on IP < connection list
  grep -c -- "-> $1:" || true
}
# The connections node N holds, by its own count: while a node is down, list_mqtt_connections
# lists nothing at all.
held() { "$cloud" ctl "$run" "$1" eval 'length(rabbit_direct:list_local()).'; }
pss_kib() { awk '/^Pss:/ {print $2}' "/proc/$1/smaps_rollup"; }
leader_node() {
  case $("$cloud" ctl "$run" "$1" eval 'ra_leaderboard:lookup_leader(mqtt_node).') in
    *rabbit1@*) echo 1 ;; *) echo 2 ;;
  esac
}

echo "== start"
rm -rf "$run/pki" "$run/node1" "$run/node2" "$run/users" "$run/routers"
fleet_isp
t=$(now)
"$cloud" start "$run" --uplink "/proc/$isp/ns/net"
t_fresh=$(since "$t")
b1=$(beam 1)
b2=$(beam 2)
idle1=$(rss_kib "$b1")
idle2=$(rss_kib "$b2")
erl1=$(erl_mem 1)
erl2=$(erl_mem 2)

t=$(now)
"$cloud" stop "$run" >/dev/null
t_stop=$(since "$t")
t=$(now)
"$cloud" start "$run" --uplink "/proc/$isp/ns/net" >/dev/null
t_again=$(since "$t")

echo "== a node restarts after a kill (the client id tracker's Raft leader, the slow case)"
restart() {  # restart NUDGE: kill the Raft leader's node, start it again; prints seconds
  local x t
  x=$(leader_node 1)
  "$cloud" node-kill "$run" "$x" >/dev/null
  sleep 5
  t=$(now)
  BRIM_CLOUD_RAFT_NUDGE=$1 "$cloud" node-start "$run" "$x" >/dev/null
  since "$t"
}
t_nudge=$(restart 1)
say "restart with the early start: $t_nudge s"
t_plain=$(restart 0)
say "restart without it: $t_plain s"

echo "== round trip: operator -> cluster -> dev-a's bridge -> router broker -> responder, and back"
"$cloud" add-device "$run" dev-a >/dev/null
fleet_router 0 dev-a
bridge_up dev-a 30 || { echo "measure: dev-a's bridge did not connect" >&2; exit 1; }
op=$run/pki/operator
op_tls=(--cafile "$run/pki/ca.crt" --cert "$op/client.crt" --key "$op/client.key")
a_node=$(connections | grep -F "$(router_addr 0):" | sed 's/.*-> \([0-9.]*\):.*/\1/')
[ "$a_node" = "$(node_ip 1)" ] && other=$(node_ip 2) || other=$(node_ip 1)
# The anchor: the same request and responder on the router's own broker, through no bridge.
in_net "${router_ns[0]}" "$run/bin/mqtt_rr" --respond -h 127.0.0.1 -p 1883 -t 'bench/+' -n 600 &
sleep 0.5
rtt_rows() {  # rtt_rows LABEL: three runs of 1000 sequential requests
  local label=$1
  rtt_local=$(in_net "${router_ns[0]}" "$run/bin/mqtt_rr" -h 127.0.0.1 -p 1883 -t bench/echo -n 1000 --label local)
  rtt_same=$(in_net "$isp" "$run/bin/mqtt_rr" -h "$a_node" -p 8883 "${op_tls[@]}" \
    -i "$(cat "$op/clientid")-rtt" -t fleet/dev-a/echo -n 1000 --label same-node)
  rtt_cross=$(in_net "$isp" "$run/bin/mqtt_rr" -h "$other" -p 8883 "${op_tls[@]}" \
    -i "$(cat "$op/clientid")-rtt" -t fleet/dev-a/echo -n 1000 --label cross-node)
  echo "  $label"
  echo "    $rtt_local"
  echo "    $rtt_same"
  echo "    $rtt_cross"
}
val() { sed -n "s/.* $1=\([0-9.]*\).*/\1/p" <<<"$2"; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.1f", (b > 0) ? a / b : 0 }'; }
rtt_rows "with 1 bridge"
rtt1_local=$rtt_local rtt1_same=$rtt_same rtt1_cross=$rtt_cross

echo "== $bridges bridges, each a mosquitto of its own in one namespace"
ids=()
for i in $(seq 0 $((bridges - 1))); do ids+=("$(printf 'dev-%03d' "$i")"); done
t=$(now)
"$cloud" add-device "$run" "${ids[@]}"
t_devices=$(since "$t")
fleet=$(netns_new)
in_net "$fleet" ip link set lo up
in_net "$fleet" ip link add eth1 type veth peer name fleet0 netns "$isp"
in_net "$isp" ip link set fleet0 master isp0 up
in_net "$fleet" ip addr add 100.64.100.1/10 dev eth1
in_net "$fleet" ip link set eth1 up
in_net "$fleet" ip route add default via 100.64.0.1
pre1=$(rss_kib "$(beam 1)")
pre2=$(rss_kib "$(beam 2)")
perl1=$(erl_mem 1)
perl2=$(erl_mem 2)
t=$(now)
pids=()
for i in "${!ids[@]}"; do
  broker_conf "${ids[$i]}" $((20000 + i))
  in_net "$fleet" mosquitto -d -c "$run/routers/${ids[$i]}/mosquitto.conf" 2>/dev/null
done
t_spawn=$(since "$t")
want=$((bridges + 1))  # and dev-a's
end=$((SECONDS + 300))
while [ $SECONDS -lt $end ]; do
  have=$(connections | tail -n +2 | wc -l)
  say "$(since "$t") s: $have of $want bridges connected"
  [ "$have" -ge "$want" ] && break
  sleep 3
done
t_connect=$(since "$t")
[ "$have" -ge "$want" ] || echo "measure: only $have of $want bridges connected in 300 s" >&2
sleep 10  # let the nodes settle before reading their memory
post1=$(rss_kib "$(beam 1)")
post2=$(rss_kib "$(beam 2)")
perl1b=$(erl_mem 1)
perl2b=$(erl_mem 2)
on1=$(held 1)
on2=$(held 2)
mq_total=0
mq_n=0
for i in "${!ids[@]}"; do
  p=$(cat "$run/routers/${ids[$i]}/mosquitto.pid" 2>/dev/null) || continue
  mq_total=$((mq_total + $(pss_kib "$p")))
  mq_n=$((mq_n + 1))
done
# CPU the nodes spend holding the idle bridges (keepalives every 20 s), over 30 s.
cpu() { awk '{print $14 + $15}' "/proc/$1/stat"; }
c1=$(cpu "$(beam 1)")
c2=$(cpu "$(beam 2)")
sleep 30
c1=$(($(cpu "$(beam 1)") - c1))
c2=$(($(cpu "$(beam 2)") - c2))
hz=$(getconf CLK_TCK)

rtt_rows "with $bridges more bridges"
rttn_local=$rtt_local rttn_same=$rtt_same

echo "== the whole fleet moves off a killed node"
x=1
[ "$on2" -gt "$on1" ] && x=2
y=$((3 - x))
moving=$(held "$x")
"$cloud" node-kill "$run" "$x" >/dev/null
t=$(now)
end=$((SECONDS + 300))
while [ $SECONDS -lt $end ]; do
  have=$(held "$y")
  say "$(since "$t") s: $have of $want on node $y"
  [ "$have" -ge "$want" ] && break
  sleep 2
done
t_move=$(since "$t")
t=$(now)
"$cloud" node-start "$run" "$x" >/dev/null
t_back=$(since "$t")

"$cloud" stop "$run" >/dev/null

echo
echo "== figures (this machine: $(nproc) cores; one run)"
fig "cluster start from nothing" "$t_fresh s (certificates, both nodes, clustered, TLS listening)"
fig "cluster start from its own state" "$t_again s (after a stop of $t_stop s)"
fig "node restart after a kill, early Raft start" "$t_nudge s   anchor without it: $t_plain s   ratio $(ratio "$t_plain" "$t_nudge")"
fig "node memory idle (VmRSS)" "node 1 $(mib "$idle1"), node 2 $(mib "$idle2")"
fig "node memory idle (Erlang's count)" "node 1 $(mib $((erl1 / 1024))), node 2 $(mib $((erl2 / 1024)))"
fig "devices added ($bridges: key, certificate, user)" "$t_devices s"
fig "$bridges bridges started / all connected" "$t_spawn s / $t_connect s (node 1 holds $on1, node 2 holds $on2)"
fig "node VmRSS before -> with the bridges" "node 1 $(mib "$pre1") -> $(mib "$post1"), node 2 $(mib "$pre2") -> $(mib "$post2")"
per=$(awk -v a="$pre1" -v b="$post1" -v c="$pre2" -v d="$post2" -v n=$((on1 + on2 - 1)) \
  'BEGIN { printf "%.0f KiB", (b - a + d - c) / n }')
pere=$(awk -v a="$perl1" -v b="$perl1b" -v c="$perl2" -v d="$perl2b" -v n=$((on1 + on2 - 1)) \
  'BEGIN { printf "%.0f KiB", (b - a + d - c) / n / 1024 }')
fig "cluster memory per bridge connection" "$per VmRSS, $pere Erlang's count"
fig "router side: mosquitto per bridge (PSS)" "$(mib $((mq_total / (mq_n > 0 ? mq_n : 1))))"
fig "node CPU holding the idle bridges" "node 1 $(awk -v t="$c1" -v h="$hz" 'BEGIN { printf "%.2f%%", t / h / 30 * 100 }'), node 2 $(awk -v t="$c2" -v h="$hz" 'BEGIN { printf "%.2f%%", t / h / 30 * 100 }') of one core"
fig "fleet failover: $moving bridges off node $x" "all $want on node $y after $t_move s; node $x back after $t_back s"
printf '  %-44s %-22s %-22s %s\n' "round trip (ms), 1000 requests in turn" "through the cluster" "router broker alone" "ratio"
for row in "p50 1 bridge:$rtt1_same:$rtt1_local:p50" "p99 1 bridge:$rtt1_same:$rtt1_local:p99" \
  "p50 1 bridge, cross-node:$rtt1_cross:$rtt1_local:p50" "p99 1 bridge, cross-node:$rtt1_cross:$rtt1_local:p99" \
  "p50 $((bridges + 1)) bridges:$rttn_same:$rttn_local:p50" "p99 $((bridges + 1)) bridges:$rttn_same:$rttn_local:p99"; do
  IFS=: read -r name c l k <<<"$row"
  printf '  %-44s %-22s %-22s %s\n' "$name" "$(val "$k" "$c")" "$(val "$k" "$l")" "$(ratio "$(val "$k" "$c")" "$(val "$k" "$l")")"
done
