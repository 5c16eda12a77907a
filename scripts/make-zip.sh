#!/usr/bin/env bash
# make-zip.sh OUT.zip EPOCH FILE...
# Writes OUT.zip holding each FILE under its own name, and SHA256SUMS for it
# beside OUT.zip. The same files always give the same bytes: entries in byte
# order of their names, mode 644, every date EPOCH in UTC (rounded down to the
# two seconds a zip date can hold), no extra fields with owners or times.
set -euo pipefail
if (($# < 3)); then
  echo "usage: $0 OUT.zip EPOCH FILE..." >&2
  exit 2
fi
out=$(realpath -m "$1")
epoch=$2
shift 2
[[ $epoch =~ ^[0-9]+$ ]] || { echo "EPOCH must be seconds since 1970: $epoch" >&2; exit 2; }

stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
for file in "$@"; do
  name=$(basename "$file")
  [ ! -e "$stage/$name" ] || { echo "two files named $name" >&2; exit 2; }
  cp "$file" "$stage/$name"
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
