#!/usr/bin/env bash
# Inside the sandbox: the boot's wall time less its one-second pause, over the same commands each
# run through system(3) (a shell each, as the boot must), and, for information, over one plain
# /bin/sh running them all.
set -euo pipefail
runs=5
journal=${BRIM_JOURNAL:-/var/log/brim.journal}

# The boot's own command list, as the shell journal records it.
: >"$journal"
BRIM_SH_JOURNAL=1 brim_init >/dev/null 2>&1
script=/tmp/boot_commands.sh
sed -n 's/^sh -c //p' "$journal" >"$script"
[ -s "$script" ] || { echo "boot_bench: no commands recorded" >&2; exit 1; }

now() { date +%s%N; }
ours=0
anchor=0
plain=0
for _ in $(seq "$runs"); do
  t0=$(now); brim_init >/dev/null 2>&1 || true; t1=$(now)
  ours=$((ours + t1 - t0 - 1000000000))
  t0=$(now); "$BRIM_BUILD/bench/system_each" "$script" >/dev/null 2>&1 || true; t1=$(now)
  anchor=$((anchor + t1 - t0))
  t0=$(now); /bin/sh "$script" >/dev/null 2>&1 || true; t1=$(now)
  plain=$((plain + t1 - t0))
done
awk -v o="$ours" -v a="$anchor" -v p="$plain" -v n="$runs" 'BEGIN {
  f = "%-44s ours %12.1f %-5s anchor %12.1f %-5s ratio %6.3f  goal %s\n"
  printf f, "boot wall time less 1 s / system(3) each", o / n / 1e6, "ms", a / n / 1e6, "ms", o / a, "<= 1.10"
  printf f, "  the same / one plain sh script for all", o / n / 1e6, "ms", p / n / 1e6, "ms", o / p, "(information)" }'
