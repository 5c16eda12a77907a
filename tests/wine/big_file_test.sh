#!/usr/bin/env bash
# A source past 2 GiB through the Windows command line under Wine: split,
# check (every piece sound), join byte for byte, and the batch file rebuilds it
# with Wine's cmd.exe. The source is sparse, with random blocks across the
# 2 GiB edge and at its end; about 6 GiB pass through the disk.
cli=$1
# shellcheck source=../support/script.sh
source "$(dirname "$0")/../support/script.sh"
cd "$work" || exit 1

# A second argument sets another size (by hand: past 4 GiB, as the batch
# file's COPY /B must also go).
size=${2:-$(((1 << 31) + 5000000))}
truncate -s "$size" big.bin
head -c 1000000 /dev/urandom | dd of=big.bin bs=1 seek=$(((1 << 31) - 500000)) conv=notrunc status=none
head -c 100000 /dev/urandom | dd of=big.bin bs=1 seek=$((size - 100000)) conv=notrunc status=none
if ((size > (1 << 32) + 500000)); then
  head -c 1000000 /dev/urandom | dd of=big.bin bs=1 seek=$(((1 << 32) - 500000)) conv=notrunc status=none
fi
mkdir parts joined

# Pieces of 1 GiB: whole ones and the rest.
wine "$cli" split big.bin parts --min 1048576 --max 1048576 --bat --quiet </dev/null >split.log 2>&1 ||
  fail "split: $(tr -d '\r' <split.log)"
wine "$cli" check 'parts\big.vok' </dev/null >check.log 2>&1 || fail "check: $(tr -d '\r' <check.log)"
# Redirected, the console's code page: Shift-JIS.
pieces=$(((size + (1 << 30)) / ((1 << 30) + 1)))
[ "$(iconv -f CP932 -t UTF-8 <check.log | grep -c '○')" -eq "$pieces" ] ||
  fail "check did not find $pieces sound pieces: $(iconv -f CP932 -t UTF-8 <check.log | tr -d '\r')"
wine "$cli" join 'parts\big.vok' joined --quiet </dev/null >join.log 2>&1 || fail "join: $(tr -d '\r' <join.log)"
cmp -s big.bin joined/big.bin || fail "the joined file differs from the source"
rm -f joined/big.bin

cd parts || exit 1
wine cmd /c big.bat </dev/null >../cmd.log 2>&1
cmp -s ../big.bin big.bin || fail "big.bat did not rebuild the source ($(tr -d '\r' <../cmd.log | tail -n 3))"
cd ..
[ $fails -eq 0 ] && echo "ok: a source of $size bytes split, checked, joined and rebuilt by COPY /B"
exit $((fails > 0))
