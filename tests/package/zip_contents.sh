#!/usr/bin/env bash
# zip_contents.sh VOKRAM_EXE VOKRAM_CLI_EXE
# Makes the release zip from these programs, docs/Vokram.txt, LICENSE and the
# notices with the packaging script's own zip step, under a time zone other
# than UTC, and checks what a user unpacks: the five files in their fixed
# order, mode 644, dated at the commit and at nothing else; the programs and
# the guide unchanged, the guide in UTF-8 with BOM; the licence and the
# notices as in the tree but with CR LF whichever line end the checkout has,
# and in ASCII; every text with CR LF; the notices naming each part of the
# compiler runtime, which the programs link statically (they import no
# runtime DLL); SHA256SUMS verifying the zip.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
exe=$1 cli=$2
guide=$root/docs/Vokram.txt
license=$root/LICENSE
notices=$root/docs/THIRD-PARTY-NOTICES.txt
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0
problem() { echo "FAILED: $*"; failed=1; }

epoch=$(git -C "$root" log -1 --format=%ct)
zip=$work/dist/Vokram-0.0.0-win64.zip
make_zip() { # OUT.zip LICENSE NOTICES
  TZ=JST-9 "$root/scripts/make-zip.sh" "$1" "$epoch" "$guide" "$cli" "$exe" \
    --text LICENSE.txt "$2" --text THIRD-PARTY-NOTICES.txt "$3"
}
make_zip "$zip" "$license" "$notices"

# A zip date has two-second steps and no time zone.
stamp=$(TZ=UTC date -d "@$((epoch - epoch % 2))" +%Y%m%d.%H%M%S)
expected=$(printf -- "-rw-r--r-- $stamp %s\n" \
  LICENSE.txt THIRD-PARTY-NOTICES.txt Vokram.exe Vokram.txt vokram-cli.exe)
listing=$(zipinfo -T -s "$zip" | awk '/^-/ {print $1, $7, $8}')
[ "$listing" = "$expected" ] || problem "entries:"$'\n'"$listing"$'\n'"expected:"$'\n'"$expected"
other_times=$(zipinfo -v "$zip" | grep 'file last modified' | grep -v 'DOS date/time' || true)
[ -z "$other_times" ] || problem "dates beside the DOS date: $other_times"

for pair in "Vokram.exe:$exe" "vokram-cli.exe:$cli" "Vokram.txt:$guide"; do
  unzip -p "$zip" "${pair%%:*}" | cmp -s - "${pair#*:}" || problem "${pair%%:*} differs from ${pair#*:}"
done

for name in LICENSE.txt THIRD-PARTY-NOTICES.txt Vokram.txt; do
  unzip -p "$zip" "$name" >"$work/$name"
  lf=$(tr -cd '\n' <"$work/$name" | wc -c)
  cr=$(tr -cd '\r' <"$work/$name" | wc -c)
  crlf=$(grep -c $'\r$' "$work/$name" || true)
  last=$(tail -c 2 "$work/$name" | od -An -tx1)
  if ((lf == 0 || cr != lf || crlf != lf)) || [ "$last" != " 0d 0a" ]; then
    problem "$name: $lf LF, $cr CR, $crlf CR LF, ends with$last; every line must end in CR LF"
  fi
done
[ "$(head -c 3 "$work/Vokram.txt" | od -An -tx1)" = " ef bb bf" ] || problem "Vokram.txt has no UTF-8 BOM"

# The licence and the notices are the tree's text with CR LF; with no BOM
# they must be ASCII to read alike under any code page.
for pair in "LICENSE.txt:$license" "THIRD-PARTY-NOTICES.txt:$notices"; do
  name=${pair%%:*}
  tr -d '\r' <"$work/$name" | cmp -s - "${pair#*:}" || problem "$name is not ${pair#*:} with CR LF"
  other=$(LC_ALL=C tr -d '\000-\177' <"$work/$name" | wc -c)
  ((other == 0)) || problem "$name has $other bytes beyond ASCII"
done
# A checkout with CR LF (autocrlf) makes the same zip.
mkdir "$work/crlf"
for file in "$license" "$notices"; do
  sed 's/$/\r/' "$file" >"$work/crlf/$(basename "$file")"
done
make_zip "$work/crlf/dist/same.zip" "$work/crlf/LICENSE" "$work/crlf/THIRD-PARTY-NOTICES.txt"
cmp -s "$zip" "$work/crlf/dist/same.zip" || problem "a checkout with CR LF gives another zip"

# Each part of the runtime, and the clause of the CRT's licence that binary
# copies must reproduce.
for part in "MinGW-w64 runtime" winpthreads libstdc++ libgcc "GCC Runtime Library Exception" \
  "Redistributions in binary form must reproduce the accompanying"; do
  grep -qF -- "$part" "$work/THIRD-PARTY-NOTICES.txt" || problem "THIRD-PARTY-NOTICES.txt lacks '$part'"
done
# The notices are for a runtime inside the programs; a runtime DLL would also
# be missing from the zip.
for program in "$exe" "$cli"; do
  dlls=$(x86_64-w64-mingw32-objdump -p "$program" | awk '/DLL Name:/ {print $3}')
  [ -n "$dlls" ] || problem "no imports read from $program"
  runtime=$(grep -i -E '^lib(winpthread|stdc\+\+|gcc)' <<<"$dlls" || true)
  [ -z "$runtime" ] || problem "$program imports ${runtime//$'\n'/, }"
done

listed=$(awk '{print $2}' "$work/dist/SHA256SUMS")
[ "$listed" = "$(basename "$zip")" ] || problem "SHA256SUMS lists '$listed'"
(cd "$work/dist" && sha256sum --quiet -c SHA256SUMS) || problem "SHA256SUMS does not match the zip"

((failed == 0)) && echo "ok: the five files as expected; SHA256SUMS verifies"
exit "$failed"
