#!/usr/bin/env bash
# vokram-cli as a user meets it: split, check, join, and the failures a shell
# user sees (messages on stderr, non-zero exit status).
set -u
cli=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
fails=0
expect() {  # description, condition...
  local what=$1
  shift
  if "$@"; then echo "ok: $what"; else echo "FAILED: $what"; fails=$((fails + 1)); fi
}

head -c 1500000 /dev/urandom >'source 表.bin'
mkdir out restore
"$cli" split 'source 表.bin' out --min 100 --max 300 --bat --seed 7 >split.out 2>split.err
expect "split succeeds" test $? -eq 0
expect "split reports completion" grep -q '終了しました。' split.out
expect "descriptor and batch written" test -f 'out/source 表.vok' -a -f 'out/source 表.bat'

"$cli" check 'out/source 表.vok' >check.out
expect "check of sound pieces exits 0" test $? -eq 0
pieces=$(ls out | grep -c '\.[0-9][0-9][0-9]$')
expect "several pieces" test "$pieces" -ge 5
expect "every line is sound" test "$(grep -c '^ ○  source 表\.[0-9][0-9][0-9]$' check.out)" -eq "$(ls out | grep -c '\.[0-9][0-9][0-9]$')"

"$cli" join 'out/source 表.vok' restore >/dev/null
expect "join exits 0" test $? -eq 0
expect "joined file equals the source" cmp -s 'source 表.bin' 'restore/source 表.bin'

"$cli" join 'out/source 表.vok' >/dev/null
expect "join defaults to the descriptor's folder" cmp -s 'source 表.bin' 'out/source 表.bin'

# Progress: drawn on a terminal (a pseudo-terminal by script), never into a
# file or a pipe, nor with --quiet.
mkdir pty1 pty2
script -qec "\"$cli\" join 'out/source 表.vok' pty1" /dev/null >pty.out
expect "progress on a terminal" grep -q 'MiB/s' pty.out
expect "and the join still completes" cmp -s 'source 表.bin' 'pty1/source 表.bin'
script -qec "\"$cli\" join 'out/source 表.vok' pty2 --quiet" /dev/null >quiet.out
expect "none with --quiet" test "$(grep -c 'MiB/s' quiet.out)" -eq 0
"$cli" join 'out/source 表.vok' pty2 >/dev/null 2>piped.err
expect "none into a file" test "$(grep -c 'MiB/s' piped.err)" -eq 0


printf 'X' | dd of='out/source 表.001' bs=1 seek=5 conv=notrunc 2>/dev/null
"$cli" check 'out/source 表.vok' >check2.out
expect "check with a damaged piece exits non-zero" test $? -ne 0
expect "damaged piece marked" grep -q '^ △  source 表\.001$' check2.out
"$cli" join 'out/source 表.vok' restore >/dev/null 2>join.err
expect "a damaged join over a good file fails" test $? -ne 0
expect "it says the file was kept" grep -q '結合結果がvokファイルの記録と一致しないため、「source 表.bin」を置き換えませんでした。' join.err
expect "the good file is untouched" cmp -s 'source 表.bin' 'restore/source 表.bin'
mkdir fresh
"$cli" join 'out/source 表.vok' fresh >/dev/null 2>join.err
expect "a damaged join into an empty folder warns" grep -q '結合しましたが、vokファイルの記録と一致しません。' join.err

rm 'out/source 表.002'
"$cli" join 'out/source 表.vok' restore >/dev/null 2>join2.err
expect "join with a missing piece fails" test $? -ne 0
expect "the message names the piece" grep -q '「source 表.002」を読み込めませんでした。結合を中止しました。' join2.err

"$cli" split missing.bin out --min 1 --max 1 2>miss.err
expect "missing source refused" test $? -ne 0
expect "missing source message" grep -q '対象ファイルが存在しません。' miss.err
"$cli" split 'source 表.bin' out --min abc --max 1 2>num.err
expect "non-numeric size message" grep -q '数字を入力してください。' num.err
: >empty.bin
"$cli" split empty.bin out --min 1 --max 1 2>empty.err
expect "empty source message" grep -q '対象ファイルが空です。' empty.err
"$cli" join 'source 表.bin' restore 2>notvok.err
expect "a non-descriptor is refused" grep -q 'vokファイルではありません。' notvok.err
"$cli" crc 'source 表.bin' >crc.out
expect "crc prints four hex digits" grep -qE '^[0-9A-F]{4}$' crc.out
"$cli" bogus >/dev/null 2>&1
expect "unknown command exits 2" test $? -eq 2

# A stop: SIGINT during a join and SIGTERM during a split, each sent once the
# operation is writing (a sparse gibibyte keeps it busy long enough).
waitfor() { for _ in $(seq 1 1000); do [ -s "$1" ] && return; sleep 0.01; done; }
mkdir stop stop/out stop/split
printf 'x' >stop/s.bin
"$cli" split stop/s.bin stop --min 1 --max 1 >/dev/null
truncate -s 1G stop/s.000
"$cli" join stop/s.vok stop/out >/dev/null 2>stop/join.err &
pid=$!
waitfor stop/out/~vok0000.tmp
kill -INT $pid
wait $pid
expect "a join stopped by SIGINT exits 130" test $? -eq 130
expect "it says so" grep -q '結合を中止しました。' stop/join.err
expect "and leaves no temporary" test -z "$(ls -A stop/out)"
truncate -s 1G stop/t.bin
"$cli" split stop/t.bin stop/split --min 100000 --max 200000 --bat >/dev/null 2>stop/split.err &
pid=$!
waitfor stop/split/t.000
kill -TERM $pid
wait $pid
expect "a split stopped by SIGTERM exits 143" test $? -eq 143
expect "and removes what it wrote" test -z "$(ls -A stop/split)"
rm -rf stop

exit $((fails > 0))
