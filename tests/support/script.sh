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
# Changes one byte of a file to its complement, so that it differs whatever
# it was (a fixed byte leaves 1 file in 256 as it was).
flip() {  # file, offset
  local byte
  byte=$(od -An -tu1 -j "$2" -N1 "$1" | tr -d ' ')
  printf '%b' "\\0$(printf '%03o' $((255 - byte)))" | dd of="$1" bs=1 seek="$2" conv=notrunc status=none
}
