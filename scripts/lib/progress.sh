# progress.sh: a long step that says how it goes instead of nothing for minutes. Sourced.
#   run_logged WHAT LOG CMD...   runs CMD with its output in LOG; prints "WHAT ..." first, then
#                                every 10 s the time so far and ninja's last "[done/all]" in LOG,
#                                and the end of LOG when CMD fails. Returns CMD's status.
run_logged() {
  local what=$1 log=$2 pid rc=0 t0=$SECONDS next=$((SECONDS + 10)) at
  shift 2
  printf '%s ...\n' "$what"
  "$@" >"$log" 2>&1 &
  pid=$!
  # A background job of a script ignores SIGINT: pass an interrupt on.
  trap 'kill "$pid" 2>/dev/null; exit 130' INT TERM
  while kill -0 "$pid" 2>/dev/null; do
    sleep 1
    [ "$SECONDS" -ge "$next" ] || continue
    next=$((SECONDS + 10))
    at=$(grep -o '^\[[0-9]*/[0-9]*\]' "$log" | tail -n 1) || true
    printf '%s: %d s %s\n' "$what" $((SECONDS - t0)) "$at"
  done
  wait "$pid" || rc=$?
  trap - INT TERM
  if [ "$rc" -ne 0 ]; then
    tail -n 40 "$log" >&2
    printf '%s: failed (the whole output: %s)\n' "$what" "$log" >&2
  fi
  return "$rc"
}
