#!/usr/bin/env bash
# Security and fault checks of the fleet's cloud, end to end: the two-node cluster, an ISP network,
# two routers (dev-a, dev-b) whose brokers are bridged to the cluster, and the operator. Every
# case prints one line ("ok" or "FAIL"); the last line counts them; the exit status is 1 when
# any case failed.
#
#   bash tests/fleet/check.sh [RUNDIR]      (as root; RUNDIR defaults to a new one in /tmp)
#
# Refused cases check twice: the client is turned away (its QoS 1 publish gets no
# acknowledgement, its subscription none), and nothing it sent or asked for arrives anywhere: a
# watcher of the operator's sees everything on fleet/#, and one on each router's broker sees
# everything there. Faults: the node that carries dev-a's bridge is killed while the operator
# asks dev-a ten times a second, then started again; then the other node, which by then carries
# both. Every request sent from 15 s after a kill on must be answered, none twice.
set -euo pipefail
repo=$(cd "$(dirname "$(readlink -f "$0")")/../.." && pwd)
. "$repo/tests/fleet/lib.sh"
fleet_enter "$@"

run=${1:-$(mktemp -d /tmp/brim-fleet-check.XXXXXX)}
mkdir -p "$run"
run=$(cd "$run" && pwd -P)
cloud=$repo/sandbox/brim-cloud
out=$run/check
rm -rf "$out" "$run/routers"
mkdir -p "$out"
bash "$repo/scripts/deps-cloud.sh"
cc -O2 -Wall -o "$out/mqtt_rr" "$repo/tests/fleet/mqtt_rr.c" -lmosquitto

passed=0
failed=0
ok() { echo "ok    $1"; passed=$((passed + 1)); }
fail() { echo "FAIL  $1${2:+: $2}"; failed=$((failed + 1)); }
check() {  # check NAME CONDITION-TEXT COMMAND...: ok when COMMAND succeeds
  local name=$1 why=$2
  shift 2
  if "$@"; then ok "$name"; else fail "$name" "$why"; fi
}

echo "== setting up: cloud, ISP network, routers dev-a and dev-b"
fleet_isp
"$cloud" start "$run" --uplink "/proc/$isp/ns/net"
"$cloud" add-device "$run" dev-a dev-b
fleet_router 0 dev-a
fleet_router 1 dev-b
for id in dev-a dev-b; do
  bridge_up "$id" 30 || { echo "FAIL  setup: $id's bridge did not connect"; exit 1; }
done
echo "bridges of dev-a and dev-b are connected"

node_ip() { awk -v n="node$1" '$1 == n {sub(/:.*/, "", $2); print $2}' "$run/addresses"; }
n1=$(node_ip 1)
n2=$(node_ip 2)
op=$run/pki/operator
op_cid=$(cat "$op/clientid")
tls() {  # tls DIR: the TLS options for the credentials in DIR
  echo --cafile "$run/pki/ca.crt" --cert "$1/client.crt" --key "$1/client.key"
}

# Watchers: the operator on fleet/#, and each router's own broker.
in_net "$isp" mosquitto_sub -V mqttv311 -h "$n2" -p 8883 $(tls "$op") -i "$op_cid-watch" \
  -t 'fleet/#' -v >"$out/cloud.log" 2>&1 &
for k in 0 1; do
  in_net "${router_ns[$k]}" mosquitto_sub -p 1883 -t '#' -v >"$out/local-$k.log" 2>&1 &
done
sleep 1

marker() { echo "mark-$1-$RANDOM$RANDOM"; }
delivered() {  # delivered TEXT: some watcher saw TEXT
  grep -qF -- "$1" "$out/cloud.log" "$out/local-0.log" "$out/local-1.log"
}
op_pub() {  # op_pub TOPIC BODY: the operator publishes
  in_net "$isp" timeout 10 mosquitto_pub -V mqttv311 -h "$n1" -p 8883 $(tls "$op") \
    -i "$op_cid-pub" -q 1 -t "$1" -m "$2"
}

# ---------------------------------------------------------------------------------------------
echo "== identities and permissions"
a=$run/pki/devices/dev-a
a_cid=$(cat "$a/clientid")
b_cid=$(cat "$run/pki/devices/dev-b/clientid")
# A rogue CA issues a certificate for dev-b.
rogue=$out/rogue
mkdir -p "$rogue"
openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -days 1 -subj "/CN=rogue CA" \
  -keyout "$rogue/ca.key" -out "$rogue/ca.crt" 2>/dev/null
openssl req -new -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -subj "/O=brim fleet/CN=dev-b" \
  -keyout "$rogue/client.key" 2>/dev/null |
  openssl x509 -req -CA "$rogue/ca.crt" -CAkey "$rogue/ca.key" -set_serial 7 -days 1 \
    -out "$rogue/client.crt" 2>/dev/null

# Publishing, from dev-a's network. Columns: case | client options | topic. Each publishes a
# marker with QoS 1: refused means no acknowledgement and the marker nowhere.
a_tls="$(tls "$a") -i $a_cid-x"
publishes=(
  "A's certificate publishes a request for B|$a_tls|fleet/dev-b/echo"
  "A's certificate publishes a reply as B|$a_tls|fleet/dev-b/echo/R"
  "A's certificate publishes for B with dots for slashes|$a_tls|fleet.dev-b/echo"
  "A's certificate publishes outside fleet/|$a_tls|dev-b/echo"
  "A's certificate with B's username and a password|$a_tls -u dev-b -P secret|fleet/dev-b/echo"
  "A's certificate with B's username and no password|$a_tls -u dev-b|fleet/dev-b/echo"
  "A's certificate with the operator's username and a password|$a_tls -u operator -P secret|fleet/dev-b/echo"
  "A's certificate with its own username and a password|$a_tls -u dev-a -P secret|fleet/dev-a/echo"
  "certificate for dev-b from another CA|--cafile $run/pki/ca.crt --cert $rogue/client.crt --key $rogue/client.key -i rogue|fleet/dev-b/echo"
  "no client certificate|--cafile $run/pki/ca.crt -i nocert|fleet/dev-b/echo"
  "no client certificate, B's username and a password|--cafile $run/pki/ca.crt -i nocert -u dev-b -P secret|fleet/dev-b/echo"
)
for row in "${publishes[@]}"; do
  IFS='|' read -r name opts topic <<<"$row"
  m=$(marker pub)
  rc=0
  # shellcheck disable=SC2086
  in_net "${router_ns[0]}" timeout 10 mosquitto_pub -V mqttv311 -h "$n1" -p 8883 $opts -q 1 \
    -t "$topic" -m "$m" >"$out/last.err" 2>&1 || rc=$?
  sleep 0.5
  if [ "$rc" -eq 0 ]; then
    fail "$name" "the publish was acknowledged"
  elif delivered "$m"; then
    fail "$name" "the message was delivered"
  else
    ok "$name (refused: $(head -n 1 "$out/last.err"))"
  fi
done
# Last wills, sent at an unclean end: the cluster checks the will's topic when it would send it.
will_sent() {  # will_sent TOPIC: A's client with that will is killed; was the will delivered?
  local m
  m=$(marker will)
  # shellcheck disable=SC2086
  nsenter --net="/proc/${router_ns[0]}/ns/net" -- mosquitto_sub -V mqttv311 -h "$n1" -p 8883 $a_tls \
    -t fleet/dev-a/x --will-topic "$1" --will-payload "$m" -W 10 >/dev/null 2>&1 &
  local p=$!
  sleep 1.5
  kill -KILL "$p" 2>/dev/null || true
  wait "$p" 2>/dev/null || true
  sleep 1
  delivered "$m"
}
if will_sent fleet/dev-b/echo; then fail "A's last will on B's topic" "it was delivered"; else ok "A's last will on B's topic is not sent"; fi
check "control: A's last will on its own topic is sent" "not delivered" will_sent fleet/dev-a/will

# A control: the same certificate on its own topics is accepted and answered.
m=$(marker own)
rc=0
in_net "${router_ns[0]}" timeout 10 mosquitto_pub -V mqttv311 -h "$n1" -p 8883 $a_tls -q 1 \
  -t fleet/dev-a/echo -m "$m" >"$out/last.err" 2>&1 || rc=$?
sleep 1
check "control: A's certificate on its own topic is accepted and answered" "rc $rc" \
  grep -qF "cloud/echo/R $m" "$out/local-0.log"

# Plain MQTT and the cluster's other ports are closed to the ISP side.
closed=()
for addr in "$n1" "$n2"; do
  for p in 1883 5672 4369 25672 25673 15672 35672; do
    if in_net "$isp" timeout 3 bash -c "exec 3<>/dev/tcp/$addr/$p" 2>/dev/null; then closed+=("$addr:$p"); fi
  done
done
check "no plain MQTT (1883), AMQP, epmd, distribution or management port open to the ISP side" \
  "open: ${closed[*]:-}" test ${#closed[@]} -eq 0

# Subscribing. Columns: case | client id | filter | a topic the operator then publishes on.
subscriptions=(
  "A's certificate subscribes to B's topics|$a_cid-y|fleet/dev-b/#|fleet/dev-b/echo"
  "A's certificate subscribes to every device's echo|$a_cid-y|fleet/+/echo|fleet/dev-b/echo"
  "A's certificate subscribes to all of fleet/|$a_cid-y|fleet/#|fleet/dev-b/echo"
  "A's certificate subscribes to everything|$a_cid-y|#|fleet/dev-b/echo"
  "A's certificate subscribes to B's with dots for slashes|$a_cid-y|fleet.dev-b/#|fleet/dev-b/echo"
  "A's certificate under a client id not its own subscribes to its own topics|other-$RANDOM|fleet/dev-a/#|fleet/dev-a/echo"
)
for row in "${subscriptions[@]}"; do
  IFS='|' read -r name cid filter topic <<<"$row"
  # The cluster closes the connection instead of acknowledging; mosquitto_sub keeps trying.
  rc=0
  in_net "${router_ns[0]}" mosquitto_sub -V mqttv311 -h "$n1" -p 8883 $(tls "$a") -i "$cid" \
    -t "$filter" -E -W 3 >/dev/null 2>&1 || rc=$?
  in_net "${router_ns[0]}" mosquitto_sub -V mqttv311 -h "$n1" -p 8883 $(tls "$a") -i "$cid" \
    -t "$filter" -C 1 -W 5 >"$out/sub.out" 2>/dev/null &
  sub=$!
  sleep 2
  m=$(marker sub)
  op_pub "$topic" "$m" || true
  wait "$sub" || true
  if [ "$rc" -eq 0 ]; then
    fail "$name" "the subscription was acknowledged"
  elif [ -s "$out/sub.out" ]; then
    fail "$name" "it received: $(head -c 80 "$out/sub.out")"
  else
    ok "$name (refused, nothing received)"
  fi
done

# A control for the table: under its own client id, A's certificate may subscribe to its own
# topics. (That connection takes the client id over from A's bridge for a moment, as MQTT wants
# of a second connection under one client id; the bridge connects again by itself.)
rc=0
in_net "${router_ns[0]}" mosquitto_sub -V mqttv311 -h "$n1" -p 8883 $(tls "$a") -i "$a_cid" \
  -t 'fleet/dev-a/#' -E -W 5 >/dev/null 2>&1 || rc=$?
check "control: A's certificate under its own client id subscribes to its own topics" "rc $rc" test "$rc" -eq 0
check "A's bridge is back within 30 s after that" "not connected" bridge_up dev-a 30

# B's own bridge is still there: nothing above took over its client id.
check "B's bridge stayed connected through all of the above" "not connected" \
  grep -qx "$b_cid" < <(cloud_clients)

# Requests for B reach B only; requests for A are answered through A's bridge.
lines0=$(wc -l <"$out/local-0.log")
rr() {  # rr NODE-IP TOPIC COUNT [mqtt_rr options]: the operator asks
  local ip=$1 topic=$2 n=$3
  shift 3
  in_net "$isp" "$out/mqtt_rr" -h "$ip" -p 8883 $(tls "$op") -i "$op_cid-rr$RANDOM" \
    -t "$topic" -n "$n" "$@"
}
res=$(rr "$n1" fleet/dev-b/echo 20 --label dev-b) || true
sleep 1
check "operator's requests for B are answered ($res)" "" grep -q 'answered=20 lost=0 dup=0' <<<"$res"
check "a request for B never reaches A's side" "A's broker saw $(($(wc -l <"$out/local-0.log") - lines0)) messages" \
  test "$(wc -l <"$out/local-0.log")" -eq "$lines0"
res=$(rr "$n2" fleet/dev-a/echo 20 --label dev-a) || true
check "operator request on fleet/dev-a/echo is answered on fleet/dev-a/echo/R through A's bridge ($res)" "" \
  grep -q 'answered=20 lost=0 dup=0' <<<"$res"

# No loop: one request and its reply cross each side exactly once, and nothing more comes.
res=$(rr "$n1" fleet/dev-a/loop 1 --label loop) || true
sleep 3
counts="cloud $(grep -c '^fleet/dev-a/loop ' "$out/cloud.log")+$(grep -c '^fleet/dev-a/loop/R ' "$out/cloud.log")"
counts+=", router $(grep -c '^cloud/loop ' "$out/local-0.log")+$(grep -c '^cloud/loop/R ' "$out/local-0.log")"
check "no loop: one request and one reply on each side, 3 s later still ($counts)" "" \
  test "$counts" = "cloud 1+1, router 1+1"

# ---------------------------------------------------------------------------------------------
echo "== faults"
bridge_node() {  # the node (1 or 2) that carries dev-a's bridge
  "$cloud" ctl "$run" "$1" list_mqtt_connections client_id conn_name 2>/dev/null |
    awk -v c="$a_cid" -v n1="$n1" '$1 == c { split($NF, a, ":"); print (a[1] == n1) ? 1 : 2 }'
}
fault_round() {  # fault_round VICTIM SURVIVOR LABEL
  local x=$1 y=$2 label=$3 log=$out/fault-$1.log t_kill t_up res
  # The operator starts on the survivor and moves on to the victim's address only if its own
  # connection drops.
  in_net "$isp" "$out/mqtt_rr" -h "$(node_ip "$y")" -h "$(node_ip "$x")" -p 8883 $(tls "$op") \
    -i "$op_cid-fault$x" -t fleet/dev-a/echo -n 500 -r 10 -w 3000 --log "$log" \
    --label "kill node $x" >"$out/fault-$x.res" 2>&1 &
  local rrpid=$!
  sleep 5
  "$cloud" node-kill "$run" "$x"
  t_kill=$(date +%s.%N)
  "$cloud" node-start "$run" "$x"
  t_up=$(date +%s.%N)
  wait "$rrpid" || true
  res=$(cat "$out/fault-$x.res")
  echo "   $res"
  # The outage: from the last request answered before the kill to the first one answered after
  # the first that was not (the tool sends every 0.1 s).
  local rec late dup lost
  rec=$(awk -v k="$t_kill" '
    $3 > 0 && !gone { last = $2 }
    $2 > k - 1 && $3 == 0 && !gone { gone = 1 }
    gone && $3 > 0 { printf "%.1f", $2 - last; exit }' "$log")
  lost=$(awk -v k="$t_kill" '$2 > k - 1 && $3 == 0' "$log" | wc -l)
  late=$(awk -v k="$t_kill" '$2 > k + 15 && $3 == 0' "$log" | wc -l)
  dup=$(awk '$3 > 1' "$log" | wc -l)
  echo "   node $x serves again $(awk -v a="$t_kill" -v b="$t_up" 'BEGIN { printf "%.1f", b - a }') s" \
    "after the kill; no answers for ${rec:-ever} s; $lost requests unanswered"
  check "$label: the bridge moves to node $y, answers resume after ${rec:-ever} s" "" \
    test -n "$rec"
  check "$label: every request from 15 s after the kill on is answered" "$late unanswered" test "$late" -eq 0
  check "$label: nothing answered twice" "$dup answered twice" test "$dup" -eq 0
}
x=$(bridge_node 1)
[ -n "$x" ] || x=$(bridge_node 2)
if [ -z "$x" ]; then
  fail "faults" "dev-a's bridge is on neither node"
else
  y=$((3 - x))
  fault_round "$x" "$y" "kill the bridge's node $x"
  now=$(bridge_node "$y")
  check "the bridge stays on node $y after node $x is back" "it is on node ${now:-none}" test "$now" = "$y"
  fault_round "$y" "$x" "kill node $y (the bridge's and the operator's)"
fi

"$cloud" stop "$run" >/dev/null
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
