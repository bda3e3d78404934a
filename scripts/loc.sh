#!/usr/bin/env bash
# loc.sh: non-blank lines of code and of tests among the files git tracks, by language, and
# their ratio. Counted: C and C++ (.c .cc .cpp .h .hpp), shell (.sh, and files without an
# extension whose first line is a sh or bash #! line), CMake (CMakeLists.txt, *.cmake).
# Tests: everything under tests/ and fuzz/; code: everything else. Only prints, never fails.
set -uo pipefail
USAGE="usage: bash scripts/loc.sh
Non-blank lines of code and of tests (tests/, fuzz/) among the tracked files, and their ratio."
. "$(dirname "${BASH_SOURCE[0]}")/lib/usage.sh"
usage_args 0 "$@"
repo=$(cd "$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")/.." && pwd -P)
cd "$repo" || exit 0

code_cxx=() code_sh=() code_cmake=() test_cxx=() test_sh=() test_cmake=()
while IFS= read -r -d '' f; do
  [ -f "$f" ] && [ ! -L "$f" ] || continue  # deleted in the work tree, or a link to another file
  base=${f##*/}
  case $base in
    *.c | *.cc | *.cpp | *.h | *.hpp) lang=cxx ;;
    *.sh) lang=sh ;;
    CMakeLists.txt | *.cmake) lang=cmake ;;
    *.*) continue ;;
    *)
      first=
      IFS= read -r first <"$f" || true
      [[ $first =~ ^#![[:space:]]*[^[:space:]]*/(env[[:space:]]+)?(ba)?sh([[:space:]]|$) ]] || continue
      lang=sh ;;
  esac
  case $f in tests/* | fuzz/*) side=test ;; *) side=code ;; esac
  declare -n list="${side}_$lang"
  list+=("$f")
  unset -n list
done < <(git ls-files -z 2>/dev/null)

count() {  # count SIDE LANG: non-blank lines of those files
  local -n list="$1_$2"
  [ ${#list[@]} -gt 0 ] || { echo 0; return; }
  printf '%s\0' "${list[@]}" | xargs -0 awk '/[^[:space:]]/ { n++ } END { print n + 0 }' | awk '{ s += $1 } END { print s + 0 }'
}

code=0 tests=0
printf '%-8s %8s %8s\n' '' code tests
for lang in cxx sh cmake; do
  c=$(count code "$lang")
  t=$(count test "$lang")
  code=$((code + c))
  tests=$((tests + t))
  case $lang in cxx) name=C/C++ ;; sh) name=shell ;; cmake) name=CMake ;; esac
  printf '%-8s %8d %8d\n' "$name" "$c" "$t"
done
printf '%-8s %8d %8d\n' total "$code" "$tests"
if [ "$code" -gt 0 ]; then
  awk -v c="$code" -v t="$tests" 'BEGIN { printf "test lines per code line: %.2f\n", t / c }'
else
  echo "test lines per code line: n/a (no code lines)"
fi
exit 0
