#!/usr/bin/env bash
# try-handler.sh: a handler module tried in one command. Builds FILE.c as a module against
# include/brimlib.h (as a handler author builds against the installed header), boots the simulated
# router (sandbox/brim-sandbox, the native build in build/, made first when missing) with that
# module alone in the subscriber's module directory, sends JSON on TOPIC from the router's own
# broker side, and prints the request and its reply. The module is kept in build/try-handler/.
set -euo pipefail
USAGE="usage: bash scripts/try-handler.sh FILE.c [TOPIC [JSON]]
Builds FILE.c as a handler module, boots the simulated router with it in the module directory,
sends JSON (default {}) on TOPIC (default router/ and FILE's name: its hook is the topic's last
level) and prints the request and its reply. Builds build/ first when needed; as root."
. "$(dirname "${BASH_SOURCE[0]}")/lib/usage.sh"
. "$(dirname "${BASH_SOURCE[0]}")/lib/progress.sh"
usage_args 3 "$@"
[ $# -ge 1 ] || usage_error
case $1 in *.c) ;; *) usage_error "$1: not a C source file (FILE.c)" ;; esac
[ -f "$1" ] || usage_error "no file $1"
src=$(readlink -f "$1")
name=$(basename "$src" .c)
topic=${2:-router/$name}
json=${3:-"{}"}
repo=$(cd "$(dirname "$0")/.." && pwd)
build=$repo/build
[ "$(id -u)" -eq 0 ] || { echo "try-handler: must run as root (the sandbox makes namespaces)" >&2; exit 1; }
cd "$repo"
bash scripts/deps.sh

# The test command's native configuration, so that neither rebuilds for the other.
make_build() {
  [ -f "$build/build.ninja" ] || cmake -S . -B "$build" -G Ninja -DBRIM_WERROR=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo
  ninja -C "$build" -j"$(nproc 2>/dev/null || echo 2)" brim_init apmib_tool brim_sh_journal eth_driver
}
run_logged "try-handler: building build/ (a few minutes the first time)" "$repo/build.try-handler.log" make_build

# Linked against nothing: the subscriber that loads it carries the library.
modules=$build/try-handler
rm -rf "$modules"
mkdir -p "$modules"
# shellcheck disable=SC2046  # pkg-config gives one flag a word
cc -std=gnu11 -Wall -Wextra -shared -fPIC -fvisibility=hidden -I"$repo/include" \
  $(pkg-config --cflags libcjson libmosquitto) -o "$modules/$name.so" "$src" ||
  { echo "try-handler: $1 does not build" >&2; exit 1; }
echo "try-handler: module $modules/$name.so"

# Inside the router: boot, wait until the subscriber answers (a request for no hook gets its
# failure reply), then the request.
export BRIM_MODULE_DIR=$modules
exec sandbox/brim-sandbox --build "$build" -- bash -c '
  topic=$1 json=$2
  brim_init </dev/null >/var/log/brim_init.out 2>&1
  rr() { mosquitto_rr -h 127.0.0.1 -t "$1" -e try-handler/reply -m "$2" -W "$3"; }
  for _ in $(seq 20); do rr try-handler/ready "{}" 1 >/dev/null 2>&1 && break; done
  printf "request on %s:\n%s\n" "$topic" "$json"
  if reply=$(rr "$topic" "$json" 10); then
    printf "reply (also on %s/R):\n%s\n" "$topic" "$reply"
  else
    echo "no reply in 10 s; the boot said:"
    sed "s/^/    /" /var/log/brim_init.out
    exit 1
  fi
  grep "^brim_sub: .*\(load\|$topic\)" /var/log/brim_init.out || true' _ "$topic" "$json"
