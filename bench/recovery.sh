#!/usr/bin/env bash
# Writing recovery data for a split's pieces against par2 create with the
# same slice size and count, in the same run: a source of MIB mebibytes cut
# into 1-10 MiB pieces by vokram-cli, a set for any one lost piece. Then the
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

measure() { /usr/bin/time -f '%e %M' -o "$out/.time" "$@" >"$out/.out" 2>&1; cat "$out/.time"; }
echo "Source: $mib MiB cut into 1-10 MiB pieces, $(nproc) cores, kernel $(uname -r)"
echo "| round | split (s) | split --recovery 1 (s) | RSS (KiB) | par2 create (s) | RSS (KiB) | with / without | with / par2 |"
echo "|---|---|---|---|---|---|---|---|"
for r in $(seq 1 "$rounds"); do
  sync
  read -r plain _ < <(measure "$cli" split "$src" "$out/plain" --min 1024 --max 10240 --force)
  sync
  read -r with with_rss < <(measure "$cli" split "$src" "$out/rec" --min 1024 --max 10240 --recovery 1 --force)
  # The same slice size and count as the set just written.
  (cd "$out/rec" && "$root/build/native/bench/recovery_write" . probe 1 $((10 * 1048576)) source.[0-9]* >"$out/.plan")
  read -r _ slice _ _ _ count _ <"$out/.plan"
  rm -f "$out/rec"/probe*.par2 "$out/rec"/ref*.par2
  sync
  read -r theirs theirs_rss < <(cd "$out/rec" && measure par2 create -q -s"$slice" -c"$count" -n1 ref.par2 -- source.[0-9]*)
  awk -v p="$plain" -v w="$with" -v t="$theirs" -v r="$r" -v a="$with_rss" -v b="$theirs_rss" \
    'BEGIN {printf "| %d | %.2f | %.2f | %d | %.2f | %d | %.2f | %.3f |\n", r, p, w, a, t, b, w / p, w / t}'
done
echo "(slice $slice bytes, $count recovery slices)"
(cd "$out/rec" && par2 verify -q source.par2 >/dev/null) && echo "par2 verify: ok"

rm -f ref*.par2
lost=$(ls -S "${names[@]}" | head -n1)
mkdir -p rebuilt
echo
echo "Rebuilding the largest piece, $lost ($(stat -c %s "$lost") bytes), lost:"
echo "| round | read set (s) | verify (s) | rebuild (s) | total (s) | RSS (KiB) | par2 repair (s) | RSS (KiB) | total / par2 |"
echo "|---|---|---|---|---|---|---|---|---|"
for r in $(seq 1 "$rounds"); do
  mv "$lost" "$work/lost-$$"
  rm -f rebuilt/*
  sync
  read -r _ ours_rss < <(measure "$root/build/native/bench/recovery_repair" . rebuilt "${names[@]}")
  read -r _ _ _ _ _ _ _ missing _ _ _ setread _ verify _ rebuild status < "$pieces/.out"
  cmp -s "rebuilt/$lost" "$work/lost-$$" || status="DIFFERS"
  sync
  read -r theirs theirs_rss < <(measure par2 repair -q set.par2)
  cmp -s "$lost" "$work/lost-$$" || echo "par2 repair did not restore $lost"
  rm -f "$work/lost-$$"
  awk -v a="$setread" -v v="$verify" -v b="$rebuild" -v t="$theirs" -v r="$r" -v x="$ours_rss" -v y="$theirs_rss" \
    'BEGIN {printf "| %d | %.2f | %.2f | %.2f | %.2f | %d | %.2f | %d | %.3f |\n", r, a, v, b, a + v + b, x, t, y, (a + v + b) / t}'
done
echo "($missing missing slices rebuilt: $status)"

echo
"$root/build/native/bench/recovery_bench" 2>/dev/null | grep -E '^(MultiplyAdd|Md5|Crc32|FileHashing)'
