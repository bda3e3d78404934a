#!/usr/bin/env bash
# Load test of the request subscriber: boots the simulated router and runs tests/load's client
# against it (4 clients x 25 requests/s), checking every reply and the subscriber's memory.
#   scripts/load.sh [BUILD_DIR] [SECONDS] [brim_load options...]
# BUILD_DIR (a native build with brim_load built) defaults to the repository's build, SECONDS to 60.
set -euo pipefail
USAGE="usage: bash scripts/load.sh [BUILD_DIR [SECONDS [BRIM_LOAD_OPTION...]]]
Boots the simulated router and runs the load client against it (default build, 60 s); as root."
. "$(dirname "${BASH_SOURCE[0]}")/lib/usage.sh"
usage_args 2 "${@:1:2}"
repo=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$repo/build}
seconds=${2:-60}
shift $(($# < 2 ? $# : 2))
[ -d "$build" ] || usage_error "no build directory $build"
[[ $seconds =~ ^[0-9]+$ ]] || usage_error "SECONDS: a whole number"
build=$(cd "$build" && pwd)
cd "$repo"
[ -x "$build/tests/brim_load" ] || { echo "load: $build/tests/brim_load missing (ninja -C $build brim_load)" >&2; exit 1; }
exec sandbox/brim-sandbox --build "$build" -- bash "$repo/tests/load/load_inside.sh" "$seconds" "$@"
