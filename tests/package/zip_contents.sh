#!/usr/bin/env bash
# zip_contents.sh VOKRAM_EXE VOKRAM_CLI_EXE
# Makes the release zip from these programs and docs/Vokram.txt with the
# packaging script's own zip step, under a time zone other than UTC, and
# checks what a user unpacks: the three files in their fixed order, unchanged,
# mode 644, dated at the commit and at nothing else; the guide in UTF-8 with
# BOM and CR LF; SHA256SUMS verifying the zip.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
exe=$1 cli=$2
guide=$root/docs/Vokram.txt
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0
problem() { echo "FAILED: $*"; failed=1; }

epoch=$(git -C "$root" log -1 --format=%ct)
zip=$work/dist/Vokram-0.0.0-win64.zip
TZ=JST-9 "$root/scripts/make-zip.sh" "$zip" "$epoch" "$guide" "$cli" "$exe"

# A zip date has two-second steps and no time zone.
stamp=$(TZ=UTC date -d "@$((epoch - epoch % 2))" +%Y%m%d.%H%M%S)
expected=$(printf -- "-rw-r--r-- $stamp %s\n" Vokram.exe Vokram.txt vokram-cli.exe)
listing=$(zipinfo -T -s "$zip" | awk '/^-/ {print $1, $7, $8}')
[ "$listing" = "$expected" ] || problem "entries:"$'\n'"$listing"$'\n'"expected:"$'\n'"$expected"
other_times=$(zipinfo -v "$zip" | grep 'file last modified' | grep -v 'DOS date/time' || true)
[ -z "$other_times" ] || problem "dates beside the DOS date: $other_times"

for pair in "Vokram.exe:$exe" "vokram-cli.exe:$cli" "Vokram.txt:$guide"; do
  unzip -p "$zip" "${pair%%:*}" | cmp -s - "${pair#*:}" || problem "${pair%%:*} differs from ${pair#*:}"
done

unzip -p "$zip" Vokram.txt >"$work/guide"
[ "$(head -c 3 "$work/guide" | od -An -tx1)" = " ef bb bf" ] || problem "Vokram.txt has no UTF-8 BOM"
lf=$(tr -cd '\n' <"$work/guide" | wc -c)
cr=$(tr -cd '\r' <"$work/guide" | wc -c)
crlf=$(grep -c $'\r$' "$work/guide" || true)
last=$(tail -c 2 "$work/guide" | od -An -tx1)
if ((lf == 0 || cr != lf || crlf != lf)) || [ "$last" != " 0d 0a" ]; then
  problem "Vokram.txt: $lf LF, $cr CR, $crlf CR LF, ends with$last; every line must end in CR LF"
fi

listed=$(awk '{print $2}' "$work/dist/SHA256SUMS")
[ "$listed" = "$(basename "$zip")" ] || problem "SHA256SUMS lists '$listed'"
(cd "$work/dist" && sha256sum --quiet -c SHA256SUMS) || problem "SHA256SUMS does not match the zip"

((failed == 0)) && echo "ok: Vokram.exe, Vokram.txt, vokram-cli.exe as expected; SHA256SUMS verifies"
exit "$failed"
