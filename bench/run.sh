#!/usr/bin/env bash
# Measures vokram-cli against the standard tools on the same files, in the
# same run: split against GNU split, join against cat, check against reading
# the pieces with cat. Prints medians, best-of and per-round ratios and peak
# RSS, then the CRC-16 paths and the Windows build under Wine.
#   bench/run.sh [sizes in MiB, comma-separated, default 1024] [rounds, default 5]
# Several sizes (bench/run.sh 512,5120 3) are measured one after the other in
# the same run, so their ratios can be compared.
# Not part of the test command: timings on shared machines are noisy.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
sizes=${1:-1024}
rounds=${2:-5}
# VOKRAM_CLI measures another build of the command line (an earlier commit,
# for a before-and-after comparison).
cli=${VOKRAM_CLI:-$root/build/native/cli/vokram-cli}
literal=$root/build/native/bench/literal_split
drop_cache=$root/build/native/bench/drop_cache
# shellcheck source=../scripts/packages.sh
source "$root/scripts/packages.sh"
install_missing g++ cmake ninja-build googletest libbenchmark-dev time
cmake --preset native >/dev/null && cmake --build --preset native -j 2 --target vokram-cli literal_split crc_bench drop_cache >/dev/null
work=${BENCH_DIR:-$root/build/bench}
# shellcheck source=source.sh
source "$root/bench/source.sh"
# seconds and peak KiB of one command: "SECONDS KIB"
measure() {
  local out=$work/.time
  /usr/bin/time -f '%e %M' -o "$out" "$@" >/dev/null 2>&1
  tail -n1 "$out"
}
median() { sort -n | awk '{a[NR]=$1} END {print (NR%2 ? a[(NR+1)/2] : (a[NR/2]+a[NR/2+1])/2)}'; }

declare -A times
record() { times[$1]+="$2 "; }

# Starts every command from the same memory: its inputs (the files named in
# the array `inputs`) in the page cache and the outputs of earlier commands
# written back (sync) and evicted. On a virtual machine that hands freed memory
# back to its host (free page reporting, as on this project's machine), the
# first touch of a page the host has taken back costs microseconds; with the
# outputs of earlier rounds piling up in the cache, the same command varied
# 2-10x from run to run. Memory freed here is still backed for about two
# seconds, so the command follows at once.
fresh_memory() {
  sync
  "$drop_cache" "$work" --keep "${inputs[@]}"
  cat "${inputs[@]}" >/dev/null
}

# One timed command: flushes earlier writes first so that none is charged
# to the next command, then records seconds (and peak RSS under NAME_rss).
timed() {
  local name=$1 t m
  shift
  fresh_memory
  read -r t m < <(measure "$@")
  record "$name" "$t"
  record "${name}_rss" "$m"
}
# MiB of a file in the page cache.
cached_mib() { fincore --bytes --noheadings --output RES "$1" | awk '{printf "%.0f", $1 / 1048576}'; }
# The two sides of a comparison, in alternating order from round to round.
pair() {
  if ((r % 2)); then "$1"; "$2"; else "$2"; "$1"; fi
}

# Every measurement of one source size.
bench_size() {
  local mib=$1 src
  src=$(bench_source "$work/$mib" "$mib")
  cat "$src" >/dev/null  # warm page cache

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
  times=()
  for r in $(seq 1 "$rounds"); do
    # Fresh folders per round, removed only after all timing: files created
    # right after thousands were deleted cost far more on ext4.
    round=$work/round-$r-$$
    rounds_done+=("$round")
    mkdir -p "$round"/{v,g,j,v2,g2,lit,t1,t2}
    inputs=("$src")

    vsplit() { timed vsplit "$cli" split "$src" "$round/v" --min 1024 --max 10240 --bat; }
    # The peers sync what they wrote, as vokram does before it reports success.
    gsplit() { timed gsplit bash -c "split -b $avg \"$src\" \"$round/g/x.\" && sync -f \"$round/g\""; }
    pair vsplit gsplit
    # The literal algorithm holds the whole source in memory, and 100-200 KiB
    # pieces of more than 4 GiB are more than 32,765: both only for small sources.
    if ((mib <= 2048)); then
      literal_split() { timed literal "$literal" "$src" "$round/lit" 1024 10240; }
      literal_split

      vsmall() { timed vsmall "$cli" split "$src" "$round/v2" --min 100 --max 200; }
      gsmall() { timed gsmall bash -c "split -b 150K \"$src\" \"$round/g2/x.\" && sync -f \"$round/g2\""; }
      pair vsmall gsmall
    fi

    inputs=("$round"/v/source.*)
    # Each also records what its joined file still holds of the page cache.
    vjoin() {
      timed vjoin "$cli" join "$round/v/source.vok" "$round/j"
      record vjoin_cache "$(cached_mib "$round/j/source.bin")"
    }
    catjoin() {
      timed cat bash -c "cat \"$round\"/v/source.[0-9]* > \"$round/j/cat.bin\" && sync -f \"$round/j\""
      record cat_cache "$(cached_mib "$round/j/cat.bin")"
    }
    pair vjoin catjoin
    cmp -s "$src" "$round/j/source.bin" || { echo "joined file differs"; exit 1; }

    vcheck() { timed vcheck "$cli" check "$round/v/source.vok"; }
    catnull() { timed catnull bash -c "cat \"$round\"/v/source.[0-9]* > /dev/null"; }
    pair vcheck catnull
    # The narrower folds, forced, as on processors without the widest.
    timed vcheck256 env VOKRAM_CRC_FOLD=256 "$cli" check "$round/v/source.vok"
    timed vcheck128 env VOKRAM_CRC_FOLD=128 "$cli" check "$round/v/source.vok"

    # 32,765 one-byte pieces against split -b 1 on the same bytes.
    inputs=("$work/tiny.bin")
    vtiny() { timed vtiny "$cli" split "$work/tiny.bin" "$round/t1" --min 0 --max 0; }
    gtiny() { timed gtiny bash -c "split -b 1 -a 5 \"$work/tiny.bin\" \"$round/t2/x.\" && sync -f \"$round/t2\""; }
    pair vtiny gtiny
    # Rounds of large sources would not fit the disk together.
    if ((mib > 2048)); then rm -rf "$round"/{v,g,j}; fi
  done
  rm -rf "${rounds_done[@]}"

  med() { tr ' ' '\n' <<<"${times[$1]}" | grep . | median; }
  best() { tr ' ' '\n' <<<"${times[$1]}" | grep . | sort -n | head -n1; }
  ratio() { awk -v a="$(med "$1")" -v b="$(med "$2")" 'BEGIN {printf "%.2f", (b > 0 ? a / b : 0)}'; }
  best_ratio() { awk -v a="$(best "$1")" -v b="$(best "$2")" 'BEGIN {printf "%.2f", (b > 0 ? a / b : 0)}'; }
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
  echo "| operation | vokram (s) | peer | peer (s) | ratio | best of each | per round | peak RSS (KiB) |"
  echo "|---|---|---|---|---|---|---|---|"
  echo "| split 1–10 MiB + .vok + .bat | $(med vsplit) | split -b (same count); sync -f | $(med gsplit) | $(ratio vsplit gsplit) | $(best_ratio vsplit gsplit) | $(per_round vsplit gsplit) | $(med vsplit_rss) |"
  if ((mib <= 2048)); then
    echo "| literal algorithm (baseline) | $(med vsplit) | literal split, same sizes | $(med literal) | $(ratio vsplit literal) | $(best_ratio vsplit literal) | $(per_round vsplit literal) | $(med literal_rss) |"
  fi
  echo "| split 32,765 one-byte pieces | $(med vtiny) | split -b 1; sync -f | $(med gtiny) | $(ratio vtiny gtiny) | $(best_ratio vtiny gtiny) | $(per_round vtiny gtiny) | |"
  if ((mib <= 2048)); then
    echo "| split 100–200 KiB + .vok | $(med vsmall) | split -b 150K; sync -f | $(med gsmall) | $(ratio vsmall gsmall) | $(best_ratio vsmall gsmall) | $(per_round vsmall gsmall) | |"
  fi
  echo "| join (size and CRC checked) | $(med vjoin) | cat pieces > out; sync -f | $(med cat) | $(ratio vjoin cat) | $(best_ratio vjoin cat) | $(per_round vjoin cat) | $(med vjoin_rss) |"
  echo "| page cache held by the joined file (MiB) | $(med vjoin_cache) | cat | $(med cat_cache) | | | | |"
  echo "| piece check | $(med vcheck) | cat pieces > /dev/null | $(med catnull) | $(ratio vcheck catnull) | $(best_ratio vcheck catnull) | $(per_round vcheck catnull) | $(med vcheck_rss) |"
  echo "| piece check, 256-bit fold forced | $(med vcheck256) | cat pieces > /dev/null | $(med catnull) | $(ratio vcheck256 catnull) | $(best_ratio vcheck256 catnull) | $(per_round vcheck256 catnull) | $(med vcheck256_rss) |"
  echo "| piece check, 128-bit fold forced | $(med vcheck128) | cat pieces > /dev/null | $(med catnull) | $(ratio vcheck128 catnull) | $(best_ratio vcheck128 catnull) | $(per_round vcheck128 catnull) | $(med vcheck128_rss) |"
}

for mib in ${sizes//,/ }; do bench_size "$mib"; done
first=${sizes%%,*}
src=$work/$first/source.bin
work=$work/$first

# The CRC-16 paths by buffer size (VOKRAM_BENCH_CRC=0 skips it).
if [ "${VOKRAM_BENCH_CRC:-1}" != 0 ]; then
  echo
  "$root/build/native/bench/crc_bench" 2>/dev/null | grep -E '^(Bytewise|Sliced|Folded|Best|Memcpy)'
fi

# The Windows build under Wine on the same files, where MinGW-w64 and Wine
# are installed (scripts/deps.sh installs both; VOKRAM_BENCH_WINE=0 skips it).
exe=$root/build/windows/cli/vokram-cli.exe
if [ "${VOKRAM_BENCH_WINE:-1}" != 0 ] && command -v x86_64-w64-mingw32-g++-posix >/dev/null &&
  command -v wine >/dev/null; then
  cmake --preset windows >/dev/null && cmake --build --preset windows -j 2 --target vokram-cli >/dev/null
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
      inputs=("$src")
      fresh_memory; read -r t m < <(measure "${run[@]}" split source.bin "${out#"$work"/}/p" --min 1024 --max 10240)
      wt[$side-split]+="$t "
      inputs=("$out"/p/source.*)
      fresh_memory; read -r t m < <(measure "${run[@]}" check "${out#"$work"/}/p/source.vok")
      wt[$side-check]+="$t "
      fresh_memory; read -r t m < <(measure "${run[@]}" join "${out#"$work"/}/p/source.vok" "${out#"$work"/}/j")
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
