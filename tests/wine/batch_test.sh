#!/usr/bin/env bash
# The batch file a split writes must rebuild the source with the command
# interpreter alone: run it with Wine's cmd.exe (code page 932) and compare.
cli=$1
# shellcheck source=../support/script.sh
source "$(dirname "$0")/../support/script.sh"

rebuild() {  # source name, min KiB, max KiB
  local name=$1 dir
  dir=$work/$(date +%s%N)
  mkdir -p "$dir/out" && cd "$dir" || return 1
  # 0x1A bytes would end a text-mode COPY early; binary COPY must keep them.
  { printf '\x1a\x00\x1a'; head -c 12000 /dev/urandom; printf '\x1a'; } >"$name"
  if ! wine "$cli" split "$name" out --min "$2" --max "$3" --bat --no-vok >/dev/null 2>&1; then
    echo "FAILED: split of $name"
    return 1
  fi
  local stem=${name%.*}
  # Started by CALL from a code page 932 script, with the name quoted as a
  # user types a name with spaces or parentheses.
  cd out || return 1
  printf '@call "%s.bat"\r\n' "$stem" | iconv -f UTF-8 -t CP932 >run.cmd
  local status=0
  wine cmd /c run.cmd >../cmd.log 2>&1 || status=$?
  if cmp -s "../$name" "$name"; then
    echo "ok: $name rebuilt by $stem.bat ($(ls | grep -c '\.[0-9][0-9][0-9]$') pieces)"
  else
    # Enough to tell a command interpreter that never ran from a wrong COPY.
    echo "FAILED: $name differs after running $stem.bat (cmd exit status $status)"
    ls -l
    iconv -f CP932 -t UTF-8 ../cmd.log | head -n 20
    return 1
  fi
}

rebuild '日本語ソ表.bin' 1 3 || fails=$((fails + 1))
rebuild 'my film+1 (final).bin' 2 4 || fails=$((fails + 1))
rebuild 'plain.bin' 0 1 || fails=$((fails + 1))
exit $((fails > 0))
