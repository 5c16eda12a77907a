# Sourced by the shell tests: a private folder ($work, removed at exit), a
# count of failures, and the two ways to record a finding.
set -u
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fails=0
fail() {
  echo "FAILED: $*"
  fails=$((fails + 1))
}
expect() {  # description, condition...
  local what=$1
  shift
  if "$@"; then echo "ok: $what"; else fail "$what"; fi
}
