#!/usr/bin/env bash
# Checks that the release builds reproducibly: clones this repository's HEAD
# into two temporary folders of different names and depths, runs
# scripts/package.sh in each, and compares the programs and the zip byte for
# byte, printing the SHA-256 of each file from both clones. Exit status 0 only
# when all are identical; a mismatch keeps both clones for a look.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d /tmp/vokram-reproducible.XXXXXX)
trap 'rm -rf "$work"' EXIT
clones=("$work/a" "$work/second-clone/of/Vokram")

for dir in "${clones[@]}"; do
  git clone -q "$root" "$dir"
  echo "== scripts/package.sh in $dir"
  start=$SECONDS
  if ! "$dir/scripts/package.sh" >"$work/package.log" 2>&1; then
    tail -n 30 "$work/package.log"
    exit 1
  fi
  echo "   $((SECONDS - start)) s"
done

cd "${clones[0]}"
files=(build/package/ui/Vokram.exe build/package/cli/vokram-cli.exe dist/Vokram-*-win64.zip)
differ=0
for file in "${files[@]}"; do
  for dir in "${clones[@]}"; do
    sha256sum "$dir/$file" | sed "s|  $work/|  |"
  done
  if cmp -s "${clones[0]}/$file" "${clones[1]}/$file"; then
    echo "identical: $file"
  else
    echo "DIFFERENT: $file"
    differ=1
  fi
done
if ((differ)); then
  trap - EXIT
  echo "Not reproducible; both clones are kept in $work"
  exit 1
fi
echo "Reproducible: both clones give the same programs and zip."
