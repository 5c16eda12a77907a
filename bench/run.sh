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

for r in $(seq 1 "$rounds"); do
  # Fresh folders per round: files created right after thousands were deleted
  # cost far more on ext4, which would favour whichever ran first.
  round=$work/round-$r-$$
  mkdir -p "$round"/{v,g,j,v2,g2}

  read -r t m < <(measure "$cli" split "$src" "$round/v" --min 1024 --max 10240 --bat)
  record vsplit "$t"; record vsplit_rss "$m"
  pieces=$(ls "$round/v" | grep -c '\.[0-9][0-9][0-9]*$')
  avg=$(( (mib * 1048576 + pieces - 1) / pieces ))
  read -r t m < <(measure split -b "$avg" "$src" "$round/g/x.")
  record gsplit "$t"

  mkdir -p "$round/lit"
  read -r t m < <(measure "$literal" "$src" "$round/lit" 1024 10240)
  record literal "$t"; record literal_rss "$m"
  rm -rf "$round/lit"

  read -r t m < <(measure "$cli" split "$src" "$round/v2" --min 100 --max 200)
  record vsmall "$t"
  read -r t m < <(measure split -b 150K "$src" "$round/g2/x.")
  record gsmall "$t"

  read -r t m < <(measure "$cli" join "$round/v/source.vok" "$round/j")
  record vjoin "$t"; record vjoin_rss "$m"
  cmp -s "$src" "$round/j/source.bin" || { echo "joined file differs"; exit 1; }
  read -r t m < <(measure bash -c "cat \"$round\"/v/source.[0-9]* > \"$round/j/cat.bin\"")
  record cat "$t"

  read -r t m < <(measure "$cli" check "$round/v/source.vok")
  record vcheck "$t"; record vcheck_rss "$m"
  read -r t m < <(measure bash -c "cat \"$round\"/v/source.[0-9]* > /dev/null")
  record catnull "$t"

  # 32,765 one-byte pieces against split -b 1 on the same bytes.
  head -c 32765 "$src" >"$round/tiny.bin"
  mkdir -p "$round/t1" "$round/t2"
  read -r t m < <(measure "$cli" split "$round/tiny.bin" "$round/t1" --min 0 --max 0)
  record vtiny "$t"
  read -r t m < <(measure split -b 1 -a 5 "$round/tiny.bin" "$round/t2/x.")
  record gtiny "$t"

  rm -rf "${round:?}"
done

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
