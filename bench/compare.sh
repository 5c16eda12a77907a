#!/usr/bin/env bash
# Two builds of vokram-cli on the same files in the same run, in alternating
# order: split, join and check, each timed as bench/run.sh times (earlier
# outputs written back and evicted, inputs read in). Prints the medians, the
# ratio of the second over the first, and peak RSS.
#   bench/compare.sh FIRST_CLI SECOND_CLI [size in MiB, default 1024] [rounds, default 5]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
first=$(realpath "$1")
second=$(realpath "$2")
mib=${3:-1024}
rounds=${4:-5}
drop_cache=$root/build/native/bench/drop_cache
cmake --preset native >/dev/null && cmake --build --preset native -j 2 --target drop_cache >/dev/null
work=${BENCH_DIR:-$root/build/bench}
# shellcheck source=source.sh
source "$root/bench/source.sh"
src=$(bench_source "$work" "$mib")

declare -A times rss
timed() {  # name, inputs (a glob), command...
  local name=$1 inputs=$2 t m
  shift 2
  sync
  # shellcheck disable=SC2086
  "$drop_cache" "$work" --keep $inputs
  # shellcheck disable=SC2086
  cat $inputs >/dev/null
  # Elapsed time from the shell's clock in microseconds (time's %e has only
  # hundredths); peak RSS from time.
  local before=$EPOCHREALTIME
  /usr/bin/time -f '%M' -o "$work/.time" "$@" >/dev/null 2>&1
  t=$(awk -v a="$before" -v b="$EPOCHREALTIME" 'BEGIN {printf "%.3f", b - a}')
  read -r m <"$work/.time"
  times[$name]+="$t "
  rss[$name]=$m
}
median() { tr ' ' '\n' <<<"$1" | grep . | sort -n | awk '{a[NR]=$1} END {print (NR%2 ? a[(NR+1)/2] : (a[NR/2]+a[NR/2+1])/2)}'; }

dirs=()
for r in $(seq 1 "$rounds"); do
  for side in a b; do
    d=$work/cmp-$r-$side-$$
    dirs+=("$d")
    mkdir -p "$d/parts" "$d/out"
  done
  order="a b"
  ((r % 2)) || order="b a"
  for side in $order; do
    cli=$first; [ "$side" = b ] && cli=$second
    timed "split-$side" "$src" "$cli" split "$src" "$work/cmp-$r-$side-$$/parts" --min 1024 --max 10240 --bat
  done
  for side in $order; do
    cli=$first; [ "$side" = b ] && cli=$second
    p=$work/cmp-$r-$side-$$/parts
    timed "join-$side" "$p/source.*" "$cli" join "$p/source.vok" "$work/cmp-$r-$side-$$/out"
    cmp -s "$src" "$work/cmp-$r-$side-$$/out/source.bin" || { echo "joined file differs"; exit 1; }
  done
  for side in $order; do
    cli=$first; [ "$side" = b ] && cli=$second
    p=$work/cmp-$r-$side-$$/parts
    timed "check-$side" "$p/source.*" "$cli" check "$p/source.vok"
  done
done
rm -rf "${dirs[@]}"

echo "Source: ${mib} MiB, ${rounds} rounds, $(nproc) cores, $(df -T "$work" | awk 'NR==2 {print $2}')"
echo
echo "| operation | first (s) | second (s) | second / first | rounds, first | rounds, second | peak RSS first / second (KiB) |"
echo "|---|---|---|---|---|---|---|"
for op in split join check; do
  a=$(median "${times[$op-a]}")
  b=$(median "${times[$op-b]}")
  echo "| $op | $a | $b | $(awk -v a="$a" -v b="$b" 'BEGIN {printf "%.3f", (a > 0 ? b / a : 0)}') | ${times[$op-a]}| ${times[$op-b]}| ${rss[$op-a]} / ${rss[$op-b]} |"
done
