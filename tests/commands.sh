#!/usr/bin/env bash
# Every command answers --help (and -h where that is no option of its own) with its usage on
# standard output and status 0, and an unknown option with its usage on standard error and status
# 2, before it installs, fetches, builds or starts anything: those programs are stubs here that
# note being run.
#   bash tests/commands.sh BUILD_DIR   (a native build with brim-fleet, brim-rr and apmib)
set -uo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:?usage: bash tests/commands.sh BUILD_DIR}" && pwd)
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
mkdir "$tmp/stubs"
for p in apt-get apt-cache dpkg dpkg-query cmake ninja make cc gcc g++ clang++-14 unshare nsenter mount \
  qemu-mipsel qemu-system-mipsel mosquitto dnsmasq ip openssl; do
  printf '#!/bin/sh\necho "%s $*" >>"%s/ran"\nexit 1\n' "$p" "$tmp" >"$tmp/stubs/$p"
  chmod +x "$tmp/stubs/$p"
done

# COMMAND... : how each is started; -h is left out where it names a host.
cmds=()
for f in "$repo"/scripts/*.sh; do cmds+=("bash $f"); done
for f in "$repo"/sandbox/*; do cmds+=("$f"); done
cmds+=("$repo/platform/bin/brim-bridge-conf" "$build/platform/apmib" "$build/brim-fleet|no-h" "$build/brim-rr|no-h")

fails=0 n=0
fail() { echo "FAIL  $*"; fails=$((fails + 1)); }
for c in "${cmds[@]}"; do
  cmd=${c%|no-h}
  flags=(--help -h)
  [ "$c" = "$cmd" ] || flags=(--help)
  for flag in "${flags[@]}" --no-such-option; do
    n=$((n + 1))
    : >"$tmp/ran"
    rc=0
    (cd "$tmp" && PATH=$tmp/stubs:$PATH $cmd $flag >"$tmp/out" 2>"$tmp/err" </dev/null) || rc=$?
    what="${cmd#"$repo"/} $flag"
    if [ "$flag" = --no-such-option ]; then
      [ $rc -eq 2 ] || fail "$what: status $rc, not 2"
      [ ! -s "$tmp/out" ] || fail "$what: wrote to standard output: $(head -c 200 "$tmp/out")"
      grep -qi usage "$tmp/err" || fail "$what: no usage on standard error: $(head -c 200 "$tmp/err")"
    else
      [ $rc -eq 0 ] || fail "$what: status $rc, not 0"
      grep -qi '^usage' "$tmp/out" || fail "$what: no usage on standard output: $(head -c 200 "$tmp/out")"
      [ ! -s "$tmp/err" ] || fail "$what: wrote to standard error: $(head -c 200 "$tmp/err")"
    fi
    [ ! -s "$tmp/ran" ] || fail "$what: started $(tr '\n' ';' <"$tmp/ran")"
  done
done
echo "commands: $((n - fails)) passed, $fails failed (${#cmds[@]} commands)"
[ "$fails" -eq 0 ]
