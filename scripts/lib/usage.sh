# usage.sh: --help and argument errors, alike in every command. A command sets USAGE (its usage
# text, "usage: ..." first) and sources this file before it installs, fetches or builds anything.
#   usage_help            USAGE on standard output, exit 0
#   usage_error [TEXT]    TEXT and USAGE on standard error, exit 2
#   usage_args MAX ARG... for commands with few arguments: --help or -h answers; an option
#                         (a word starting with -) not in USAGE_OPTS, or more than MAX other
#                         words, is an error. Words after -- are not looked at.
usage_help() {
  printf '%s\n' "$USAGE"
  exit 0
}
usage_error() {
  [ $# -eq 0 ] || printf '%s: %s\n' "${0##*/}" "$*" >&2
  printf '%s\n' "$USAGE" >&2
  exit 2
}
usage_args() {
  local max=$1 a n=0
  shift
  for a in "$@"; do
    case $a in
      --) break ;;
      --help | -h) usage_help ;;
      -*) [[ " ${USAGE_OPTS:-} " == *" $a "* ]] || usage_error "unknown option $a" ;;
      *) n=$((n + 1)) ;;
    esac
  done
  [ "$n" -le "$max" ] || usage_error "too many arguments"
}
