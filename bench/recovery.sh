#!/usr/bin/env bash
# A split with recovery files against one without and against par2 create
# with the same slice size and count, then a join with the largest piece lost
# against one with none lost and against par2 repair and a join, all in one
# run: a source of MIB mebibytes cut into 1-10 MiB pieces by vokram-cli, a
# set for any one lost piece. Then the
# largest piece is lost and rebuilt from that set, against par2 repair.
#   bench/recovery.sh [MiB, default 512] [rounds, default 3]
# Then the kernels and checksums by themselves (recovery_bench). Not part of
# the test command: timings on shared machines are noisy.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
mib=${1:-512}
rounds=${2:-3}
# shellcheck source=../scripts/packages.sh
source "$root/scripts/packages.sh"
install_missing g++ cmake ninja-build googletest libbenchmark-dev time par2
cmake --preset native >/dev/null &&
  cmake --build --preset native -j 1 --target vokram-cli recovery_write recovery_repair recovery_bench >/dev/null
work=${BENCH_DIR:-$root/build/bench}
# shellcheck source=source.sh
source "$root/bench/source.sh"
src=$(bench_source "$work/$mib" "$mib")
out=$work/recovery-$$
mkdir -p "$out/plain" "$out/rec"
trap 'rm -rf "$out"' EXIT
cli=$root/build/native/cli/vokram-cli
cat "$src" >/dev/null

# A last row with the median of a table's two ratio columns (fields a and
# a + 1 of its "| ... |" rows): one slow round on a shared machine says
# little.
median() {
  local m1 m2
  m1=$(awk -F'|' -v f="$2" '{gsub(/ /, "", $f); print $f}' "$1" | sort -g | awk '{v[NR] = $1} END {print v[int((NR + 1) / 2)]}')
  m2=$(awk -F'|' -v f="$(($2 + 1))" '{gsub(/ /, "", $f); print $f}' "$1" | sort -g | awk '{v[NR] = $1} END {print v[int((NR + 1) / 2)]}')
  printf '| median |%s %s | %s |\n' "$(printf ' |%.0s' $(seq 1 $(($2 - 3))))" "$m1" "$m2"
}

measure() { /usr/bin/time -f '%e %M' -o "$out/.time" "$@" >"$out/.out" 2>&1; cat "$out/.time"; }
echo "Source: $mib MiB cut into 1-10 MiB pieces, $(nproc) cores, kernel $(uname -r)"
echo "| round | split (s) | split --recovery 1 (s) | RSS (KiB) | par2 create (s) | RSS (KiB) | with / without | with / par2 |"
echo "|---|---|---|---|---|---|---|---|"
# Every run writes into an empty folder, as a first split or join does (one
# that replaces an earlier set also spends the time of deleting it).
fresh() { rm -rf "$1" && mkdir -p "$1" && sync; }
for r in $(seq 1 "$rounds"); do
  fresh "$out/plain"
  read -r plain _ < <(measure "$cli" split "$src" "$out/plain" --min 1024 --max 10240)
  fresh "$out/rec"
  read -r with with_rss < <(measure "$cli" split "$src" "$out/rec" --min 1024 --max 10240 --recovery 1)
  # The same slice size and count as the set just written.
  (cd "$out/rec" && "$root/build/native/bench/recovery_write" . probe 1 $((10 * 1048576)) source.[0-9]* >"$out/.plan")
  read -r _ slice _ _ _ count _ <"$out/.plan"
  rm -f "$out/rec"/probe*.par2 "$out/rec"/ref*.par2
  sync
  read -r theirs theirs_rss < <(cd "$out/rec" && measure par2 create -q -s"$slice" -c"$count" -n1 ref.par2 -- source.[0-9]*)
  awk -v p="$plain" -v w="$with" -v t="$theirs" -v r="$r" -v a="$with_rss" -v b="$theirs_rss" \
    'BEGIN {printf "| %d | %.2f | %.2f | %d | %.2f | %d | %.2f | %.3f |\n", r, p, w, a, t, b, w / p, w / t}' |
    tee -a "$out/.split"
done
median "$out/.split" 8
echo "(slice $slice bytes, $count recovery slices)"
(cd "$out/rec" && par2 verify -q source.par2 >/dev/null) && echo "par2 verify: ok"

cd "$out/rec"
rm -f ref*.par2
names=(source.[0-9]*)
lost=$(ls -S "${names[@]}" | head -n1)
mkdir -p "$out/joined"
echo
echo "Joining with the largest piece, $lost ($(stat -c %s "$lost") bytes), lost:"
echo "| round | join (s) | join, a piece lost (s) | RSS (KiB) | par2 repair + join (s) | lost / whole | lost / par2 |"
echo "|---|---|---|---|---|---|---|"
for r in $(seq 1 "$rounds"); do
  fresh "$out/joined"
  read -r whole _ < <(measure "$cli" join source.vok "$out/joined")
  mv "$lost" "$out/lost"
  fresh "$out/joined"
  read -r without lost_rss < <(measure "$cli" join source.vok "$out/joined")
  cmp -s "$out/joined/source.bin" "$src" || echo "the join with $lost lost differs"
  sync
  read -r repair _ < <(measure par2 repair -q source.par2)
  fresh "$out/joined"
  read -r after _ < <(measure "$cli" join source.vok "$out/joined")
  cmp -s "$lost" "$out/lost" || echo "par2 repair did not restore $lost"
  rm -f "$out/lost"
  awk -v j="$whole" -v l="$without" -v p="$repair" -v a="$after" -v r="$r" -v m="$lost_rss" \
    'BEGIN {printf "| %d | %.2f | %.2f | %d | %.2f | %.2f | %.3f |\n", r, j, l, m, p + a, l / j, l / (p + a)}' |
    tee -a "$out/.join"
done
median "$out/.join" 7

echo
"$root/build/native/bench/recovery_bench" 2>/dev/null | grep -E '^(MultiplyAdd|Md5|Crc32|FileHashing)'
