#!/usr/bin/env bash
# Marks of the web through the Windows command line on NTFS (run by on_ntfs.sh): pieces
# get the source's, a join the most restrictive; no "x:stream" files on Unix.
cli=$(realpath "$1")
# shellcheck source=../support/script.sh
source "$(dirname "$0")/../support/script.sh"
mnt=${VOKRAM_NTFS:?run through on_ntfs.sh}

win() { printf 'Z:%s' "${1//\//\\}"; }
run() { wine "$cli" "$@" </dev/null >"$work/log" 2>&1 || fail "vokram-cli $* ($(tr -d '\r' <"$work/log"))"; }
mark() { cat "$1:Zone.Identifier" 2>/dev/null || printf '(none)'; }
pieces() { find "$1" -maxdepth 1 -name 'x.[0-9][0-9][0-9]' | sort; }
internet=$(printf '[ZoneTransfer]\r\nZoneId=3\r\nReferrerUrl=https://example.com/\r\nHostUrl=https://example.com/x.zip\r')
restricted=$(printf '[ZoneTransfer]\r\nZoneId=4\r\nHostUrl=https://example.net/x.001\r')

mkdir "$mnt/src" "$mnt/parts" "$mnt/joined" "$mnt/joined2"
head -c 6000 /dev/urandom >"$mnt/src/x.bin"
echo "$internet" >"$mnt/src/x.bin:Zone.Identifier"
[ "$(ls -A "$mnt/src")" = x.bin ] || fail "the volume keeps no stream: $(ls -A "$mnt/src")"

run split "$(win "$mnt/src/x.bin")" "$(win "$mnt/parts")" --min 1 --max 2
count=$(pieces "$mnt/parts" | wc -l) && [ "$count" -ge 3 ] || fail "split wrote $count pieces"
for p in $(pieces "$mnt/parts"); do [ "$(mark "$p")" = "$internet" ] || fail "${p##*/} carries $(mark "$p")"; done
run join "$(win "$mnt/parts/x.vok")" "$(win "$mnt/joined")"
[ "$(mark "$mnt/joined/x.bin")" = "$internet" ] || fail "the joined file carries $(mark "$mnt/joined/x.bin")"

# One restricted piece among internet ones gives its text.
for p in "$mnt/parts/x.vok" $(pieces "$mnt/parts"); do echo "$internet" >"$p:Zone.Identifier"; done
echo "$restricted" >"$mnt/parts/x.001:Zone.Identifier"
run join "$(win "$mnt/parts/x.vok")" "$(win "$mnt/joined2")"
[ "$(mark "$mnt/joined2/x.bin")" = "$restricted" ] ||
  fail "with one restricted piece the joined file carries $(mark "$mnt/joined2/x.bin")"

# Marked inputs, outputs in a Unix folder: nowhere to keep a mark.
unix=$work/unix && mkdir -p "$unix/parts" "$unix/joined"
run split "$(win "$mnt/src/x.bin")" "$(win "$unix/parts")" --min 1 --max 2
run join "$(win "$mnt/parts/x.vok")" "$(win "$unix/joined")"
strays=$(find "$unix" -name '*:*') && [ -z "$strays" ] || fail "files named after a stream: $strays"

exit $((fails > 0))
