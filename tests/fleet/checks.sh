# The fleet's checks, sourced by scripts/fleet.sh once its routers are bridged: refused access,
# a status sweep, faults under a steady stream of requests; their figures go to fig.
# shellcheck shell=bash disable=SC2154,SC2086
out=$run/checks
mkdir -p "$out"
A=${ids[1]} B=${ids[2]}
pa=$run/cloud/pki/devices/$A
ca=$run/cloud/pki/ca.crt
a_tls="--cafile $ca --cert $pa/client.crt --key $pa/client.key -i $(cat "$pa/clientid")"  # then a suffix
marker() { echo "mark-$1-$RANDOM$RANDOM"; }
from_a() { in_router 1 timeout 10 "$1" -V mqttv311 -h "$n1" -p 8883 "${@:2}"; }  # PROGRAM ARGS: A to node 1
refused() { [ "$1" -ne 0 ] && ! grep -qF -- "$2" "$out"/watch-*.log; }  # refused EXIT MARKER: seen nowhere

say "== security (A = $A, B = $B)"
# Watchers: the operator sees everything on fleet/#, and A's and B's brokers everything on theirs.
in_isp mosquitto_sub -V mqttv311 -h "$n2" -p 8883 "${op_tls[@]}" -i "$op_cid-watch" -t 'fleet/#' -v \
  >"$out/watch-cloud.log" 2>&1 &
in_router 1 mosquitto_sub -h 127.0.0.1 -p 1883 -t '#' -v >"$out/watch-a.log" 2>&1 &
in_router 2 mosquitto_sub -h 127.0.0.1 -p 1883 -t '#' -v >"$out/watch-b.log" 2>&1 &
sleep 1
# A rogue CA's certificate for B.
openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -days 1 -subj "/CN=rogue CA" \
  -keyout "$out/rogue-ca.key" -out "$out/rogue-ca.crt" 2>/dev/null
openssl req -new -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -subj "/O=brim fleet/CN=$B" \
  -keyout "$out/rogue.key" 2>/dev/null |
  openssl x509 -req -CA "$out/rogue-ca.crt" -CAkey "$out/rogue-ca.key" -set_serial 7 -days 1 -out "$out/rogue.crt" 2>/dev/null
# Each publishes a marker with QoS 1 from A's network: refused is no acknowledgement and the
# marker nowhere. Columns: case | client options | topic.
cases=(
  "A's credentials publish a request for B|$a_tls-x|fleet/$B/echo"
  "A's credentials publish a reply as B|$a_tls-x|fleet/$B/echo/R"
  "A's credentials with B's username and a password|$a_tls-x -u $B -P secret|fleet/$B/echo"
  "a certificate for B from another CA|--cafile $ca --cert $out/rogue.crt --key $out/rogue.key -i rogue|fleet/$B/echo"
  "no credentials|--cafile $ca -i nocert|fleet/$B/echo"
  "no certificate, B's username and a password|--cafile $ca -i nocert -u $B -P secret|fleet/$B/echo"
)
for row in "${cases[@]}"; do
  IFS='|' read -r name opts topic <<<"$row"
  m=$(marker pub) rc=0
  from_a mosquitto_pub $opts -q 1 -t "$topic" -m "$m" >"$out/last.err" 2>&1 || rc=$?
  sleep 0.5
  check "$name: refused, nothing delivered" "exit $rc, in $(grep -lF -- "$m" "$out"/watch-*.log)" \
    refused "$rc" "$m"
done
# The control: the same client with A's own topic is acknowledged, and A's broker has it.
m=$(marker own)
from_a mosquitto_pub $a_tls-x -q 1 -t "fleet/$A/echo" -m "$m" >"$out/last.err" 2>&1 || true
sleep 1
check "control: A's credentials on A's own topic are accepted, A's broker has it" "$(cat "$out/last.err")" \
  grep -qF "echo $m" "$out/watch-a.log"
# Subscriptions of A's credentials to B's topics: refused, and nothing the operator sends B arrives.
for filter in "fleet/$B/#" 'fleet/+/echo' '#'; do
  rc=0
  from_a mosquitto_sub $a_tls-y -t "$filter" -E -W 3 >/dev/null 2>&1 || rc=$?
  from_a mosquitto_sub $a_tls-y -t "$filter" -C 1 -W 4 >"$out/sub.out" 2>/dev/null &
  p=$!
  sleep 2
  in_isp timeout 10 mosquitto_pub -V mqttv311 -h "$n1" -p 8883 "${op_tls[@]}" -i "$op_cid-pub" -q 1 \
    -t "fleet/$B/echo" -m "$(marker sub)" || true
  wait "$p" || true
  check "A's credentials subscribe to $filter: refused, nothing received" \
    "exit $rc, received $(head -c 80 "$out/sub.out")" test "$rc" -ne 0 -a ! -s "$out/sub.out"
done
# Requests for B reach B's handlers only; A's broker sees none of them.
seen() { grep -c "$1" "$out/watch-$2.log" || true; }
a_lines=$(seen "^echo " a)
res=$(rr -h "$n1" -t "fleet/$B/echo" -n 20 --label "$B") || true
sleep 1
check "the operator's requests for B are answered by B ($res)" "" grep -q 'answered=20 lost=0 dup=0' <<<"$res"
check "a request for B never reaches A's handlers" "A's broker saw echo requests" test "$(seen "^echo " a)" -eq "$a_lines"
# The topic mapping, and no loop: one request and one reply on each side, and nothing more.
counts() {
  echo "cloud $(seen "^fleet/$A/echo " cloud)+$(seen "^fleet/$A/echo/R " cloud), router $(seen '^echo ' a)+$(seen '^echo/R ' a)"
}
before=$(counts)
rr -h "$n2" -h "$n1" -t "fleet/$A/echo" -n 1 --label loop >/dev/null || true
sleep 3
counts="before $before, after $(counts)"
check "fleet/$A/echo reaches A as echo, its echo/R returns on fleet/$A/echo/R, once each ($counts)" "" \
  awk '{ gsub(/[^0-9]+/, " "); exit !($5 == $1 + 1 && $6 == $2 + 1 && $7 == $3 + 1 && $8 == $4 + 1) }' <<<"$counts"

say "== status sweep of all $n routers"
fleet -f "$run/inventory" -t 10 status >"$out/sweep.txt" 2>&1 || true
sum=$(grep '^summary:' "$out/sweep.txt" || echo "summary: none")
wan=$(grep -c '"wan_connected":true' "$out/sweep.txt" || true)
check "every router answers the status sweep ($sum)" "" grep -q "answered $n/$n" <<<"$sum"
check "every router shows its WAN connected" "$wan of $n" test "$wan" -eq "$n"
fig "status sweep of $n routers" "$(sed -n 's/.*wall \([0-9.]*\) s.*/\1 s/p' <<<"$sum")"

steady_figures

# ---------------------------------------------------------------------------------------------
declare -A pid=()
stream() {  # stream K LABEL COUNT: 10 requests a second to router K, in the background
  rr -h "$n2" -h "$n1" -t "fleet/${ids[$1]}/echo" -n "$3" -r 10 -w 3000 --log "$out/$2.log" \
    --label "$2" >"$out/$2.res" 2>&1 &
  pid[$2]=$!
}
judge() {  # judge LABEL FROM WHAT FAULT: every request sent after FROM answered, none answered twice
  local late dup
  wait "${pid[$1]}" || true
  late=$(awk -v t="$2" '$2 > t && $3 == 0' "$out/$1.log" | wc -l)
  dup=$(awk '$3 > 1' "$out/$1.log" | wc -l)
  say "   $(cat "$out/$1.res"); unanswered at (s after the fault):" \
    "$(awk -v t="$4" '$3 == 0 { printf " %.1f", $2 - t }' "$out/$1.log" | cut -c1-200)"
  check "$1: every request sent after $3 is answered" "$late unanswered" test "$late" -eq 0
  check "$1: nothing answered twice" "$dup answered twice" test "$dup" -eq 0
}
since() { awk -v a="$1" -v b="$(date +%s.%N)" 'BEGIN { printf "%.1f s", b - a }'; }

say "== fault: a cluster node killed and restarted"
# The node that carries A's bridge, when the cluster tells.
x=$({ cloud ctl 1 list_mqtt_connections client_id conn_name 2>/dev/null || true; } |
  awk -v c="$(cat "$pa/clientid")" -v n1="${n1%%:*}" '$1 == c { split($NF, a, ":"); print (a[1] == n1) ? 1 : 2 }')
x=${x:-1}
stream 1 node-kill 400
sleep 4
t_kill=$(date +%s.%N)
cloud node-kill "$x"
cloud node-start "$x"
fig "node $x back after a kill" "$(since "$t_kill")"
check "every bridge is connected again after node $x is back" "" bridges_up 60 $all
t_up=$(date +%s.%N)  # a bridge reconnects on its own back-off, after the node is back
judge node-kill "$t_up" "every bridge was connected again" "$t_kill"

W=$((n > 3 ? 3 : n - 1)) R=$n  # two different routers for any N >= 2
say "== faults: ${ids[W]}'s WAN cut and restored; ${ids[R]} rebooted"
stream "$W" wan-cut 300
stream "$R" reboot 300
sleep 3
in_isp ip link set "fr$W" down
t_rb=$(date +%s.%N)
router_stop "$R"
router_start "$R"
sleep 2
st=$(in_router "$W" mosquitto_rr -V mqttv311 -h 127.0.0.1 -p 1883 -t status -e status/R -m '{}' -W 3 2>&1) || true
check "${ids[W]}'s status on its own broker shows the WAN disconnected" "$st" grep -q '"wan_connected":false' <<<"$st"
sleep 4
in_isp ip link set "fr$W" up
t_wan=$(date +%s.%N)
check "${ids[R]} boots again and its bridge reconnects" "" bridges_up 60 "$R"
fig "reboot of ${ids[R]} until its bridge is back" "$(since "$t_rb")"
t_boot=$(date +%s.%N)
judge wan-cut "$(awk -v t="$t_wan" 'BEGIN { print t + 5 }')" "5 s after the WAN came back" "$t_wan"
judge reboot "$t_boot" "the bridge came back" "$t_rb"
st=$(fleet -d "${ids[W]}" -t 5 -q status 2>&1 | grep '^summary') || true
check "${ids[W]} answers the fleet's status again ($st)" "" grep -q 'answered 1/1' <<<"$st"
