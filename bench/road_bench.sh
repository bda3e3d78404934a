#!/usr/bin/env bash
# Inside the sandbox: requests through the booted router's subscriber and a trivial handler.
set -euo pipefail
"$BRIM_BUILD/bench/road_bench"
