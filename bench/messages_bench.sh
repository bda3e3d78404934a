#!/usr/bin/env bash
# Inside the sandbox: the WAN address query, which needs the router's own interfaces.
set -euo pipefail
"$BRIM_BUILD/bench/messages_bench"
