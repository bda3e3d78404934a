#!/usr/bin/env bash
# The docs stay true: every relative link (and its #anchor) and every scripts/, sandbox/ and docs/
# path named in README.md and docs/*.md exists, and every table row has its header's cell count
# (escaped \| is text; a pipe inside a code span still splits cells, as on GitHub).
set -euo pipefail
cd "$(dirname "$0")/../.."
# Named before the branch that adds them is merged: allowed while missing, an error once present.
pending=" "
awk -v pending="$pending" '
function bad(what) { printf "%s:%d: %s\n", FILENAME, FNR, what; fails++ }
function exists(p) { return system("test -e \"" p "\"") == 0 }
function named(p) { if (!index(pending, " " p " ")) { if (!exists(p)) bad("no such file: " p) }
  else if (exists(p)) bad(p " exists now: take it off the pending list in tests/docs/check.sh") }
FNR == 1 { dir = FILENAME; sub(/[^\/]*$/, "", dir); fence = cells = 0 }
/^```/ { fence = !fence }
/^#+ / && !fence { h = tolower($0); sub(/^#+ +/, "", h); gsub(/[^a-z0-9 _-]/, "", h); gsub(/ /, "-", h); anchor[FILENAME "#" h] = 1 }
/^\|/ && !fence { r = $0; gsub(/\\\|/, "", r); n = gsub(/\|/, "", r)
  if (!cells) cells = n; else if (n != cells) bad("a row of " n - 1 " cells under a header of " cells - 1) }
!/^\|/ { cells = 0 }
{ s = $0
  while (!fence && match(s, /\]\([^) ]+\)/)) {
    t = substr(s, RSTART + 2, RLENGTH - 3); s = substr(s, RSTART + RLENGTH)
    if (t ~ /^[a-z]+:/) continue
    p = t; sub(/#.*/, "", p); p = (p == "") ? FILENAME : dir p
    while (sub(/[^\/.][^\/]*\/\.\.\//, "", p)) {}; named(p)
    if (t ~ /#/ && p ~ /\.md$/ && exists(p)) { a = t; sub(/^[^#]*/, "", a); want[p a] = FILENAME ":" FNR } }
  s = $0
  while (match(s, /(^|[^A-Za-z0-9_.\/-])(scripts|sandbox|docs)\/[A-Za-z0-9_.\/-]*[A-Za-z0-9_-]/)) {
    p = substr(s, RSTART, RLENGTH); s = substr(s, RSTART + RLENGTH); sub(/^[^a-z]/, "", p); named(p) } }
END { for (k in want) if (!(k in anchor)) { printf "%s: no heading for the link to %s\n", want[k], k; fails++ }
  exit fails > 0 }
' README.md docs/*.md
