#!/usr/bin/env bash
# mutants.sh [N] [SEED]: our own mutation tester. Plants one small fault at a time into the shipped
# sources (brimlib/ and init/, *.cpp and *.h), rebuilds, and runs the unit suite and then the
# sandbox suite against it: a fault that some test notices is killed, one that every test lets
# through survived. Prints a table of the N mutants (default 60) and the score
# killed / (killed + survived).
#
# Faults (scripts/mutants/mutant_sites.cpp finds them): a comparison flipped (< <=, > >=, == !=),
# an integer constant changed by +1 or -1, an if or while condition negated, a returned 0/-1/1/
# true/false swapped, a call statement or an assignment statement removed. Passed over: comments,
# string and char literals, preprocessor lines, static_assert, < and > without blanks around them
# (template, include and cast brackets), ->, << and >>, <=>, conditions that declare a variable.
# SEED (default 1) draws N of all sites uniformly; the same N, SEED and tree give the same mutants.
#
# Nothing in the working tree is ever changed: the tree is copied (tracked and untracked files,
# not ignored ones) into BRIM_MUTANTS_DIR/src and built in BRIM_MUTANTS_DIR/build, and each mutated
# file is put back after its mutant, also on INT and TERM. A mutant that does not build counts as
# neither killed nor survived. A suite that runs past its time limit (BRIM_MUTANTS_TIME_FACTOR,
# default 3, times its time on the unmutated tree) has hung: killed. Some sandbox tests are flaky:
# a mutant that fails one is run again (the failing shard); failing twice it is killed, passing
# then it is unsure, outside the score and listed. A mutant whose objects the compiler makes
# byte for byte as the unmutated tree's (an unused constant, code that only another configuration
# compiles) is equivalent: it cannot change what runs, is not run, and is outside the score.
#
# Fast without being weaker: every suite stops at its first failing test (--gtest_fail_fast), the
# unit suite runs first, the sandbox suite runs in BRIM_MUTANTS_SHARDS (default 5) shards in
# parallel, each in a sandbox of its own, balanced by the test times of the unmutated run; when
# one shard fails the others are stopped. A test that fails alone but passes after the earlier
# tests of its suite is kept with them (and named). The mutants run in file order, so consecutive ones
# mostly recompile the same file. The unit suite also runs in a sandbox: mutated code must not
# touch the host.
#
# Environment: BRIM_MUTANTS_DIR (default <repo>/build-mutants), BRIM_MUTANTS_SHARDS,
# BRIM_MUTANTS_TIME_FACTOR, BRIM_MUTANTS_JOBS (ninja -j, default 2), BRIM_MUTANTS_BUILD_LIMIT
# (seconds for one rebuild, default 600). Needs root (the sandbox). Results also go to
# BRIM_MUTANTS_DIR/results-N-SEED.tsv, each mutant's diff and logs to BRIM_MUTANTS_DIR/logs/.
set -euo pipefail

repo=$(cd "$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")/.." && pwd -P)
USAGE="usage: bash scripts/mutants.sh [N [SEED]]
Plants N small faults (default 60, drawn by SEED, default 1) one at a time into a copy of the
shipped sources and runs the suites against each; prints the table and the score. As root."
. "$repo/scripts/lib/usage.sh"
usage_args 2 "$@"
n=${1:-60}
seed=${2:-1}
case $n$seed in *[!0-9]*) usage_error "N and SEED are whole numbers" ;; esac
work=${BRIM_MUTANTS_DIR:-$repo/build-mutants}
shards=${BRIM_MUTANTS_SHARDS:-5}
factor=${BRIM_MUTANTS_TIME_FACTOR:-3}
jobs=${BRIM_MUTANTS_JOBS:-2}
build_limit=${BRIM_MUTANTS_BUILD_LIMIT:-600}
src=$work/src
build=$work/build
logs=$work/logs
tool=$work/tool/mutant_sites

say() { printf 'mutants: %s\n' "$*"; }
die() {
  printf 'mutants: %s\n' "$*" >&2
  exit 1
}
now() { printf "%s" "${EPOCHREALTIME//[.,]/}"; }  # microseconds
secs() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.1f", (b - a) / 1e6 }'; }
ceil() { awk -v x="$1" 'BEGIN { c = int(x); if (c < x) c++; print c }'; }

[ "$(id -u)" -eq 0 ] || die "needs root: the suites run in the sandbox"
# Other work shares the machine: stay below it.
[ "$(nice)" -ge 10 ] || renice -n 10 -p $$ >/dev/null
mkdir -p "$work" "$logs"
bash "$repo/scripts/deps.sh"

# The mutated file while a mutant is planted, and the processes we started; both undone on exit.
mutated=
restore() {
  if [ -n "$mutated" ]; then
    cp "$work/pristine" "$src/$mutated"  # a fresh mtime: the next build recompiles it
    mutated=
  fi
}
stop_jobs() {
  local p
  for p in $(jobs -p); do kill -TERM "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
}
trap 'stop_jobs; restore; echo; say "interrupted; $src restored"; exit 130' INT TERM
trap 'restore' EXIT

# ---------------------------------------------------------------------------------------------
# The helper, checked against its fixture.
t=$(now)
cmake -S "$repo/scripts/mutants" -B "$work/tool" -G Ninja -DCMAKE_BUILD_TYPE=Release >"$work/tool.log" 2>&1 &&
  ninja -C "$work/tool" >>"$work/tool.log" 2>&1 &&
  ctest --test-dir "$work/tool" --output-on-failure >>"$work/tool.log" 2>&1 ||
  { cat "$work/tool.log" >&2; die "the site finder does not build or fails its fixture"; }

# The private copy: files whose content changed are copied (with a fresh mtime), gone ones removed.
say "copying the tree to $src"
mkdir -p "$src"
git -C "$repo" ls-files -co --exclude-standard -z | sort -z -u >"$work/files"
while IFS= read -r -d '' f; do
  if [ -L "$repo/$f" ]; then
    mkdir -p "$(dirname "$src/$f")" && cp -P --remove-destination "$repo/$f" "$src/$f"
  elif [ -f "$repo/$f" ] && ! cmp -s "$repo/$f" "$src/$f"; then
    mkdir -p "$(dirname "$src/$f")" && cp --preserve=mode --remove-destination "$repo/$f" "$src/$f"
  fi
done <"$work/files"
(cd "$src" && find . \( -type f -o -type l \) -printf '%P\0' | sort -z) |
  comm -z -23 - "$work/files" | (cd "$src" && xargs -0 -r rm -f)

# The build: the default targets, benchmarks and fuzzers off; the release flags without debug
# information (the same code, built faster); warnings are not errors, so that only a mutant the
# compiler cannot build counts as no build.
say "building $build"
cmake -S "$src" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_FLAGS_RELWITHDEBINFO="-O2 -DNDEBUG" -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -DNDEBUG" \
  -DBRIM_WERROR=OFF -DBRIM_TESTS=ON -DBRIM_BENCH=OFF -DBRIM_FUZZ=OFF >"$work/cmake.log" 2>&1 ||
  { cat "$work/cmake.log" >&2; die "cmake failed"; }
ninja -C "$build" -j"$jobs" >"$work/build.log" 2>&1 || { tail -40 "$work/build.log" >&2; die "the unmutated tree does not build"; }
rm -rf "$work/objs" && mkdir -p "$work/objs"
(cd "$build" && find . -name '*.o' -exec cp --parents -t "$work/objs" {} +)
say "tool and build ready in $(secs "$t" "$(now)") s"

# The suites as ctest runs them: the commands and working directories of the tests named unit
# and system.
ctest --test-dir "$build" --show-only=json-v1 >"$work/ctest.json"
awk -v dir="$work" '
  function unquote(s) { sub(/^[ \t]*"/, "", s); sub(/"[ \t]*,?[ \t]*$/, "", s); gsub(/\\"/, "\"", s); gsub(/\\\\/, "\\", s); return s }
  /"command" *:/ { incmd = 1; nargs = 0; next }
  incmd && /^[ \t]*\]/ { incmd = 0; want = 1; next }
  incmd && /"/ { args[++nargs] = unquote($0); next }
  want && /"name" *:/ { s = $0; sub(/^[^:]*:/, "", s); name = unquote(s); want = 0
    f = dir "/cmd." name; printf "" > f; for (i = 1; i <= nargs; i++) print args[i] > f; close(f); next }
  /"name" *: *"WORKING_DIRECTORY"/ { wd = 1; next }
  wd && /"value" *:/ { s = $0; sub(/^[^:]*:/, "", s); print unquote(s) > (dir "/wd." name); close(dir "/wd." name); wd = 0 }
' "$work/ctest.json"
for s in unit system; do
  [ -s "$work/cmd.$s" ] || die "no ctest test named $s in $build"
  [ -s "$work/wd.$s" ] || echo "$build" >"$work/wd.$s"
done
mapfile -t unit_cmd <"$work/cmd.unit"
mapfile -t system_cmd <"$work/cmd.system"
unit_wd=$(<"$work/wd.unit")
system_wd=$(<"$work/wd.system")
sandbox=$src/sandbox/brim-sandbox

# ---------------------------------------------------------------------------------------------
# Running the suites. Each sets verdict (pass, fail, hang, error) and by (the test).

# first_failure LOG: the first failing test, else the test running when the output stopped.
first_failure() {
  local name
  name=$(awk '/^\[  FAILED  \] [^ ]+\.[^ ]+/ { print $4; exit }' "$1")
  [ -n "$name" ] && { echo "$name"; return; }
  name=$(awk '/^\[ RUN      \]/ { r = $4 } /^\[       OK \]|^\[  FAILED  \]|^\[  SKIPPED \]/ { r = "" } END { print r }' "$1")
  echo "${name:-?} (crashed)"
}

judge() {  # judge RC LOG SUITE
  local rc=$1 log=$2 suite=$3 name
  case $rc in
    0) verdict=pass by= ;;
    124 | 137)
      name=$(awk '/^\[ RUN      \]/ { r = $4 } /^\[       OK \]|^\[  FAILED  \]/ { r = "" } END { print r }' "$log")
      verdict=hang by="$suite: ${name:-?} (time limit)" ;;
    125) verdict=error by="$suite: the sandbox did not start" ;;
    *) verdict=fail by="$suite: $(first_failure "$log")" ;;
  esac
}

# in_background CMD...: runs CMD as a job and waits for it, so that INT and TERM reach our trap at
# once (bash holds a trap until a foreground command ends; timeout keeps a process group of its own).
in_background() {
  "$@" &
  wait $!
}

run_unit() {  # run_unit LIMIT LOG
  local rc=0
  in_background run_in "$unit_wd" timeout -k 5 "$1" "$sandbox" --build "$build" -- "${unit_cmd[@]}" \
    --gtest_fail_fast >"$2" 2>&1 || rc=$?
  judge "$rc" "$2" unit
}
run_in() {  # run_in DIR CMD...
  cd "$1" && shift && exec "$@"
}

# run_system LIMIT LOGPREFIX FAILFAST SHARD...: each SHARD is a --gtest_filter. With FAILFAST 1 each shard stops at its first failing test and the first
# shard to fail stops the others; with 0 every shard runs to its end.
run_system() {
  local limit=$1 prefix=$2 failfast=$3 i=0 shard p rc
  shift 3
  local -a ff=()
  [ "$failfast" = 1 ] && ff=(--gtest_fail_fast)
  local -A which=()
  rm -f "$prefix".*.log
  for shard in "$@"; do
    run_in "$system_wd" timeout -k 5 "$limit" "${system_cmd[@]}" "${ff[@]}" "--gtest_filter=$shard" \
      >"$prefix.$i.log" 2>&1 &
    which[$!]=$i
    i=$((i + 1))
  done
  verdict=pass by=
  while [ ${#which[@]} -gt 0 ]; do
    rc=0
    p=
    wait -n -p p "${!which[@]}" || rc=$?
    [ -n "$p" ] || break
    i=${which[$p]}
    unset "which[$p]"
    if [ "$rc" -ne 0 ] && [ "$verdict" = pass ]; then
      judge "$rc" "$prefix.$i.log" system
      failed_shard=$i
      if [ "$failfast" = 1 ]; then
        for p in "${!which[@]}"; do kill -TERM "$p" 2>/dev/null || true; done
      fi
    fi
  done
}

# failed_tests LOG...: the tests that failed, one a line.
failed_tests() {
  cat "$@" | awk '/^\[  FAILED  \] [^ ]+ \([0-9]+ ms\)/ { print $4 }' | sort -u
}

# plan: the shards (filters) from the tests' times, longest first, each to the least loaded
# shard. A test in $work/pinned runs with the tests listed before it in its suite, in one shard.
plan() {
  mapfile -t filters < <(
    awk 'function find(x) { while (up[x] != x) x = up[x]; return x }
      FNR == 1 { file++ }
      file == 1 { order[++n] = $1; up[$1] = $1; next }
      file == 2 { ms[$2] = $1; next }
      { pinned[$1] = 1 }
      END {
        for (i = 1; i <= n; i++) {
          t = order[i]; if (!(t in pinned)) continue
          suite = t; sub(/\.[^.]*$/, "", suite)
          for (j = 1; j < i; j++) { s = order[j]; sub(/\.[^.]*$/, "", s); if (s == suite) up[find(order[j])] = find(t) }
        }
        for (i = 1; i <= n; i++) { r = find(order[i]); w[r] += ms[order[i]]; g[r] = g[r] (g[r] == "" ? "" : ":") order[i] }
        for (r in g) print w[r] + 0, g[r]
      }' "$work/tests" "$work/times" "$work/pinned" | sort -k1,1nr -k2,2 |
      awk -v k="$shards" '{ b = 0; for (i = 1; i < k; i++) if (load[i] < load[b]) b = i
          load[b] += $1; f[b] = f[b] (f[b] == "" ? "" : ":") $2 }
        END { for (i = 0; i < k; i++) if (f[i] != "") print f[i] }')
}

# ---------------------------------------------------------------------------------------------
# The baseline: the unmutated tree must pass; its times give the shards and the time limits.
say "baseline on the unmutated tree (load: $(cut -d' ' -f1-3 /proc/loadavg))"
t=$(now)
run_unit 600 "$logs/baseline.unit.log"
[ "$verdict" = pass ] || die "the unit suite fails on the unmutated tree ($by); see $logs/baseline.unit.log"
unit_time=$(secs "$t" "$(now)")

(cd "$system_wd" && "${system_cmd[@]}" --gtest_list_tests) >"$logs/baseline.list" 2>&1 ||
  die "cannot list the sandbox suite; see $logs/baseline.list"
awk '/^[^ ]/ { suite = $1; next } /^  [^ ]/ { print suite $1 }' "$logs/baseline.list" >"$work/tests"
ntests=$(wc -l <"$work/tests")
[ "$ntests" -gt 0 ] || die "the sandbox suite lists no tests"

# First whole test suites per shard (a suite keeps its own order), most tests first to the least
# loaded shard: the test times. Then shards balanced by those times.
t=$(now)
mapfile -t suites < <(awk '{ s = $1; sub(/\.[^.]*$/, "", s); c[s]++ } END { for (s in c) print c[s], s }' "$work/tests" |
  sort -k1,1nr -k2,2 | awk -v k="$shards" '{ b = 0; for (i = 1; i < k; i++) if (load[i] < load[b]) b = i
    load[b] += $1; f[b] = f[b] (f[b] == "" ? "" : ":") $2 ".*" } END { for (i = 0; i < k; i++) if (f[i] != "") print f[i] }')
for attempt in 1 2; do
  run_system 1200 "$logs/baseline.suites" 0 "${suites[@]}"
  [ "$verdict" = pass ] && break
  failed=$(failed_tests "$logs"/baseline.suites.*.log | tr '\n' ' ')
  [ "$attempt" -eq 1 ] || die "the sandbox suite fails twice on the unmutated tree ($failed); see $logs/baseline.suites.*.log"
  for f in "$logs"/baseline.suites.*.log; do cp "$f" "${f%.log}.attempt1.log"; done
  say "flaky: ${failed:-$by}failed on the unmutated tree in its own suite's order; once more (see $logs/baseline.suites.*.attempt1.log)"
done
suites_wall=$(secs "$t" "$(now)")
cat "$logs"/baseline.suites.*.log >"$work/baseline.suites.log"
awk 'NR == FNR { if (/^\[       OK \]|^\[  SKIPPED \]/) { t = $5; gsub(/[^0-9]/, "", t); ms[$4] = t + 0 }; next }
     { print ms[$1] + 0, $1 }' "$work/baseline.suites.log" "$work/tests" >"$work/times"
test_sum=$(awk '{ s += $1 } END { printf "%.1f", s / 1000 }' "$work/times")

# The balanced shards must pass as well. A test that passed above but fails here is run alone:
# failing alone, it depends on tests before it in its suite and is pinned to them (pins are kept
# for later runs: a pin only keeps tests together); passing alone, it is flaky or disturbed by
# its shard, and the round is run again. At most three rounds.
touch "$work/pinned"
while IFS= read -r f; do
  grep -qxF "$f" "$work/tests" && say "order-dependent test (found before): $f runs with the tests before it in its suite"
done <"$work/pinned"
for round in 1 2 3; do
  plan
  printf '%s\n' "${filters[@]}" >"$logs/baseline.plan.$round"
  t=$(now)
  run_system 1200 "$logs/baseline.shard" 0 "${filters[@]}"
  shard_wall=$(secs "$t" "$(now)")
  [ "$verdict" = pass ] && break
  for f in "$logs"/baseline.shard.*.log; do cp "$f" "${f%.log}.round$round.log"; done
  failed=$(failed_tests "$logs"/baseline.shard.*.log)
  [ -n "$failed" ] && [ "$round" -lt 3 ] ||
    die "the sandbox suite fails in balanced shards on the unmutated tree ($by); see $logs/baseline.shard.*.log"
  for f in $failed; do
    run_system 600 "$logs/baseline.alone" 0 "$f"
    if [ "$verdict" = pass ]; then
      say "flaky or disturbed: $f failed in its shard (round $round) and passes alone; see $logs/baseline.shard.*.round$round.log"
    else
      say "order-dependent test: $f fails alone and passes after the tests before it in its suite; it keeps their company"
      echo "$f" >>"$work/pinned"
    fi
  done
done
unit_limit=$(ceil "$(awk -v a="$unit_time" -v f="$factor" 'BEGIN { x = a * f; print (x < 10 ? 10 : x) }')")
system_limit=$(ceil "$(awk -v a="$shard_wall" -v f="$factor" 'BEGIN { x = a * f; print (x < 30 ? 30 : x) }')")
say "baseline: unit suite $unit_time s; sandbox suite $ntests tests, $test_sum s of test time, $suites_wall s in ${#suites[@]} shards of whole suites, $shard_wall s in ${#filters[@]} balanced shards"
say "time limits: unit $unit_limit s, each sandbox shard $system_limit s (${factor}x, floors 10 s and 30 s)"

# ---------------------------------------------------------------------------------------------
# The mutants.
"$tool" summary "$src" | sed 's/^/mutants: /'
mapfile -t sample < <("$tool" sample "$src" "$n" "$seed")
total=${#sample[@]}
say "$total mutants, seed $seed"
results=$work/results-$n-$seed.tsv
printf 'index\tsite\tkind\tchange\tresult\tby\tseconds\n' >"$results"
declare -a r_site r_kind r_change r_result r_by
killed=0 survived=0 nobuild=0 unsure=0 errors=0 equivalent=0
start=$(now)
for ((m = 0; m < total; m++)); do
  IFS=$'\t' read -r idx site kind change <<<"${sample[m]}"
  file=${site%:*}
  printf '[%d/%d] %s  %s  %s\n' $((m + 1)) "$total" "$site" "$kind" "$change"
  t=$(now)
  cp "$src/$file" "$work/pristine"
  mutated=$file
  "$tool" apply "$src" "$idx" >/dev/null
  diff -u --label "a/$file" --label "b/$file" "$work/pristine" "$src/$file" >"$logs/$m.diff" || true
  result= by=
  rc=0
  touch "$work/stamp"
  in_background timeout -k 5 "$build_limit" ninja -C "$build" -j"$jobs" >"$logs/$m.build.log" 2>&1 || rc=$?
  if [ "$rc" -ne 0 ]; then
    result="no build"
    [ "$rc" -eq 124 ] && by="build time limit"
  elif (cd "$build" && find . -name '*.o' -newer "$work/stamp" ! -exec cmp -s {} "$work/objs/{}" \; -print -quit) | grep -q .; then
    :  # some object differs: run the suites below
  else
    result=equivalent by="the same objects"
  fi
  if [ -z "$result" ]; then
    run_unit "$unit_limit" "$logs/$m.unit.log"
    if [ "$verdict" = pass ]; then
      run_system "$system_limit" "$logs/$m.system" 1 "${filters[@]}"
      # A sandbox test that fails must fail again (its shard once more): some are flaky.
      if [ "$verdict" = fail ]; then
        first=$by
        run_system "$system_limit" "$logs/$m.recheck" 1 "${filters[failed_shard]}"
        if [ "$verdict" = pass ]; then
          verdict=unsure by="$first, then passed"
        elif [ "$by" != "$first" ]; then
          by="$by (the first run failed ${first#system: } instead)"
        fi
      fi
    fi
    case $verdict in
      pass) result=survived ;;
      fail | hang) result=killed ;;
      unsure) result=unsure ;;
      *) result=error ;;
    esac
  fi
  restore
  case $result in
    killed) killed=$((killed + 1)) ;;
    survived) survived=$((survived + 1)) ;;
    "no build") nobuild=$((nobuild + 1)) ;;
    equivalent) equivalent=$((equivalent + 1)) ;;
    unsure) unsure=$((unsure + 1)) ;;
    *) errors=$((errors + 1)) ;;
  esac
  took=$(secs "$t" "$(now)")
  r_site[m]=$site r_kind[m]=$kind r_change[m]=$change r_result[m]=$result r_by[m]=$by
  printf '%s\t%s\t%s\t%s\t%s\t%s\t%s\n' "$idx" "$site" "$kind" "$change" "$result" "$by" "$took" >>"$results"
  eta=$(awk -v s="$start" -v e="$(now)" -v d=$((m + 1)) -v t="$total" 'BEGIN { printf "%.1f", (e - s) / 1e6 / d * (t - d) / 60 }')
  printf '       %s%s  (%s s; ETA %s min)\n' "$result" "${by:+ by $by}" "$took" "$eta"
done
wall=$(secs "$start" "$(now)")

# ---------------------------------------------------------------------------------------------
echo
printf '%-3s %-40s %-8s %-52s %-9s %s\n' '#' site kind change result 'killed by'
for ((m = 0; m < total; m++)); do
  c=${r_change[m]}
  [ ${#c} -le 52 ] || c="${c:0:49}..."
  printf '%-3d %-40s %-8s %-52s %-9s %s\n' $((m + 1)) "${r_site[m]}" "${r_kind[m]}" "$c" "${r_result[m]}" "${r_by[m]}"
done
echo
judged=$((killed + survived))
score=$(awk -v k="$killed" -v j="$judged" 'BEGIN { if (j) printf "%.1f%%", 100 * k / j; else print "n/a" }')
say "score: $killed killed / ($killed killed + $survived survived) = $score; $nobuild did not build; $equivalent equivalent (the same objects); $unsure unsure (a sandbox test failed once, then passed); $errors errors"
say "N=$n SEED=$seed: mutants $wall s (load now: $(cut -d' ' -f1-3 /proc/loadavg)); baseline unit $unit_time s, sandbox shards $shard_wall s"
say "table in $results; diffs and logs in $logs"
