#!/bin/sh
# platform/bin/brim-bridge-conf under every POSIX shell at hand (the router runs it under busybox
# sh), and mosquitto running on what it writes.
set -eu
gen=$(cd "$(dirname "$0")/../.." && pwd)/platform/bin/brim-bridge-conf
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
passed=0 failed=0
t() {  # t WHAT COMMAND...: one check, WHAT told when it fails
  what=$1
  shift
  if "$@"; then passed=$((passed + 1)); else echo "FAIL [$shell] $what"; failed=$((failed + 1)); fi
}
not() { ! "$@"; }
gen() {  # gen ARGS...: the generator under $shell
  case $shell in
    busybox) busybox sh "$gen" "$@" ;;
    bash) bash --posix "$gen" "$@" ;;
    *) "$shell" "$gen" "$@" ;;
  esac
}
refused() {  # refused ARGS: the generator fails and writes no file
  rm -f "$tmp/conf"
  not eval "gen $1 --conf $tmp/conf" >/dev/null 2>&1 && [ ! -e "$tmp/conf" ]
}
shells=/bin/sh
for s in dash busybox bash; do command -v $s >/dev/null && shells="$shells $s"; done

printf 'dev-a-0123456789abcdef\n' >"$tmp/clientid"
printf 'bad/id\n' >"$tmp/clientid.bad"
: >"$tmp/clientid.empty"
creds="--cafile /etc/brim/ca.crt --certfile /etc/brim/client.crt --keyfile /etc/brim/client.key"
a="--id dev-a --cloud 203.0.113.10"
long=$(printf '%065d' 0)
nl='
'
# shellcheck disable=SC2086
for shell in $shells; do
  while IFS= read -r args; do t "accepted, or wrote a file: $args" refused "$args"; done <<EOF
--cloud 203.0.113.10 $creds
--id dev/a --cloud 203.0.113.10 $creds
--id 'dev+' --cloud 203.0.113.10 $creds
--id 'dev#' --cloud 203.0.113.10 $creds
--id 'dev a' --cloud 203.0.113.10 $creds
--id dev.a --cloud 203.0.113.10 $creds
--id $long --cloud 203.0.113.10 $creds
--id "dev-a\${nl}connection evil" --cloud 203.0.113.10 $creds
--id dev-a $creds
--id dev-a --cloud '203.0.113.10/x' $creds
--id dev-a --cloud '203.0.113.10:' $creds
--id dev-a --cloud '203.0.113.10 evil' $creds
$a --cafile ca.crt --certfile /c --keyfile /k
$a --cafile '/etc/my ca.crt' --certfile /c --keyfile /k
$a --cafile "/etc/ca\${nl}topic # both" --certfile /c --keyfile /k
$a --certfile /c --keyfile /k
$a $creds --client-id-file $tmp/clientid.bad
$a $creds --client-id-file $tmp/clientid.empty
$a $creds --client-id-file $tmp/none
$a $creds --local-prefix 'cloud/#'
$a $creds --local-prefix /cloud
$a $creds --client-id 'x y'
$a $creds --bogus 1
$a $creds --id
EOF
  # The section: topics, client id, addresses with their default port.
  gen $a --cloud 203.0.113.11:8884 $creds --client-id-file "$tmp/clientid" >"$tmp/section"
  for want in 'topic + in 0 "" fleet/dev-a/' 'topic +/R out 0 "" fleet/dev-a/' \
    'remote_clientid dev-a-0123456789abcdef' 'bridge_protocol_version mqttv311' \
    'try_private false' 'cleansession true' 'bridge_insecure false' 'notifications_local_only true'; do
    t "the section lacks '$want'" grep -qxF "$want" "$tmp/section"
  done
  t "addresses: $(grep addresses "$tmp/section")" grep -qxE \
    'addresses (203.0.113.10:8883 203.0.113.11:8884|203.0.113.11:8884 203.0.113.10:8883)' "$tmp/section"
  t "more than two topic lines" test "$(grep -c '^topic ' "$tmp/section")" -eq 2
  gen $a $creds --client-id given-1 >"$tmp/section"
  t "--client-id not taken" grep -qxF 'remote_clientid given-1' "$tmp/section"
  # A rewrite: the rest of the file as it was, then the new section alone.
  printf 'listener 1883 127.0.0.1\nallow_anonymous true\n' | tee "$tmp/conf" >"$tmp/want"
  gen $a $creds --conf "$tmp/conf"
  gen --id dev-b --cloud 203.0.113.10 $creds --local-prefix up --conf "$tmp/conf"
  gen --id dev-b --cloud 203.0.113.10 $creds --local-prefix up >>"$tmp/want"
  t "rewriting left: $(cat "$tmp/conf")" cmp -s "$tmp/want" "$tmp/conf"
  t "the prefix not taken" grep -qxF 'topic + in 0 up/ fleet/dev-b/' "$tmp/conf"
done

shell=/bin/sh
# Spreading (the hash is md5sum's, the same under any shell): over 100 ids, each of two nodes comes
# first for a fair share.
first10=$(for i in $(seq 0 99); do
  gen --id "dev-$i" --cloud 203.0.113.10 --cloud 203.0.113.11 $creds
done | grep -c '^addresses 203.0.113.10:8883 ')
t "node 1 first for $first10 of 100" test $first10 -ge 30 -a $first10 -le 70

# mosquitto keeps running on the file (a bad line makes it exit at once), in a network namespace
# of its own where the bridge finds no cloud.
printf 'listener 18830 127.0.0.1\nallow_anonymous true\nuser root\n' >"$tmp/mq.conf"
gen $a --cloud 203.0.113.11 $creds --conf "$tmp/mq.conf"
if [ "$(id -u)" -eq 0 ] && command -v mosquitto >/dev/null && unshare -n true 2>/dev/null; then
  rc=0
  timeout 2 unshare -n mosquitto -c "$tmp/mq.conf" >"$tmp/mq.log" 2>&1 || rc=$?
  t "mosquitto exited ($rc): $(cat "$tmp/mq.log")" test $rc -eq 124
else
  echo "skipped: mosquitto with the written file (needs root, mosquitto and unshare)"
fi
echo "brim-bridge-conf under $shells: $passed passed, $failed failed"
[ $failed -eq 0 ]
