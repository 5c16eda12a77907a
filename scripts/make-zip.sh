#!/usr/bin/env bash
# make-zip.sh OUT.zip EPOCH ENTRY...
# ENTRY is FILE, or --text NAME FILE.
# Writes OUT.zip holding each FILE under its own name, and SHA256SUMS for it
# beside OUT.zip. A --text entry is FILE as Windows text named NAME: every
# line ends in CR LF, whichever line end FILE has, so that Notepad shows it
# and checkouts with either line end give the same zip. The same files always
# give the same bytes: entries in byte order of their names, mode 644, every
# date EPOCH in UTC (rounded down to the two seconds a zip date can hold), no
# extra fields with owners or times.
set -euo pipefail
usage() {
  echo "usage: $0 OUT.zip EPOCH {FILE | --text NAME FILE}..." >&2
  exit 2
}
(($# >= 3)) || usage
out=$(realpath -m "$1")
epoch=$2
shift 2
[[ $epoch =~ ^[0-9]+$ ]] || { echo "EPOCH must be seconds since 1970: $epoch" >&2; exit 2; }

stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
while (($#)); do
  text=0
  if [ "$1" = --text ]; then
    (($# >= 3)) || usage
    text=1 name=$2 file=$3
    shift 3
  else
    name=$(basename "$1") file=$1
    shift
  fi
  [[ -n $name && $name != */* ]] || { echo "not a file name: '$name'" >&2; exit 2; }
  [ ! -e "$stage/$name" ] || { echo "two files named $name" >&2; exit 2; }
  if ((text)); then
    LC_ALL=C awk '{ sub(/\r$/, ""); printf "%s\r\n", $0 }' "$file" >"$stage/$name"
  else
    cp "$file" "$stage/$name"
  fi
done
chmod 644 "$stage"/*
touch -d "@$((epoch - epoch % 2))" "$stage"/*
mapfile -t names < <(cd "$stage" && printf '%s\n' * | LC_ALL=C sort)

rm -f "$out"
mkdir -p "$(dirname "$out")"
# ZIPOPT from the environment would change the options; a zip date is local
# time, hence UTC.
(cd "$stage" && env -u ZIPOPT -u ZIP TZ=UTC zip -q -X -9 "$out" -- "${names[@]}")
(cd "$(dirname "$out")" && sha256sum -- "$(basename "$out")" >SHA256SUMS)
