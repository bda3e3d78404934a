# The fleet's checks, sourced by scripts/fleet.sh once its routers are bridged: refused access,
# a status sweep, faults under a steady stream of requests; their figures go to fig.
# shellcheck shell=bash disable=SC2154,SC2086
out=$run/checks
mkdir -p "$out"
A=${ids[1]} B=${ids[2]}
W=2 L=3 R=$n  # the faults' routers: a short WAN cut, a long one beside the others, a reboot
pa=$run/cloud/pki/devices/$A
ca=$run/cloud/pki/ca.crt
a_cert="--cafile $ca --cert $pa/client.crt --key $pa/client.key"
a_tls="$a_cert -i $(cat "$pa/clientid")"  # A's own client id (a suffix makes another one)
b_cid=$(cat "$run/cloud/pki/devices/$B/clientid")
marker() { echo "mark-$1-$RANDOM$RANDOM"; }
from_a() { in_router 1 timeout 10 "$1" -V mqttv311 -h "$n1" -p 8883 "${@:2}"; }  # PROGRAM ARGS: A to node 1
op_pub() {  # op_pub TOPIC MESSAGE: the operator publishes, QoS 1
  in_isp timeout 10 mosquitto_pub -V mqttv311 -h "$n1" -p 8883 "${op_tls[@]}" -i "$op_cid-pub" -q 1 -t "$1" -m "$2"
}
wait_for() {  # wait_for SECONDS COMMAND...: until COMMAND succeeds (0), or SECONDS have passed (1)
  local end=$(($(date +%s) + $1))
  until "${@:2}"; do [ "$(date +%s)" -lt "$end" ] || return 1; sleep 0.2; done
}
refused() { [ "$1" -ne 0 ] && ! grep -qF -- "$2" "$out"/watch-*.log; }  # refused EXIT MARKER: seen nowhere
has() { grep -qF -- "$2" "$out/watch-$1.log"; }  # has WATCHER TEXT
seen() { awk -v t="$1" '$2 == t' "$out/watch-$2.log" | wc -l; }  # seen TOPIC WATCHER: messages
# shellcheck disable=SC2016
state='$SYS/broker/connection/brim-cloud/state'
off_for() {  # off_for WATCHER SINCE: "OFF ON" (times) of the router's bridge after SINCE
  awk -v t="$2" -v s="$state" '$2 == s && $1 > t { if ($3 == 0 && !off) off = $1; if ($3 == 1 && off) { print off, $1; exit } }' \
    "$out/watch-$1.log"
}

say "== security (A = $A, B = $B)"
# Watchers, a line "time topic message" each: the operator sees everything on fleet/#, and the
# brokers of A, B and L everything on theirs, with their bridge's state.
declare -A wpid=() wnet=([a]=1 [b]=2 [l]=$L)
watch() {  # watch NAME: (again) the watcher NAME; its pid is its mosquitto_sub's
  local net=$isp_net args=(-V mqttv311 -h "$n2" -p 8883 "${op_tls[@]}" -i "$op_cid-watch" -t 'fleet/#')
  if [ "$1" != cloud ]; then
    net=/proc/$(router_ns "${wnet[$1]}")/ns/net args=(-h 127.0.0.1 -p 1883 -t '#' -t "$state")
  fi
  (exec nsenter --net="$net" -- mosquitto_sub "${args[@]}" -F '%U %t %p') >>"$out/watch-$1.log" 2>&1 &
  wpid[$1]=$!
}
# Each is in place once a probe through the cluster and the bridges has reached it. One that has
# given up (mosquitto_sub ends when a CONNECT is refused, say while the cluster is busy), or has
# seen no probe for a while, starts again.
for w in cloud a b l; do watch "$w"; done
probe=$(marker probe) tries=0
watching() {
  local w ok=0
  tries=$((tries + 1))
  for w in cloud a b l; do
    has "$w" "$probe" && continue
    ok=1
    [ $((tries % 10)) -ne 0 ] || kill_tree "${wpid[$w]}"
    kill -0 "${wpid[$w]}" 2>/dev/null || watch "$w"
  done
  [ "$ok" -eq 0 ] && return 0
  for w in "$A" "$B" "${ids[L]}"; do op_pub "fleet/$w/probe" "$probe" >/dev/null 2>&1 || true; done
  return 1
}
wait_for 60 watching || { say "FAIL: the watchers did not come up"; exit 1; }
# A rogue CA's certificate for B.
openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -days 1 -subj "/CN=rogue CA" \
  -keyout "$out/rogue-ca.key" -out "$out/rogue-ca.crt" 2>/dev/null
openssl req -new -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -subj "/O=brim fleet/CN=$B" \
  -keyout "$out/rogue.key" 2>/dev/null |
  openssl x509 -req -CA "$out/rogue-ca.crt" -CAkey "$out/rogue-ca.key" -set_serial 7 -days 1 -out "$out/rogue.crt" 2>/dev/null
# Each case from A's network: a marker published with QoS 1, a last will (of a client that dies
# with it set), or a subscription while the operator publishes the marker (a filter, a space, where).
# Refused: not acknowledged, the marker nowhere, then or later; a control: the marker reaches the
# watcher named. Columns: case | pub, will or sub | client options | topic | watcher or -.
ax="$a_tls-x"  # A's certificate under a client id of its own: publishing needs none
cases=(
  "A's credentials publish a request for B|pub|$ax|fleet/$B/echo|-"
  "A's credentials publish a reply as B|pub|$ax|fleet/$B/echo/R|-"
  "A's credentials with B's username and a password|pub|$ax -u $B -P secret|fleet/$B/echo|-"
  "a certificate for B from another CA|pub|--cafile $ca --cert $out/rogue.crt --key $out/rogue.key -i rogue|fleet/$B/echo|-"
  "no credentials|pub|--cafile $ca -i nocert|fleet/$B/echo|-"
  "no certificate, B's username and a password|pub|--cafile $ca -i nocert -u $B -P secret|fleet/$B/echo|-"
  "A's credentials, a retained request for B|pub|$ax -r|fleet/$B/echo|-"
  "A's credentials, a last will on B's topic|will|$ax|fleet/$B/echo|-"
  "A's credentials publish outside fleet/: other/x|pub|$ax|other/x|-"
  "A's credentials publish outside fleet/: fleet|pub|$ax|fleet|-"
  "A's credentials publish outside fleet/: \$SYS|pub|$ax|\$SYS/broker/x|-"
  "A's certificate with B's client id publishes a request for B|pub|$a_cert -i $b_cid|fleet/$B/echo|-"
  "control: A's credentials on A's own topic are accepted, A's broker has it|pub|$ax|fleet/$A/echo|a"
  "control: a retained message on A's own topic is accepted|pub|$ax -r|fleet/$A/ctl/retained|cloud"
  "control: A's last will on A's own topic reaches A's broker|will|$ax|fleet/$A/echo|a"
  # Under A's own client id: it takes A's bridge's connection over while it lasts.
  "A's credentials subscribe to fleet/$B/#|sub|$a_tls|fleet/$B/# fleet/$B/echo|-"
  "A's credentials subscribe to fleet/+/echo|sub|$a_tls|fleet/+/echo fleet/$B/echo|-"
  "A's credentials subscribe to #|sub|$a_tls|# fleet/$B/echo|-"
  "A's credentials subscribe to \$SYS/#|sub|$a_tls|\$SYS/# fleet/$B/echo|-"
  "A's credentials subscribe to other/x|sub|$a_tls|other/x fleet/$B/echo|-"
  "A's credentials subscribe to fleet|sub|$a_tls|fleet fleet|-"
  "control: A's credentials subscribe to fleet/$A/# and receive|sub|$a_tls|fleet/$A/# fleet/$A/ctl/sub|sub"
)
for row in "${cases[@]}"; do
  IFS='|' read -r name how opts topic where <<<"$row"
  m=$(marker "$how") rc=0 t=$(date +%s.%N)
  case $how in
    pub) from_a mosquitto_pub $opts -q 1 -t "$topic" -m "$m" >"$out/last.err" 2>&1 || rc=$? ;;
    will)  # killed while connected, so that the cluster publishes its will
      in_router 1 timeout -s KILL 4 mosquitto_pub -V mqttv311 -h "$n1" -p 8883 $opts --will-topic "$topic" \
        --will-payload "$m" --will-qos 1 -t "fleet/$A/ctl" -l < <(sleep 6) >"$out/last.err" 2>&1 || rc=$? ;;
    sub)  # a refused one tries for 3 s; the control ends at its first message
      wt=8 && [ "$where" = sub ] || wt=3
      from_a mosquitto_sub $opts -t "${topic% *}" -R -C 1 -W "$wt" >"$out/watch-sub.log" 2>"$out/last.err" &
      p=$!
      while kill -0 "$p" 2>/dev/null; do op_pub "${topic#* }" "$m" >/dev/null 2>&1 || true; sleep 0.3; done
      wait "$p" || rc=$? ;;
  esac
  if [ "$where" != - ]; then
    check "$name" "exit $rc: $(head -c 200 "$out/last.err")" wait_for 10 has "$where" "$m"
  elif [ "$how" = sub ]; then  # what the operator published reaches B and the operator, not A
    check "$name: refused, nothing received" "exit $rc, received $(head -c 80 "$out/watch-sub.log")" \
      test "$rc" -ne 0 -a ! -s "$out/watch-sub.log"
  else
    echo "$m" >>"$out/refused"
    sleep 0.5
    check "$name: refused, nothing delivered" "exit $rc, in $(grep -lF -- "$m" "$out"/watch-*.log)" \
      refused "$rc" "$m"
  fi
  if [[ $opts == *" -i $b_cid"* ]]; then t_take=$t; fi
done
# The cluster cannot tie a client id to a certificate: A's certificate under B's client id takes
# B's connection over (refused its topics, as above). B's bridge must be back by itself.
wait_for 30 eval '[ -n "$(off_for b "$t_take")" ]' || true
o=$(off_for b "$t_take")
check "A's certificate with B's client id: B's bridge is back by itself${o:+ after $(awk '{ printf "%.1f s", $2 - $1 }' <<<"$o")}" \
  "" bridges_up 30 2
check "A's and B's bridges are back" "" bridges_up 60 1 2
# Requests for B reach B's handlers only; A's broker sees none of them.
a_lines=$(seen echo a)
res=$(rr -h "$n1" -t "fleet/$B/echo" -n 20 --label "$B") || true
sleep 1
check "the operator's requests for B are answered by B ($res)" "" grep -q 'answered=20 lost=0 dup=0' <<<"$res"
check "a request for B never reaches A's handlers" "A's broker saw echo requests" test "$(seen echo a)" -eq "$a_lines"
# The topic mapping, and no loop: one request and one reply on each side, and nothing more.
counts() { echo "cloud $(seen "fleet/$A/echo" cloud)+$(seen "fleet/$A/echo/R" cloud), router $(seen echo a)+$(seen echo/R a)"; }
before=$(counts)
want=$(awk '{ gsub(/[^0-9]+/, " "); print "cloud " $1 + 1 "+" $2 + 1 ", router " $3 + 1 "+" $4 + 1 }' <<<"$before")
rr -h "$n2" -h "$n1" -t "fleet/$A/echo" -n 1 --label loop >/dev/null || true
wait_for 10 eval '[ "$(counts)" = "$want" ]' || true
sleep 1  # a loop would go on
check "fleet/$A/echo reaches A as echo, its echo/R returns on fleet/$A/echo/R, once each (before $before, after $(counts))" \
  "" test "$(counts)" = "$want"
check "nothing refused arrived later" "$(grep -lF -f "$out/refused" "$out"/watch-*.log)" \
  eval '! grep -qF -f "$out/refused" "$out"/watch-*.log'
# Every TCP port of both nodes' addresses, from the ISP's side: the MQTT/TLS listener only.
open=$(in_isp timeout 120 bash -c 'for h; do for ((p = 1; p < 65536; p++)); do
  { : <>"/dev/tcp/$h/$p"; } 2>/dev/null && echo "$h:$p"; done; done; true' _ "$n1" "$n2" | xargs)
check "of all TCP ports of $n1 and $n2, only 8883 answers ($open)" "" test "$open" = "$n1:8883 $n2:8883"

say "== status sweep of all $n routers"
fleet -f "$run/inventory" -t 10 status >"$out/sweep.txt" 2>&1 || true
sum=$(grep '^summary:' "$out/sweep.txt" || echo "summary: none")
wan=$(grep -c '"wan_connected":true' "$out/sweep.txt" || true)
check "every router answers the status sweep ($sum)" "" grep -q "answered $n/$n" <<<"$sum"
check "every router shows its WAN connected" "$wan of $n" test "$wan" -eq "$n"
fig "status sweep of $n routers" "$(sed -n 's/.*wall \([0-9.]*\) s.*/\1 s/p' <<<"$sum")"
for k in $(seq $((n - vms)) $((n - 1))); do  # the emulated routers: a bridge from the MIPS guest
  res=$(rr -h "$n1" -t "fleet/${ids[k]}/echo" -n 20 --label "${ids[k]}") || true
  check "control: the emulated MIPS router ${ids[k]} answers on its own topic through the cluster ($res)" "" \
    grep -q 'answered=20 lost=0 dup=0' <<<"$res"
  fig "round trip to the emulated ${ids[k]}, p50 / p99 (20)" \
    "$(sed -n 's/.*p50=\([0-9.]*\) p99=\([0-9.]*\).*/\1 ms \/ \2 ms/p' <<<"$res")"
done

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

say "== fault: ${ids[L]}'s WAN cut for 60 s, three times its bridge's keepalive, beside the faults below"
stream "$L" long-cut 550  # ends before the link is back: a stream after it asks the same topic
sleep 3
in_isp ip link set "fr$L" down
t_lcut=$(date +%s.%N)
# The link back, then, once the bridge is, a stream of its own: every request of it is sent after.
(sleep 60 && in_isp ip link set "fr$L" up && date +%s.%N >"$out/long-cut.up" && bridges_up 60 "$L" &&
  date +%s.%N >"$out/long-cut.back" && stream "$L" long-cut-after 150 && wait) &
pid[long-cut-after]=$!

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
others=$(seq 1 "$n" | grep -vx "$L")
check "every bridge is connected again after node $x is back (but ${ids[L]}'s, cut off)" "" bridges_up 60 $others
t_up=$(date +%s.%N)  # a bridge reconnects on its own back-off, after the node is back
judge node-kill "$t_up" "every bridge was connected again" "$t_kill"

say "== faults: ${ids[W]}'s WAN cut and restored; ${ids[R]} rebooted"
stream "$W" wan-cut 300
stream "$R" reboot 300
sleep 3
in_isp ip link set "fr$W" down
t_rb=$(date +%s.%N)
router_stop "$R"
router_start "$R"
wan_down() {
  st=$(in_router "$W" mosquitto_rr -V mqttv311 -h 127.0.0.1 -p 1883 -t status -e status/R -m '{}' -W 3 2>&1) &&
    grep -q '"wan_connected":false' <<<"$st"
}
wait_for 10 wan_down || true
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

say "== ${ids[L]}'s WAN back after 60 s"
wait "${pid[long-cut-after]}" || true
t_lup=$(cat "$out/long-cut.up" 2>/dev/null || echo 0) t_lback=$(cat "$out/long-cut.back" 2>/dev/null || echo 0)
o=$(awk -v t="$t_lcut" -v s="$state" '$2 == s && $1 > t && $3 == 0 { print $1; exit }' "$out/watch-l.log")
check "${ids[L]}'s bridge notices the outage ($(awk -v o="${o:-0}" -v t="$t_lcut" 'BEGIN { printf "%.1f s after the cut", o - t }'))" \
  "no disconnection while the WAN was cut" awk -v o="${o:-0}" -v t="$t_lcut" -v u="$t_lup" 'BEGIN { exit !(o > t && o < u) }'
o=$(awk -v t="$t_lup" -v s="$state" '$2 == s && $1 > t && $3 == 1 { printf "%.1f s", $1 - t; exit }' "$out/watch-l.log")
check "${ids[L]}'s bridge reconnects by itself (${o:-not at all} after the link)" "" test "$t_lback" != 0
fig "reconnect of ${ids[L]}'s bridge after a 60 s outage" "${o:-none}"
judge long-cut "$t_lback" "its bridge was back" "$t_lcut"
judge long-cut-after "$t_lback" "its bridge was back" "$t_lback"
