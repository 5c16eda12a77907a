#!/usr/bin/env bash
# vokram-cli as a user meets it: split, check, join, and the failures a shell
# user sees (messages on stderr, non-zero exit status).
cli=$1
# shellcheck source=../support/script.sh
source "$(dirname "$0")/../support/script.sh"
cd "$work" || exit 1

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

# Recovery files: par2 accepts the set, and rebuilds any two lost pieces from
# it; a re-split without them leaves the pieces as a split without ever had.
mkdir rec plain
"$cli" split 'source 表.bin' rec --min 100 --max 300 --seed 7 --recovery 2 --base -r >/dev/null 2>rec.err
expect "a split with recovery files succeeds" test $? -eq 0
(cd rec && par2 verify -q -- -r.par2 >/dev/null 2>&1)
expect "par2 verifies the set" test $? -eq 0
largest=$(stat -c %s rec/-r.[0-9]* | sort -n | tail -1)
expect "no volume is larger than the largest piece" test "$(stat -c %s rec/-r.vol*.par2 | sort -n | tail -1)" -le "$largest"
cp rec/-r.001 rec/-r.003 ./
rm rec/-r.001 rec/-r.003
(cd rec && par2 repair -q -p -- -r.par2 >/dev/null 2>&1)
expect "par2 rebuilds two lost pieces" cmp -s rec/-r.001 ./-r.001
expect "byte for byte" cmp -s rec/-r.003 ./-r.003
"$cli" split 'source 表.bin' plain --min 100 --max 300 --seed 7 --base -r >/dev/null 2>&1
for f in plain/*; do
  expect "without the option $f is as before" cmp -s "$f" "rec/${f#plain/}"
done
# Pieces whose recovery slices do not fit the encoder's memory at once (two
# of about 24 MiB and two losses: 32 slices of 1.5 MiB, computed in passes)
# have their checksums taken as they are copied: par2 verifies that set too.
mkdir big
head -c $((48 << 20)) /dev/urandom >big.bin
"$cli" split big.bin big --min 24000 --max 24600 --recovery 2 >/dev/null 2>&1
expect "a split whose recovery slices take passes succeeds" test $? -eq 0
(cd big && par2 verify -q big.par2 >/dev/null 2>&1)
expect "par2 verifies its set" test $? -eq 0
# Two lost pieces of 24 MiB are more than a join holds beside its copy: they
# are rebuilt after it.
rm big/big.000 big/big.001
mkdir bigj
"$cli" join big/big.vok bigj >/dev/null 2>&1
expect "pieces too large to hold are rebuilt after the copy" cmp -s big.bin bigj/big.bin
rm -r big bigj big.bin

# The receiving side: a lost piece and a flipped byte are restorable (exit 1,
# as par2 verify says), a join restores the source and says how many pieces,
# repair makes the set whole (a damaged piece replaced only with --force).
# A set par2 made over the pieces serves the same way; without any set the
# damage is final (exit 2).
mkdir rx rxj
"$cli" split 'source 表.bin' rx --min 100 --max 300 --seed 7 --recovery 2 >/dev/null 2>&1
rm 'rx/source 表.002'
flip 'rx/source 表.004' 9
"$cli" check 'rx/source 表.vok' >rx.out
expect "check: restorable, exit 1" test $? -eq 1
expect "it says so after the pieces" test "$(tail -1 rx.out)" = 'リカバリファイルで復元できます。'
"$cli" join 'rx/source 表.vok' rxj >rxj.out 2>&1
expect "join restores the source" cmp -s 'source 表.bin' 'rxj/source 表.bin'
expect "and counts the pieces" grep -q '^分割ファイル 2 個をリカバリファイルで復元しました。$' rxj.out
"$cli" repair 'rx/source 表.vok' >/dev/null 2>&1
expect "repair refuses to replace a damaged piece without --force" test $? -eq 1
"$cli" repair 'rx/source 表.vok' --force >/dev/null 2>&1
(cd rx && par2 verify -q 'source 表.par2' >/dev/null 2>&1)
expect "repair --force makes the set whole for par2" test $? -eq 0
# A piece a browser renamed is used, and the join says so.
mv 'rx/source 表.003' 'rx/source 表 (1).003'
rm rxj/*
"$cli" join 'rx/source 表.vok' rxj >rxj.out 2>&1
expect "a renamed piece is joined" cmp -s 'source 表.bin' 'rxj/source 表.bin'
expect "under its own name" grep -q '^「source 表 (1).003」を「source 表.003」として使いました。$' rxj.out
mv 'rx/source 表 (1).003' 'rx/source 表.003'
cp 'rx/source 表.vok' vok.kept
rm 'rx/source 表.vok'
"$cli" repair 'rx/source 表.vok' >/dev/null 2>&1
expect "repair brings a lost descriptor back from the set" cmp -s vok.kept 'rx/source 表.vok'
rm 'rx/source 表.vok'
"$cli" repair 'rx/source 表.par2' >/dev/null 2>&1
expect "also when given the .par2 file" cmp -s vok.kept 'rx/source 表.vok'
rm rx/*.par2
(cd rx && par2 create -q -s65536 -c8 -n1 theirs.par2 -- 'source 表'.[0-9]* >/dev/null 2>&1)
rm 'rx/source 表.001' rxj/*
"$cli" check 'rx/source 表.vok' >/dev/null 2>&1
expect "par2's own set serves the check" test $? -eq 1
"$cli" join 'rx/source 表.vok' rxj >/dev/null 2>&1
expect "and the join" cmp -s 'source 表.bin' 'rxj/source 表.bin'
rm 'rx/source 表.000' 'rx/source 表.002' 'rx/source 表.004' rxj/*
"$cli" join 'rx/source 表.vok' rxj >/dev/null 2>rxj.err
expect "a set too small for the damage: the join fails" test $? -eq 1
expect "naming the first lost piece" grep -q '「source 表.000」が見つかりません。結合を中止しました。' rxj.err
expect "and writes nothing" test -z "$(ls rxj)"
rm rx/*.par2
"$cli" check 'rx/source 表.vok' >/dev/null 2>&1
expect "without recovery files a lost piece is final: exit 2" test $? -eq 2

# A re-split takes the earlier set's recovery files with it, and nothing else.
mkdir rec1
"$cli" split 'source 表.bin' rec --min 100 --max 300 --seed 7 --recovery 3 --base -r --force >/dev/null 2>&1
echo stranger >rec/-r.vol9+1.par2
"$cli" split 'source 表.bin' rec --min 100 --max 300 --seed 7 --recovery 1 --base -r --force >/dev/null 2>&1
"$cli" split 'source 表.bin' rec1 --min 100 --max 300 --seed 7 --recovery 1 --base -r >/dev/null 2>&1
expect "no volume of the earlier set is left" test "$(cd rec && ls -- *.par2 | grep -v vol9)" = "$(cd rec1 && ls -- *.par2)"
expect "a file that only has such a name stays" grep -q stranger rec/-r.vol9+1.par2

# Progress: drawn on a terminal (a pseudo-terminal by script), never into a
# file or a pipe, nor with --quiet.
mkdir pty1 pty2
script -qec "\"$cli\" join 'out/source 表.vok' pty1" /dev/null >pty.out
expect "progress on a terminal" grep -q 'MB/s' pty.out
expect "and the join still completes" cmp -s 'source 表.bin' 'pty1/source 表.bin'
script -qec "\"$cli\" join 'out/source 表.vok' pty2 --quiet" /dev/null >quiet.out
expect "none with --quiet" test "$(grep -c 'MB/s' quiet.out)" -eq 0
"$cli" join 'out/source 表.vok' pty2 --force >/dev/null 2>piped.err
expect "none into a file" test "$(grep -c 'MB/s' piped.err)" -eq 0
# There an existing output is the window's question, and no is the default.
echo old >'pty2/source 表.bin'
printf '\n' | script -qec "\"$cli\" join 'out/source 表.vok' pty2 --quiet" /dev/null >ask.out
expect "Enter declines" test $? -eq 1 -a "$(cat 'pty2/source 表.bin')" = old
expect "after the question" grep -q '「source 表.bin」は既に存在します。置き換えますか？ \[y/N\]' ask.out
printf 'y\n' | script -qec "\"$cli\" join 'out/source 表.vok' pty2 --quiet" /dev/null >/dev/null
expect "y replaces" cmp -s 'source 表.bin' 'pty2/source 表.bin'
echo old >'pty2/source 表.bin'
printf 'ｙ\n' | script -qec "\"$cli\" join 'out/source 表.vok' pty2 --quiet" /dev/null >/dev/null
expect "so does y typed with the input method on" cmp -s 'source 表.bin' 'pty2/source 表.bin'


flip 'out/source 表.001' 5
"$cli" check 'out/source 表.vok' >check2.out
expect "check with a damaged piece exits non-zero" test $? -ne 0
expect "damaged piece marked" grep -q '^ △  source 表\.001$' check2.out
"$cli" join 'out/source 表.vok' restore >/dev/null 2>join.err
expect "a join over an existing file is refused without --force" test $? -eq 1
expect "it names the file" grep -q '^「source 表.bin」は既に存在します。置き換えますか？$' join.err
"$cli" join 'out/source 表.vok' restore -f >/dev/null 2>join.err
expect "a damaged join over a good file fails" test $? -ne 0
expect "it says the file was kept" grep -q '「source 表.bin」を置き換えませんでした。結合したファイルがvokファイルの記録と一致しません。' join.err
expect "the good file is untouched" cmp -s 'source 表.bin' 'restore/source 表.bin'
mkdir fresh
"$cli" join 'out/source 表.vok' fresh >/dev/null 2>join.err
expect "a damaged join into an empty folder warns" grep -q '結合したファイルがvokファイルの記録と一致しません。' join.err

rm 'out/source 表.002'
"$cli" join 'out/source 表.vok' restore --force >/dev/null 2>join2.err
expect "join with a missing piece fails" test $? -ne 0
expect "the message names the piece" grep -q '「source 表.002」が見つかりません。結合を中止しました。' join2.err

# An earlier set is replaced only with --force, never through a link, and
# keeps its permissions; a folder under an output name is never replaced.
mkdir again
head -c 300000 /dev/urandom >again.bin
"$cli" split again.bin again --min 50 --max 100 --bat >/dev/null
before=$(ls -l --time-style=+%s.%N again | md5sum)
"$cli" split again.bin again --min 50 --max 100 --bat >/dev/null 2>again.err
expect "a second split is refused without --force" test $? -eq 1
expect "it counts the files" grep -q '^保存先に同じ名前のファイルが 6 個あります。置き換えますか？$' again.err
expect "and names the first" grep -q '^again/again.000$' again.err
expect "the earlier set is untouched" test "$(ls -l --time-style=+%s.%N again | md5sum)" = "$before"
echo victim >victim
rm again/again.001
ln -s ../victim again/again.001
chmod 600 again/again.000
"$cli" split again.bin again --min 50 --max 100 --bat --force >/dev/null
expect "with --force it replaces" test $? -eq 0
expect "the link, not what it leads to" test "$(cat victim)" = victim -a ! -L again/again.001
expect "a replaced file keeps its permissions" test "$(stat -c %a again/again.000)" = 600
checks_sound() { "$cli" check "$1" >/dev/null; }
expect "and the set checks sound" checks_sound again/again.vok
rm again/again.002 && mkdir again/again.002
"$cli" split again.bin again --min 50 --max 100 -f >/dev/null 2>folder.err
expect "a folder under a piece's name is refused" grep -q '保存先に「again.002」という名前のフォルダがあります。' folder.err
expect "and stays a folder" test -d again/again.002

# Two splits of one source into one folder at once: one writes the set, the
# other meets its files and fails, removing only its own.
head -c 20000000 /dev/urandom >race.bin
for round in 1 2 3; do
  mkdir race
  "$cli" split race.bin race --min 100 --max 200 --seed 1 --quiet >/dev/null 2>race1.err &
  p1=$!
  "$cli" split race.bin race --min 100 --max 300 --seed 2 --quiet >/dev/null 2>race2.err &
  p2=$!
  wait $p1; s1=$?
  wait $p2; s2=$?
  expect "race $round: exactly one split succeeds" test $((s1 + s2)) -eq 1
  expect "race $round: its set checks sound" checks_sound race/race.vok
  rm -rf race
done

# A source that grows while it is split gives no pieces.
mkdir grown
truncate -s 1G grown.bin
"$cli" split grown.bin grown --min 100000 --max 200000 --quiet >/dev/null 2>grown.err &
pid=$!
for _ in $(seq 1 1000); do [ -e grown/~vok0000.tmp ] && break; sleep 0.01; done
printf 'more' >>grown.bin
wait $pid
expect "a source changed during the split fails it" test $? -eq 1
expect "saying so" grep -q '対象ファイルが分割中に変更されました。' grown.err
expect "and leaves nothing" test -z "$(ls -A grown)"
rm -f grown.bin

# Durable before success: the data is synced before a rename puts it under
# its name, and before the exit status says it is done.
if command -v strace >/dev/null; then
  mkdir durable
  # The leak check of a sanitizer build cannot run under ptrace.
  no_leak_check="ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0"
  env "$no_leak_check" strace -f -o split.trace -e trace=fsync,fdatasync,syncfs,rename,renameat,renameat2,exit_group \
    "$cli" split again.bin durable --min 50 --max 100 --bat >/dev/null
  env "$no_leak_check" strace -f -o join.trace -e trace=fsync,fdatasync,syncfs,rename,renameat,renameat2,exit_group \
    "$cli" join durable/again.vok durable >/dev/null
  synced_first() {  # every rename and the exit come after a sync
    awk '/sync/{s=1} /rename|exit_group\(0\)/{if(!s) bad=1} END{exit bad}' "$1" && grep -q 'exit_group(0)' "$1"
  }
  expect "split syncs before it exits" synced_first split.trace
  expect "join syncs before its rename and exit" synced_first join.trace
  expect "join renames its temporary" grep -q 'rename' join.trace
else
  expect "strace is installed" false
fi

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
"$cli" crc missing.bin 2>crcmiss.err
expect "crc of a missing file fails in Japanese" test $? -ne 0 -a "$(cat crcmiss.err)" = '対象ファイルが存在しません。'
"$cli" crc empty.bin 2>crcempty.err
expect "crc of an empty file fails in Japanese" test $? -ne 0 -a "$(cat crcempty.err)" = '対象ファイルが空です。1 バイト以上のファイルを指定してください。'
"$cli" bogus >/dev/null 2>bogus.err
expect "unknown command exits 2, said in Japanese" test $? -eq 2 -a "$(head -n1 bogus.err)" = 'bogus: そのようなコマンドはありません。'
"$cli" split again.bin out --min 50 --max 5x >/dev/null 2>max.err
expect "a number error names its option" test "$(cat max.err)" = '--max: 数字を入力してください。'
for seed in -1 12x 4294967296; do
  "$cli" split again.bin out --min 50 --max 100 --seed "$seed" >/dev/null 2>&1
  expect "--seed $seed is a usage error" test $? -eq 2
done
mkdir seeded
"$cli" split again.bin seeded --min 50 --max 100 --seed 4294967295 >/dev/null
expect "the largest seed is one" test $? -eq 0

# "--" ends the options: after it a name that looks like one is a name.
mkdir dashes && cd dashes || exit 1
cp ../again.bin ./--force
"$cli" split --min 50 --max 100 -- --force . >/dev/null
expect "split of a source named --force" test $? -eq 0 -a -f ./--force.vok
"$cli" check --quiet -- --force.vok >/dev/null
expect "check of a descriptor named --force.vok" test $? -eq 0
mkdir ./-out
"$cli" join -- --force.vok -out >/dev/null
expect "join into a folder named -out" cmp -s ../again.bin ./-out/--force
crc=$("$cli" crc -- --force)
expect "crc of a file named --force" test -n "$crc" -a "$crc" = "$("$cli" crc ../again.bin)"
"$cli" split -- --force . --min 50 --max 100 >/dev/null 2>../dashes.err
expect "options after -- are names: too many" test $? -eq 2
expect "for a source and a folder" grep -q '^split には対象ファイルと保存先を指定してください。$' ../dashes.err
cd "$work" || exit 1

# Output that never reached its file fails the run, as a full disk should.
mkdir full
"$cli" split again.bin full --min 50 --max 100 >/dev/full 2>full.err
expect "split into a full stdout fails" test $? -eq 1
expect "saying so" grep -q '^出力を書き込めませんでした。出力先の空き容量を確かめてください。$' full.err
"$cli" check full/again.vok >/dev/full 2>/dev/null
expect "so does check" test $? -eq 1
"$cli" crc again.bin >/dev/full 2>/dev/null
expect "and crc" test $? -eq 1

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
waitfor stop/split/~vok0000.tmp  # the first piece, under its temporary name
kill -TERM $pid
wait $pid
expect "a split stopped by SIGTERM exits 143" test $? -eq 143
expect "and removes what it wrote" test -z "$(ls -A stop/split)"
rm -rf stop

# A split over an earlier set killed outright (no clean-up): check names the
# interrupted run and changes nothing; the next split settles it first, and
# says so, then runs.
mkdir killed
truncate -s 300M killed/k.bin
"$cli" split killed/k.bin killed --min 20000 --max 40000 --quiet >/dev/null
"$cli" split killed/k.bin killed --min 10000 --max 20000 --force --quiet >/dev/null 2>&1 &
pid=$!
waitfor killed/~vok0000.tmp
kill -KILL $pid
wait $pid 2>/dev/null
expect "a killed split leaves its journal" test -e killed/~vok.journal
"$cli" check killed/k.vok >/dev/null 2>killed.check.err
expect "check names the interrupted run" grep -q '中断された処理があります。' killed.check.err
expect "and changes nothing" test -e killed/~vok.journal
"$cli" split killed/k.bin killed --min 20000 --max 40000 --force --quiet >/dev/null 2>killed.split.err
expect "the next split settles it first" grep -q '前回中断された処理を取り消し、元のファイルに戻しました。' killed.split.err
expect "and leaves nothing of it" test -z "$(ls killed | grep '~vok')"
expect "its own set checks sound" checks_sound killed/k.vok
rm -rf killed

exit $((fails > 0))
