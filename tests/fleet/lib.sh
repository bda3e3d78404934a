# Shared by the fleet scripts (bash): a small world of network namespaces around the cloud.
#
#   fleet_enter "$@"     first line of a script: runs it again in fresh PID and mount namespaces,
#                        so that every namespace, broker and client it starts ends with it
#   fleet_isp            the ISP network: a namespace with the bridge isp0, 100.64.0.1/10
#   fleet_router K ID    router K: a namespace whose eth1 (100.64.x.y/10) hangs on isp0, its
#                        broker on 127.0.0.1:1883 bridged to the cloud as device ID, and a
#                        responder that answers every request T on T/R with the request's body
#   in_net PID CMD...    CMD in the network namespace that process PID holds
#
# Set before use: run (the cloud's run directory), repo; fleet_responder (optional): the path of
# mqtt_rr, to answer with it instead of mosquitto_sub and one mosquitto_pub per request. Sets:
# isp (PID holding the ISP network), router_ns[K], router_broker[K].
# shellcheck shell=bash

fleet_life=${BRIM_FLEET_LIFETIME:-3600}  # no namespace of ours outlives this many seconds

fleet_enter() {
  if [ -z "${BRIM_FLEET_INNER:-}" ]; then
    [ "$(id -u)" -eq 0 ] || { echo "${0##*/}: must run as root" >&2; exit 2; }
    exec env BRIM_FLEET_INNER=1 unshare --pid --mount --fork --kill-child --mount-proc \
      --propagation private -- bash "$0" "$@"
  fi
}

in_net() {
  local p=$1
  shift
  nsenter --net="/proc/$p/ns/net" -- "$@"
}

netns_new() {  # prints the PID of a process that holds a new network namespace
  unshare --net -- sleep "$fleet_life" </dev/null >/dev/null 2>&1 &
  local p=$! i=0
  # unshare(2) first, then exec: wait until the process is sleep in its own namespace.
  while [ "$(readlink "/proc/$p/ns/net")" = "$(readlink /proc/self/ns/net)" ] && [ $i -lt 100 ]; do
    sleep 0.01
    i=$((i + 1))
  done
  echo "$p"
}

fleet_isp() {
  isp=$(netns_new)
  in_net "$isp" ip link set lo up
  in_net "$isp" ip link add isp0 type bridge
  in_net "$isp" ip addr add 100.64.0.1/10 dev isp0
  in_net "$isp" ip link set isp0 up
}

router_addr() { echo "100.64.$(($1 / 200)).$(($1 % 200 + 10))"; }

declare -a router_ns router_broker
fleet_router() {  # fleet_router K ID [PORT]: K from 0; PORT of the router's broker (1883)
  local k=$1 id=$2 port=${3:-1883} r d
  r=$(netns_new)
  router_ns[k]=$r
  in_net "$r" ip link set lo up
  in_net "$r" ip link add eth1 type veth peer name "r$k" netns "$isp"
  in_net "$isp" ip link set "r$k" master isp0 up
  in_net "$r" ip addr add "$(router_addr "$k")/10" dev eth1
  in_net "$r" ip link set eth1 up
  in_net "$r" ip route add default via 100.64.0.1
  router_start "$k" "$id" "$port"
}

broker_conf() {  # broker_conf ID PORT: a router broker's configuration, bridged as device ID
  local id=$1 port=$2 d=$run/routers/$1 c=$run/pki/devices/$1
  mkdir -p "$d"
  cat >"$d/mosquitto.conf" <<EOF
# Router $id's broker (a stand-in): loopback only, as on the router.
listener $port 127.0.0.1
allow_anonymous true
persistence false
set_tcp_nodelay true
user root
pid_file $d/mosquitto.pid
log_dest file $d/mosquitto.log
log_type error
log_type warning
log_type notice
EOF
  "$repo/platform/bin/brim-bridge-conf" --conf "$d/mosquitto.conf" --id "$id" \
    --cloud "$(awk '$1 == "node1" {print $2}' "$run/addresses")" \
    --cloud "$(awk '$1 == "node2" {print $2}' "$run/addresses")" \
    --cafile "$c/ca.crt" --certfile "$c/client.crt" --keyfile "$c/client.key" \
    --client-id-file "$c/clientid"
}

router_start() {  # router_start K ID [PORT]: the broker, bridged, and the responder
  local k=$1 id=$2 port=${3:-1883} r=${router_ns[$1]} d=$run/routers/$2
  broker_conf "$id" "$port"
  rm -f "$d/mosquitto.pid"
  in_net "$r" mosquitto -d -c "$d/mosquitto.conf" 2>>"$d/mosquitto.log"
  local i=0
  while [ ! -s "$d/mosquitto.pid" ] && [ $i -lt 200 ]; do sleep 0.01; i=$((i + 1)); done
  router_broker[k]=$(cat "$d/mosquitto.pid")
  # The responder: every request T (one level under cloud/) is answered on T/R with its body.
  if [ -n "${fleet_responder:-}" ]; then
    in_net "$r" "$fleet_responder" --respond -h 127.0.0.1 -p "$port" -t 'cloud/+' -n "$fleet_life" \
      </dev/null >>"$d/responder.log" 2>&1 &
  else
    # Each line "topic body" of mosquitto_sub -v; bodies here are one line of JSON.
    in_net "$r" sh -c "mosquitto_sub -p $port -t 'cloud/+' -v | while read -r t m; do
        mosquitto_pub -p $port -t \"\$t/R\" -m \"\$m\"; done" </dev/null >>"$d/responder.log" 2>&1 &
  fi
}

bridge_up() {  # bridge_up ID SECONDS: until the cloud lists the device's bridge connection
  local id=$1 end=$((SECONDS + $2))
  while [ $SECONDS -lt $end ]; do
    grep -q "^$(cat "$run/pki/devices/$id/clientid")\$" < <(cloud_clients) && return 0
    sleep 0.5
  done
  return 1
}

cloud_clients() {  # client ids connected to the cluster, asked of any running node
  local n
  for n in 1 2; do
    "$repo/sandbox/brim-cloud" ctl "$run" "$n" list_mqtt_connections client_id 2>/dev/null | tail -n +2 && return 0
  done
}
