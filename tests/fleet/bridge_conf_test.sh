#!/bin/sh
# Checks platform/bin/brim-bridge-conf under every POSIX shell at hand (the router runs it under
# busybox sh): hostile arguments are refused with nothing written, the section maps the topics
# as documented, rewriting a configuration keeps one section and everything else, the address
# order spreads a fleet over the nodes, and mosquitto accepts what it writes.
#
#   sh tests/fleet/bridge_conf_test.sh
set -eu
repo=$(cd "$(dirname "$0")/../.." && pwd)
gen=$repo/platform/bin/brim-bridge-conf
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
passed=0
failed=0
ok() { passed=$((passed + 1)); }
fail() { echo "FAIL [$shell] $*"; failed=$((failed + 1)); }

shells="/bin/sh"
command -v dash >/dev/null && shells="$shells $(command -v dash)"
command -v busybox >/dev/null && shells="$shells busybox-sh"
command -v bash >/dev/null && shells="$shells bash-posix"
run_gen() {  # run_gen ARGS...: the generator under $shell
  case $shell in
    busybox-sh) busybox sh "$gen" "$@" ;;
    bash-posix) bash --posix "$gen" "$@" ;;
    *) "$shell" "$gen" "$@" ;;
  esac
}

printf 'dev-a-0123456789abcdef\n' >"$tmp/clientid"
printf 'bad/id\n' >"$tmp/clientid.bad"
: >"$tmp/clientid.empty"
creds="--cafile /etc/brim/ca.crt --certfile /etc/brim/client.crt --keyfile /etc/brim/client.key"
long=$(printf '%065d' 0)
nl='
'

for shell in $shells; do
  # Refused: each line is one set of arguments; nothing may be printed or written.
  while IFS= read -r args; do
    [ -n "$args" ] || continue
    rm -f "$tmp/conf"
    # shellcheck disable=SC2086
    if eval "run_gen $args --conf $tmp/conf" >"$tmp/out" 2>&1; then
      fail "accepted: $args"
    elif [ -e "$tmp/conf" ]; then
      fail "wrote a file for: $args"
    else
      ok
    fi
  done <<EOF
--cloud 203.0.113.10 $creds
--id dev/a --cloud 203.0.113.10 $creds
--id 'dev+' --cloud 203.0.113.10 $creds
--id 'dev#' --cloud 203.0.113.10 $creds
--id 'dev a' --cloud 203.0.113.10 $creds
--id dev.a --cloud 203.0.113.10 $creds
--id '' --cloud 203.0.113.10 $creds
--id $long --cloud 203.0.113.10 $creds
--id "dev-a\${nl}connection evil" --cloud 203.0.113.10 $creds
--id dev-a $creds
--id dev-a --cloud '203.0.113.10/x' $creds
--id dev-a --cloud '203.0.113.10:' $creds
--id dev-a --cloud '203.0.113.10 evil' $creds
--id dev-a --cloud 203.0.113.10 --cafile ca.crt --certfile /c --keyfile /k
--id dev-a --cloud 203.0.113.10 --cafile '/etc/my ca.crt' --certfile /c --keyfile /k
--id dev-a --cloud 203.0.113.10 --cafile "/etc/ca\${nl}topic # both" --certfile /c --keyfile /k
--id dev-a --cloud 203.0.113.10 --certfile /c --keyfile /k
--id dev-a --cloud 203.0.113.10 $creds --client-id-file $tmp/clientid.bad
--id dev-a --cloud 203.0.113.10 $creds --client-id-file $tmp/clientid.empty
--id dev-a --cloud 203.0.113.10 $creds --client-id-file $tmp/none
--id dev-a --cloud 203.0.113.10 $creds --local-prefix 'cloud/#'
--id dev-a --cloud 203.0.113.10 $creds --local-prefix /cloud
--id dev-a --cloud 203.0.113.10 $creds --client-id 'x y'
--id dev-a --cloud 203.0.113.10 $creds --bogus 1
--id dev-a --cloud 203.0.113.10 $creds --id
EOF

  # The section: topics, client id, addresses with their default port.
  # shellcheck disable=SC2086
  run_gen --id dev-a --cloud 203.0.113.10 --cloud 203.0.113.11:8884 $creds \
    --client-id-file "$tmp/clientid" >"$tmp/section"
  for want in 'topic + in 0 "" fleet/dev-a/' 'topic +/R out 0 "" fleet/dev-a/' \
    'remote_clientid dev-a-0123456789abcdef' 'bridge_protocol_version mqttv311' \
    'try_private false' 'cleansession true' 'bridge_insecure false' 'notifications_local_only true'; do
    if grep -qxF "$want" "$tmp/section"; then ok; else fail "section lacks '$want'"; fi
  done
  if grep -qxE 'addresses (203\.0\.113\.10:8883 203\.0\.113\.11:8884|203\.0\.113\.11:8884 203\.0\.113\.10:8883)' \
    "$tmp/section"; then ok; else fail "addresses: $(grep addresses "$tmp/section")"; fi
  if [ "$(grep -c '^topic ' "$tmp/section")" -eq 2 ]; then ok; else fail "more than two topic lines"; fi
  # shellcheck disable=SC2086
  if run_gen --id dev-a --cloud 203.0.113.10 $creds --client-id given-1 | grep -qxF 'remote_clientid given-1'; then
    ok
  else
    fail "--client-id not taken"
  fi

  # Rewriting: the rest of the file stays, one section, always last.
  printf 'listener 1883 127.0.0.1\nallow_anonymous true\n' >"$tmp/conf"
  # shellcheck disable=SC2086
  run_gen --id dev-a --cloud 203.0.113.10 $creds --conf "$tmp/conf"
  # shellcheck disable=SC2086
  run_gen --id dev-b --cloud 203.0.113.10 $creds --local-prefix up --conf "$tmp/conf"
  if [ "$(grep -c '^connection ' "$tmp/conf")" -eq 1 ] && grep -qxF 'topic + in 0 up/ fleet/dev-b/' "$tmp/conf" &&
    ! grep -q dev-a "$tmp/conf" && [ "$(sed -n 1,2p "$tmp/conf")" = "$(printf 'listener 1883 127.0.0.1\nallow_anonymous true')" ] &&
    [ "$(tail -n 1 "$tmp/conf")" = '# <<< brim cloud bridge' ]; then
    ok
  else
    fail "rewriting left: $(cat "$tmp/conf")"
  fi

done

shell=/bin/sh
# Spreading, under one shell (the hash is cksum's): over 100 ids, each of two nodes comes first
# for a fair share.
first10=0 i=0
while [ $i -lt 100 ]; do
  # shellcheck disable=SC2086
  case $(run_gen --id "dev-$i" --cloud 203.0.113.10 --cloud 203.0.113.11 $creds | grep '^addresses') in
    'addresses 203.0.113.10:8883 '*) first10=$((first10 + 1)) ;;
  esac
  i=$((i + 1))
done
if [ $first10 -ge 30 ] && [ $first10 -le 70 ]; then ok; else fail "node 1 first for $first10 of 100"; fi

# mosquitto takes the file: it keeps running (a bad line makes it exit at once). In a network
# namespace of its own, where the bridge finds no cloud, when we may make one.
printf 'listener 18830 127.0.0.1\nallow_anonymous true\nuser root\n' >"$tmp/mq.conf"
# shellcheck disable=SC2086
run_gen --id dev-a --cloud 203.0.113.10 --cloud 203.0.113.11 $creds --conf "$tmp/mq.conf"
if [ "$(id -u)" -eq 0 ] && command -v mosquitto >/dev/null && unshare -n true 2>/dev/null; then
  rc=0
  timeout 2 unshare -n mosquitto -c "$tmp/mq.conf" >"$tmp/mq.log" 2>&1 || rc=$?
  if [ $rc -eq 124 ]; then ok; else fail "mosquitto exited ($rc): $(cat "$tmp/mq.log")"; fi
else
  echo "skipped: mosquitto with the written file (needs root, mosquitto and unshare)"
fi

echo "brim-bridge-conf under$(printf ' %s' $shells): $passed passed, $failed failed"
[ $failed -eq 0 ]
