#!/usr/bin/env bash
# vokram-cli.exe in Wine's cmd.exe on code page 932: redirected output is
# Shift-JIS, as `type` and Notepad on a Japanese system read it, and
# --version prints the version. Recovery files written there, Japanese names
# and all, are a set that Linux's par2 verifies and repairs from.
cli=$(realpath "$1")
# shellcheck source=../support/script.sh
source "$(dirname "$0")/../support/script.sh"
cd "$work" || exit 1

head -c 3000 /dev/urandom >'写真.bin'
mkdir out
wine "$cli" split '写真.bin' out --min 1 --max 1 >/dev/null 2>&1
printf '@"%s" check out\\写真.vok > report.txt 2> errors.txt\r\n@"%s" --version > version.txt\r\n' \
  "$(winepath -w "$cli")" "$(winepath -w "$cli")" | iconv -f UTF-8 -t CP932 >run.cmd
wine cmd /c run.cmd >/dev/null 2>&1
expect "the report is code page 932" test "$(iconv -f CP932 -t UTF-8 report.txt 2>/dev/null | tr -d '\r')" = \
  "$(printf ' ○  写真.000\n ○  写真.001\n ○  写真.002')"
expect "with the name's Shift-JIS bytes" grep -q $'\x8e\xca\x90\x5e\\.000' report.txt
expect "--version prints the version" grep -q '^vokram-cli 0\.1\.0' version.txt
wine cmd /c "$(winepath -w "$cli") check nowhere.vok 2> missing.txt" >/dev/null 2>&1
expect "a message in Shift-JIS too" test "$(iconv -f CP932 -t UTF-8 missing.txt 2>/dev/null | tr -d '\r')" = \
  '対象ファイルが存在しません。'

head -c 700000 /dev/urandom >'旅行の写真.bin'
mkdir rec joined
wine "$cli" split '旅行の写真.bin' rec --min 50 --max 200 --recovery 2 >/dev/null 2>&1
expect "the split with recovery files succeeds under Wine" test $? -eq 0
(cd rec && par2 verify -q -- '旅行の写真.par2' >/dev/null 2>&1)
expect "par2 on Linux verifies the set" test $? -eq 0
cp 'rec/旅行の写真.002' lost
rm 'rec/旅行の写真.002'
(cd rec && par2 repair -q -- '旅行の写真.par2' >/dev/null 2>&1)
expect "and repairs a lost piece under its Japanese name" cmp -s lost 'rec/旅行の写真.002'
rm 'rec/旅行の写真.001'
wine "$cli" join 'rec/旅行の写真.vok' joined >/dev/null 2>&1
expect "vokram-cli.exe joins it with a piece lost" cmp -s '旅行の写真.bin' 'joined/旅行の写真.bin'

# In a console an existing output is the window's question, read from the
# console's own input: Enter alone is no, y replaces.
echo old >'joined/旅行の写真.bin'
answer() {  # keys: typed once the question shows (the console reads raw keys by then)
  rm -f keys asked.out && mkfifo keys
  script -qec "wine \"$cli\" join 'rec/旅行の写真.vok' joined --quiet" /dev/null <keys >asked.out 2>&1 &
  local session=$!
  exec 3>keys
  for _ in $(seq 150); do grep -q 'y/N' asked.out && break; sleep 0.2; done
  printf '%s\r' "$1" >&3
  exec 3>&-
  wait "$session"
}
answer ''
expect "Enter in the console declines" test $? -eq 1 -a "$(cat 'joined/旅行の写真.bin')" = old
answer y
expect "y replaces" cmp -s '旅行の写真.bin' 'joined/旅行の写真.bin'
exit $((fails > 0))
