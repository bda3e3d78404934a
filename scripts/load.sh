#!/usr/bin/env bash
# Load test of the request subscriber: boots the simulated router and runs tests/load's client
# against it (4 clients x 25 requests/s), checking every reply and the subscriber's memory.
#   scripts/load.sh [BUILD_DIR] [SECONDS] [brim_load options...]
# BUILD_DIR (a native build with brim_load built) defaults to the repository's build, SECONDS to 60.
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$repo/build}
seconds=${2:-60}
shift $(($# < 2 ? $# : 2))
build=$(cd "$build" && pwd)
cd "$repo"
[ -x "$build/tests/brim_load" ] || { echo "load: $build/tests/brim_load missing (ninja -C $build brim_load)" >&2; exit 1; }
exec sandbox/brim-sandbox --build "$build" -- bash "$repo/tests/load/load_inside.sh" "$seconds" "$@"
