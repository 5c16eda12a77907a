#!/usr/bin/env bash
# Split, check and join by the Windows command line in a folder whose path
# is over 300 characters. Wine takes such paths even without the "\\?\"
# prefix, so the file calls are traced too: every one that names the folder
# must have reached the system in that form.
cli=$(realpath "$1")
# shellcheck source=../support/script.sh
source "$(dirname "$0")/../support/script.sh"

rel=
for part in alpha bravo 長い名前のフォルダ charlie delta echo foxtrot; do
  rel=$rel${rel:+/}$part-$(printf 'x%.0s' {1..36})
done
deep=$work/$rel
mkdir -p "$deep/parts" "$deep/joined" "$deep/again"
win() { printf 'Z:%s' "${1//\//\\}"; }
deepw=$(win "$deep")
[ ${#deepw} -gt 300 ] || fail "the folder has only ${#deepw} characters"
head -c 300000 /dev/urandom >"$deep/動画.bin"

traced() {  # trace file, then the command line's arguments
  local trace=$1
  shift
  WINEDEBUG=trace+file wine "$cli" "$@" >/dev/null 2>"$work/$trace"
}

traced split.log split "$deepw\\動画.bin" "$deepw\\parts" --min 10 --max 40 --seed 7 ||
  fail "split ($(grep -v ':trace:' "$work/split.log"))"
pieces=$(ls "$deep/parts" | grep -c '\.[0-9][0-9][0-9]$')
[ "$pieces" -ge 8 ] || fail "split wrote $pieces pieces"
[ -f "$deep/parts/動画.vok" ] || fail "no descriptor"
traced check.log check "$deepw\\parts\\動画.vok" || fail "check ($(grep -v ':trace:' "$work/check.log"))"
# Relative names from a short current folder, resolved before the prefix.
relw=${rel//\//\\}
(cd "$work" && traced join.log join "$relw\\parts\\動画.vok" "$relw\\joined") ||
  fail "join ($(grep -v ':trace:' "$work/join.log"))"
cmp -s "$deep/動画.bin" "$deep/joined/動画.bin" || fail "the joined file differs from the source"

# A lost piece stops the join, which then removes its temporary file.
last=$(ls "$deep/parts" | grep '\.[0-9][0-9][0-9]$' | sort | tail -n1)
rm "$deep/parts/$last"
traced lost.log join "$deepw\\parts\\動画.vok" "$deepw\\again" && fail "join without $last succeeded"
[ -z "$(ls -A "$deep/again")" ] || fail "join without $last left $(ls -A "$deep/again")"

# Each traced call naming the folder, its path arguments as Wine prints them.
calls='trace:file:(CreateFileW|MoveFileWithProgressW|DeleteFileW|FindFirstFileExW|GetFileAttributesW|GetFileAttributesExW) '
folder=${rel%%/*}  # in absolute and relative names alike
seen=$(cat "$work"/{split,check,join,lost}.log | grep -E "$calls" | grep -F "$folder")
for call in CreateFileW MoveFileWithProgressW DeleteFileW FindFirstFileExW GetFileAttributesW GetFileAttributesExW; do
  grep -q ":$call " <<<"$seen" || fail "no $call traced on the folder"
done
plain=$(grep -oE 'L"[^"]*"' <<<"$seen" | grep -F "$folder" | grep -vF 'L"\\\\?\\')
[ -z "$plain" ] || fail "calls without the prefix: $(head -n3 <<<"$plain")"

[ $fails -eq 0 ] && echo "ok: $pieces pieces split, checked and joined in a folder of ${#deepw} characters"
exit $((fails > 0))
