#!/usr/bin/env bash
# On the host: the wall time of a sandbox that runs /bin/true, with an ISP of its own (its DHCP
# server up and the router's lease taken before the command) over the same sandbox without one.
#   bash bench/sandbox_start.sh BUILD_DIR [RUNS]
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
build=${1:?usage: sandbox_start.sh BUILD_DIR [RUNS]}
runs=${2:-10}
now() { date +%s%N; }
ours=0
anchor=0
for i in $(seq "$runs"); do
  # Alternated, so that a busy moment of the machine falls on both alike.
  t0=$(now); "$repo/sandbox/brim-sandbox" --build "$build" -- /bin/true; t1=$(now)
  anchor=$((anchor + t1 - t0))
  t0=$(now); "$repo/sandbox/brim-sandbox" --build "$build" --isp -- /bin/true; t1=$(now)
  ours=$((ours + t1 - t0))
  printf '\rsandbox start: %d/%d' "$i" "$runs" >&2
done
echo >&2
awk -v o="$ours" -v a="$anchor" -v n="$runs" 'BEGIN {
  printf "%-44s ours %12.1f %-5s anchor %12.1f %-5s ratio %6.3f  goal %s\n",
    "sandbox start with ISP / without", o / n / 1e6, "ms", a / n / 1e6, "ms", o / a, "ISP adds <= 1000 ms" }
  END { d = (o - a) / n / 1e6; printf "%-44s %12.1f ms%s\n", "  the ISP adds", d, (d > 1000 ? "  <-- misses goal" : "") }' </dev/null
