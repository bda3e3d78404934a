#!/usr/bin/env bash
# The emulated router, checked from outside with the real programs: our MIPS image boots on the
# Malta kernel (sandbox/brim-vm), leases its WAN from the ISP, and answers on its LAN; our unit
# suite runs on the MIPS kernel. Then the figures, each beside its anchor: the same boot and
# requests in the sandbox on this machine's kernel.
#
#   bash tests/vm/checks.sh [ROUTER_BUILD [HOST_BUILD]]   (as root; defaults build-mipsel, build)
# The image is ROUTER_BUILD's (scripts/router-image.sh), made first when it is missing or stale.
set -euo pipefail
repo=$(cd "$(dirname "$(readlink -f "$0")")/../.." && pwd -P)
cd "$repo"
rb=$(cd "${1:-build-mipsel}" && pwd -P)
hb=$(cd "${2:-build}" && pwd -P)
if [ -z "${_BRIM_VM_CHECKS:-}" ]; then
  export _BRIM_VM_CHECKS=1
  exec unshare --mount --propagation private -- bash "$0" "$rb" "$hb"
fi
t0=$SECONDS
say() { printf 'vm-checks: [%3d s] %s\n' $((SECONDS - t0)) "$*"; }
run=$(mktemp -d /tmp/brim-vm-checks.XXXXXX)
mount -t tmpfs -o mode=0700 vm-checks "$run"
dir=$run/router
vm() { bash sandbox/brim-vm --build "$rb" "$@"; }
cleanup() { vm stop "$dir" 2>/dev/null || true; umount "$run"; rmdir "$run"; }
trap cleanup EXIT

passed=0 failed=0
check() {  # check NAME COMMAND...: one line, ok or FAIL
  if "${@:2}"; then passed=$((passed + 1)); echo "ok   $1"; else failed=$((failed + 1)); echo "FAIL $1"; fi
}
# ask TOPIC BODY: the reply to the administrator (the LAN admits no one else), MQTT 5, response topic TOPIC/R.
ask() {
  vm lan "$dir" -- sh -c 'mosquitto_rr -h "$BRIM_VM_ROUTER" -u admin -P hq4729 -t "$1" -e "$1/R" -m "$2" -W 10' _ "$@"
}
admin=(-u admin -P hq4729)
field() { sed -n "s/.*\"$1\":[[:space:]]*\"\{0,1\}\([^\",}]*\).*/\1/p" <<<"$2"; }
seconds() { awk -F';' '{ print ((($1 * 24) + $2) * 60 + $3) * 60 + $4 }' <<<"$1"; }
in_isp_range() { [[ $1 =~ ^100\.64\.[0-3]\.[0-9]+$ ]]; }

libc=glibc
[ ! -d "$rb/fw/target" ] || libc=uclibc  # a firmware build's (scripts/firmware-build.sh openwrt)
bash scripts/router-image.sh --if-stale --libc $libc "$rb"
cp "$rb/router/size.txt" "$run/image.txt"
say "booting the router"
# The unit suite as laid out in its build: the shipped library one level up, the fuzz corpus at
# the path the suite was compiled from (linked there once booted: a path under /tmp would be hidden
# by the router's own /tmp).
ln -s /usr/lib/libbrim.so.0 "$run/libbrim.so"
sysroot=$(sed -n 's/^BRIM_TARGET_SYSROOT:[A-Z]*=//p' "$rb/CMakeCache.txt")
units=()
if [ -x "$rb/tests/brim_unit_tests" ]; then
  units=(--add "$rb/tests/brim_unit_tests:/opt/brim-tests/tests/brim_unit_tests" --add "$run/libbrim.so:/opt/brim-tests/libbrim.so"
    --add "$repo/fuzz/corpus/shell_quote:/opt/brim-tests/fuzz/corpus/shell_quote"
    --add "$repo/fuzz/regressions/shell_quote:/opt/brim-tests/fuzz/regressions/shell_quote"
    --add "$(readlink -f "$sysroot/lib/libstdc++.so.6"):/lib/libstdc++.so.6")
  echo_module=$rb/tests/modules/echo_module.so
else  # a firmware build (the uClibc image) has no tests: the echo handler and the C library probe
  # from its SDK's compiler, the probe on the image's libbrim.so, cJSON and libmosquitto
  cc=$repo/build-sdk/bin/mipsel-linux-uclibc-gcc echo_module=$rb/fw/echo_module.so
  "$cc" -shared -fPIC -Os -Iinclude -o "$echo_module" tests/support/echo_module.c
  "$cc" -Os -Iinclude -o "$run/libc_probe" tests/libc/probe.c -L"$rb" -lbrim -L"$rb/fw/staging/usr/lib" -lapmib
  units=(--add "$run/libc_probe:/opt/brim-tests/libc_probe")
fi
vm start "$dir" --add "$echo_module:/usr/lib/brim/modules/echo_module.so" "${units[@]}"

# Inside: the boot's own results, read by the router's busybox. One line per check.
vm exec "$dir" -- sh -c '
ok() { if eval "$2"; then echo "ok   $1"; else echo "FAIL $1"; fi; }
ok "the kernel is MIPS" "[ \"\$(uname -m)\" = mips ]"
ok "brim_init ran once at boot and exited 0" "[ \"\$(cat /var/log/brim_init.status)\" = 0 ] && [ \"\$(grep -c ^vz_daemon /var/log/brim.journal)\" = 1 ]"
for p in vz_broker brim_sub vz_daemon; do ok "$p runs" "pidof $p >/dev/null"; done
ok "the broker runs as its own user" "[ \"\$(stat -c %U /proc/\$(pidof vz_broker))\" = mosquitto ]"
ok "/etc/hosts is the LAN address and the host name" "[ \"\$(cat /etc/hosts)\" = \"\$(printf \"192.168.0.1\\tbrimrouter\")\" ]"
ok "the language file is the English one, linked for the web pages" "cmp -s /var/js/language.js /web_brim/js/language_en.js && [ \"\$(readlink /web_brim/js/language.js)\" = /var/js/language.js ]"
ok "the update flag is cleared" "[ \"\$(cat /tmp/update_flag)\" = 0 ]"
salt=$(sed -n "s/^root:\\\$5\\\$\\([^\$]*\\)\\\$.*/\\1/p" /etc/shadow)
ok "busybox passwd set the default password" "[ -n \"\$salt\" ] && grep -q \"^root:\$(mkpasswd -m sha256 hq4729 \"\$salt\"):\" /etc/shadow"
ok "telnetd is not listening (the store has it off)" "! netstat -ltn | grep -q \":23 \""
ok "the temporary password file is gone" "[ ! -e /var/tmppwd ]"
' | tee "$run/guest.txt"
read -r p f < <(awk '/^ok/ { p++ } /^FAIL/ { f++ } END { print p + 0, f + 0 }' "$run/guest.txt")
passed=$((passed + p)) failed=$((failed + f))

# The WAN, through the status reply on the LAN side. The link time is written once a second by
# the router's timer, which a busy guest may run late: wait for it to move on.
poll() { local i; for i in $(seq "$1"); do "${@:2}" && return 0; sleep 0.5; done; return 1; }  # poll TRIES COMMAND...
link_moved() { [ "$(seconds "$(field wan_link_time "$(ask router/status '{}')")")" -gt "$(seconds "$(field wan_link_time "$r1")")" ]; }
wan_is() { [ "$(field wan_connected "$(ask router/status '{}')")" = "$1" ]; }
r1=$(ask router/status '{}')
check "status: wan_ip $(field wan_ip "$r1") is the ISP's" in_isp_range "$(field wan_ip "$r1")"
check "status: the gateway is the ISP's" test "$(field wan_gateway "$r1")" = 100.64.0.1
check "status: the WAN is connected" test "$(field wan_connected "$r1")" = true
check "status: the link time counts" poll 20 link_moved
# A pulled cable: the driver sees no carrier within its link watchdog's period.
vm link "$dir" wan down
check "the WAN cable pulled: status shows it disconnected" poll 20 wan_is false
vm link "$dir" wan up
check "the WAN cable back: connected again" poll 20 wan_is true

r=$(ask router/set_hostname '{"hostname":"brim-vm","wtime":"0","reserv":""}')
check "a host name change is answered" test "$(field success "$r")" = true
check "a host name change reaches /etc/hosts" \
  test "$(vm exec "$dir" -- cat /etc/hosts)" = "$(printf '192.168.0.1\tbrim-vm')"
vm lan "$dir" -- sh -c 'exec "$@" -h "$BRIM_VM_ROUTER" -t router/echo -n 200 --label lan' _ "$hb/brim-rr" "${admin[@]}" >"$run/rr.txt" &&
  rr_ok=1 || rr_ok=
cat "$run/rr.txt"
check "200 requests from the LAN, every reply matched once" test -n "$rr_ok"
rss_vm=$(vm exec "$dir" -- sh -c 'sed -n "s/^VmRSS:[[:space:]]*//p" /proc/$(pidof brim_sub)/status')

# Strangers are refused (not authorised, 5): they read nothing, send nothing. The administrator's
# "#" gets the reply, never the request.
refused() { vm lan "$dir" -- sh -c 'r=$(mosquitto_sub -h "$BRIM_VM_ROUTER" "$@" -t "#" -C 1 -W 5); s=$?
  mosquitto_pub -h "$BRIM_VM_ROUTER" "$@" -t router/status -m "{}"; [ $? = 5 ] && [ $s = 5 ] && [ -z "$r" ]' _ "$@" 2>/dev/null; }
check "the bus refuses an anonymous LAN client: it reads and sends nothing" refused
check "the bus refuses the administrator with a wrong password" refused -u admin -P hq4728
replies_only() { test "$(vm lan "$dir" -- sh -c 'mosquitto_sub -h "$BRIM_VM_ROUTER" "$@" -t "#" -F %t -W 2 & sleep 0.5
  mosquitto_pub -h "$BRIM_VM_ROUTER" "$@" -t router/status -m "{}"; wait' _ "${admin[@]}" 2>/dev/null | sort -u)" = router/status/R; }
check "the administrator reads the replies only" poll 5 replies_only
wan_closed() {  # from the ISP's side: no port the router listens on, nor a usual one, answers on its WAN address
  local a st ports=(22 23 80 443 8883) wan && wan=$(field wan_ip "$(ask router/status '{}')")
  while read -r _ a _ st _; do [ "$st" = 0A ] && ports+=("$((16#${a##*:}))"); done < <(vm exec "$dir" -- cat /proc/net/tcp)
  in_isp_range "$wan" && [ ${#ports[@]} -gt 5 ] && nsenter --net="$(cat "$dir/isp-netns")" bash -c 'for p in "${@:2}"; do
    ! timeout 2 bash -c "exec 3<>/dev/tcp/$1/$p" 2>/dev/null || exit 1; done' _ "$wan" "${ports[@]}"; }
check "from the ISP, no port of the WAN address answers" wan_closed

if [ -e "$run/libc_probe" ]; then
  check "tests/libc/probe.c passes on uClibc-ng" vm exec "$dir" -- sh -c \
    'mkdir -p /tmp/probe && /opt/brim-tests/libc_probe /tmp/probe >/tmp/probe.log; rc=$?; tail -n 1 /tmp/probe.log; exit $rc'
else
  say "our unit suite on the MIPS kernel"
  check "the unit suite passes in the guest" vm exec "$dir" --timeout 900 -- sh -c \
  'mkdir -p "$1" && ln -sfn /opt/brim-tests/fuzz "$1/fuzz" && cd /tmp &&
  /opt/brim-tests/tests/brim_unit_tests --gtest_brief=1 >/tmp/unit.log 2>&1; rc=$?; tail -n 3 /tmp/unit.log; exit $rc' _ "$repo"
fi

# Last, as it changes the boot's state: the store turns telnet on, and a boot starts it.
check "telnetd listens once the store enables it" vm exec "$dir" -- sh -c \
  'apmib set TELNET_ENABLED 1 && brim_init >/dev/null 2>&1 || exit 1
  for i in 1 2 3 4 5 6 7 8 9 10; do netstat -ltn | grep -q ":23 " && exit 0; sleep 1; done; exit 1'

say "the anchor: the same boot and requests in the sandbox"
sandbox/brim-sandbox --build "$hb" -- sh -c 'mkdir /tmp/modules && ln -s "$1/modules/device_status.so" \
  "$1/tests/modules/echo_module.so" /tmp/modules/ || exit 1
  s=$(date +%s%N); BRIM_MODULE_DIR=/tmp/modules brim_init >/dev/null 2>&1; e=$(date +%s%N)
  echo "took $(((e - s) / 1000000))"
  "$1/brim-rr" -h 127.0.0.1 -t router/echo -n 200 --label sandbox
  sed -n "s/^VmRSS:[[:space:]]*/rss /p" /proc/$(pgrep -x brim_sub)/status' _ "$hb" >"$run/anchor.txt" || true
cat "$run/anchor.txt"

pick() { sed -n "s/.*$1=\([0-9.]*\).*/\1/p" "$2"; }
echo
echo "figures (this run; the anchor beside each):"
printf '  kernel start to brim_init exit: %s s; brim_init itself: %s s, in the sandbox %s ms\n' \
  "$(vm exec "$dir" -- cat /var/log/brim_init.uptime)" "$(vm exec "$dir" -- cat /var/log/brim_init.took)" \
  "$(sed -n 's/^took //p' "$run/anchor.txt")"
printf '  brim_sub resident memory: %s in the guest (MIPS), %s in the sandbox (x86_64)\n' "$rss_vm" \
  "$(sed -n 's/^rss //p' "$run/anchor.txt")"
printf '  LAN round trip p50/p99: %s / %s ms; the same requests in the sandbox on loopback: %s / %s ms\n' \
  "$(pick p50 "$run/rr.txt")" "$(pick p99 "$run/rr.txt")" "$(pick p50 "$run/anchor.txt")" "$(pick p99 "$run/anchor.txt")"
sed 's/^/  /' "$run/image.txt"
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
