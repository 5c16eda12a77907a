#!/usr/bin/env bash
# Measures vokram-cli against the standard tools on the same files, in the
# same run: split against GNU split, join against cat, check against reading
# the pieces with cat. Prints medians, per-round ratios and peak RSS.
#   bench/run.sh [size in MiB, default 1024] [rounds, default 3]
# Not part of the test command: timings on shared machines are noisy.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
mib=${1:-1024}
rounds=${2:-3}
cli=$root/build/native/cli/vokram-cli
literal=$root/build/native/bench/literal_split
cmake --preset native >/dev/null && cmake --build --preset native -j 2 --target vokram-cli literal_split >/dev/null
work=${BENCH_DIR:-$root/build/bench}
mkdir -p "$work"
src=$work/source.bin
if [ ! -f "$src" ] || [ "$(stat -c %s "$src")" -ne $((mib * 1048576)) ]; then
  rm -f "$src"
  head -c $((mib * 1048576)) /dev/urandom >"$src"
fi
cat "$src" >/dev/null  # warm page cache

# seconds and peak KiB of one command: "SECONDS KIB"
measure() {
  local out=$work/.time
  /usr/bin/time -f '%e %M' -o "$out" "$@" >/dev/null 2>&1
  tail -n1 "$out"
}
median() { sort -n | awk '{a[NR]=$1} END {print (NR%2 ? a[(NR+1)/2] : (a[NR/2]+a[NR/2+1])/2)}'; }

declare -A times
record() { times[$1]+="$2 "; }

# One timed command: flushes earlier writes first so that none is charged
# to the next command, then records seconds (and peak RSS under NAME_rss).
timed() {
  local name=$1 t m
  shift
  sync
  read -r t m < <(measure "$@")
  record "$name" "$t"
  record "${name}_rss" "$m"
}
# The two sides of a comparison, in alternating order from round to round.
pair() {
  if ((r % 2)); then "$1"; "$2"; else "$2"; "$1"; fi
}

# The unseeded generator draws the same sizes every run: learn the piece
# count once, so GNU split can cut the same number of pieces.
probe=$work/probe-$$
mkdir -p "$probe"
"$cli" split "$src" "$probe" --min 1024 --max 10240 >/dev/null
pieces=$(ls "$probe" | grep -c '\.[0-9][0-9][0-9]*$')
avg=$(((mib * 1048576 + pieces - 1) / pieces))
rm -rf "$probe"
head -c 32765 "$src" >"$work/tiny.bin"

rounds_done=()
for r in $(seq 1 "$rounds"); do
  # Fresh folders per round, removed only after all timing: files created
  # right after thousands were deleted cost far more on ext4.
  round=$work/round-$r-$$
  rounds_done+=("$round")
  mkdir -p "$round"/{v,g,j,v2,g2,lit,t1,t2}

  vsplit() { timed vsplit "$cli" split "$src" "$round/v" --min 1024 --max 10240 --bat; }
  gsplit() { timed gsplit split -b "$avg" "$src" "$round/g/x."; }
  pair vsplit gsplit
  literal_split() { timed literal "$literal" "$src" "$round/lit" 1024 10240; }
  literal_split

  vsmall() { timed vsmall "$cli" split "$src" "$round/v2" --min 100 --max 200; }
  gsmall() { timed gsmall split -b 150K "$src" "$round/g2/x."; }
  pair vsmall gsmall

  vjoin() { timed vjoin "$cli" join "$round/v/source.vok" "$round/j"; }
  catjoin() { timed cat bash -c "cat \"$round\"/v/source.[0-9]* > \"$round/j/cat.bin\""; }
  pair vjoin catjoin
  cmp -s "$src" "$round/j/source.bin" || { echo "joined file differs"; exit 1; }

  vcheck() { timed vcheck "$cli" check "$round/v/source.vok"; }
  catnull() { timed catnull bash -c "cat \"$round\"/v/source.[0-9]* > /dev/null"; }
  pair vcheck catnull

  # 32,765 one-byte pieces against split -b 1 on the same bytes.
  vtiny() { timed vtiny "$cli" split "$work/tiny.bin" "$round/t1" --min 0 --max 0; }
  gtiny() { timed gtiny split -b 1 -a 5 "$work/tiny.bin" "$round/t2/x."; }
  pair vtiny gtiny
done
rm -rf "${rounds_done[@]}"

med() { tr ' ' '\n' <<<"${times[$1]}" | grep . | median; }
ratio() { awk -v a="$(med "$1")" -v b="$(med "$2")" 'BEGIN {printf "%.2f", (b > 0 ? a / b : 0)}'; }
per_round() {
  local -a a b
  read -r -a a <<<"${times[$1]}"
  read -r -a b <<<"${times[$2]}"
  local i out=""
  for i in "${!a[@]}"; do out+=$(awk -v x="${a[$i]}" -v y="${b[$i]}" 'BEGIN {printf "%.2f ", (y > 0 ? x / y : 0)}'); done
  echo "$out"
}

echo
echo "Source: ${mib} MiB, ${rounds} rounds, $(nproc) cores, $(uname -r), $(df -T "$work" | awk 'NR==2 {print $2}')"
echo
echo "| operation | vokram (s) | peer | peer (s) | ratio | per round | peak RSS (KiB) |"
echo "|---|---|---|---|---|---|---|"
echo "| split 1–10 MiB + .vok + .bat | $(med vsplit) | split -b (same count) | $(med gsplit) | $(ratio vsplit gsplit) | $(per_round vsplit gsplit) | $(med vsplit_rss) |"
echo "| literal algorithm (baseline) | $(med vsplit) | literal split, same sizes | $(med literal) | $(ratio vsplit literal) | $(per_round vsplit literal) | $(med literal_rss) |"
echo "| split 32,765 one-byte pieces | $(med vtiny) | split -b 1 | $(med gtiny) | $(ratio vtiny gtiny) | $(per_round vtiny gtiny) | |"
echo "| split 100–200 KiB + .vok | $(med vsmall) | split -b 150K | $(med gsmall) | $(ratio vsmall gsmall) | $(per_round vsmall gsmall) | |"
echo "| join (size and CRC checked) | $(med vjoin) | cat pieces > out | $(med cat) | $(ratio vjoin cat) | $(per_round vjoin cat) | $(med vjoin_rss) |"
echo "| piece check | $(med vcheck) | cat pieces > /dev/null | $(med catnull) | $(ratio vcheck catnull) | $(per_round vcheck catnull) | $(med vcheck_rss) |"

# The Windows build under Wine on the same files, when it has been built
# (VOKRAM_BENCH_WINE=0 skips it).
exe=$root/build/windows/cli/vokram-cli.exe
if [ "${VOKRAM_BENCH_WINE:-1}" != 0 ] && [ -f "$exe" ] && command -v wine >/dev/null; then
  # shellcheck source=../scripts/wine-env.sh
  source "$root/scripts/wine-env.sh"
  wine_env_start "$root/build/windows/wineprefix-bench" >/dev/null 2>&1
  trap wine_env_stop EXIT
  declare -A wt
  for r in $(seq 1 "$rounds"); do
    for side in native wine; do
      out=$work/wine-$side-$r-$$
      mkdir -p "$out/p" "$out/j"
      if [ "$side" = native ]; then run=("$cli"); else run=(wine "$exe"); fi
      # Wine maps the Unix root to Z:, so relative names avoid any translation.
      pushd "$work" >/dev/null
      sync; read -r t m < <(measure "${run[@]}" split source.bin "${out#"$work"/}/p" --min 1024 --max 10240)
      wt[$side-split]+="$t "
      sync; read -r t m < <(measure "${run[@]}" check "${out#"$work"/}/p/source.vok")
      wt[$side-check]+="$t "
      sync; read -r t m < <(measure "${run[@]}" join "${out#"$work"/}/p/source.vok" "${out#"$work"/}/j")
      wt[$side-join]+="$t "
      popd >/dev/null
      rm -rf "$out"
    done
  done
  wmed() { tr ' ' '\n' <<<"${wt[$1]}" | grep . | median; }
  echo
  echo "| operation | native (s) | Windows build under Wine (s) | ratio |"
  echo "|---|---|---|---|"
  for op in split check join; do
    echo "| $op | $(wmed native-$op) | $(wmed wine-$op) | $(awk -v a="$(wmed wine-$op)" -v b="$(wmed native-$op)" 'BEGIN {printf "%.2f", (b > 0 ? a / b : 0)}') |"
  done
fi
