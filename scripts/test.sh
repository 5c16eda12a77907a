#!/usr/bin/env bash
# Builds everything and runs every test: natively, natively under the
# address and undefined-behaviour sanitizers, the fuzz targets for a fixed
# time, then the Windows build
# under Wine (engine tests, the batch file under Wine's cmd.exe, the window).
# Ends with "N passed, M failed" summed over all suites.
#
# The Windows tests (scripts/wine-env.sh) run against one wineserver kept up
# for the whole run: any server the prefix already has is replaced (one that a
# Wine program started quits when idle, and a test process caught by a server
# going away ends at once with no output), the run waits until a first program
# has run, the tests get /dev/null as stdin (on a terminal Wine would open a
# console per test process), and the run fails, saying so, if the server
# changed meanwhile. One Wine desktop is also kept for the whole run
# (tests/wine/DesktopHolder.cpp holds it with a window no test can see): left
# alone, Wine closes the desktop a second after its last program ends and
# starts a new one for nearly every test. A desktop closed during the run
# fails it too.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
"$root/scripts/deps.sh" || { echo "0 passed, 1 failed"; exit 1; }

passed=0
failed=0
jobs=${VOKRAM_JOBS:-2}

# Adds the counts of one ctest run (or one failure when it could not run).
count_ctest() {
  local log=$1 line total bad
  line=$(grep -E 'tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -n1)
  if [ -z "$line" ]; then
    failed=$((failed + 1))
    return
  fi
  bad=$(sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\1/' <<<"$line")
  total=$(sed -E 's/.* failed out of ([0-9]+).*/\1/' <<<"$line")
  passed=$((passed + total - bad))
  failed=$((failed + bad))
}

build() {
  local preset=$1
  echo "== build $preset"
  cmake --preset "$preset" -DVOKRAM_WERROR=ON >/dev/null &&
    cmake --build --preset "$preset" -j "$jobs"
}

logs=$root/build/logs
mkdir -p "$logs"

if build native; then
  echo "== test native"
  ctest --preset native -j "$jobs" --output-on-failure 2>&1 | tee "$logs/native.log"
  count_ctest "$logs/native.log"
  # The engine under clang-tidy's bug-finding checks (.clang-tidy).
  echo "== clang-tidy engine"
  # One file per process, as many processes as cores.
  if printf '%s\n' engine/*.cpp engine/fold/*.cpp engine/recovery/*.cpp app/*.cpp engine/platform/PlatformPosix.cpp \
       engine/platform/CodePage932Posix.cpp |
       xargs -P "$jobs" -n 1 clang-tidy -p build/native --quiet >"$logs/clang-tidy.log" 2>&1; then
    passed=$((passed + 1))
  else
    grep -E 'warning:|error:' "$logs/clang-tidy.log" | head -n 20
    failed=$((failed + 1))
  fi
else
  echo "native build failed"
  failed=$((failed + 1))
fi

# The same suites again with AddressSanitizer and UndefinedBehaviorSanitizer.
if build sanitize; then
  echo "== test sanitize"
  ctest --preset sanitize -j "$jobs" --output-on-failure 2>&1 | tee "$logs/sanitize.log"
  count_ctest "$logs/sanitize.log"
else
  echo "sanitize build failed"
  failed=$((failed + 1))
fi

# Fuzzing: each libFuzzer target for a fixed time over the seed corpus in
# fuzz/corpus; a crash, a leak or a broken invariant fails it.
# Each target fuzzes for VOKRAM_FUZZ_SECONDS of processor time. They run at
# once, each for its share of the wall time: the same work as one after the
# other, in less time than that on two cores. The recovery set reader has
# seeds of its own (fuzz/corpus/set).
fuzz_seconds=${VOKRAM_FUZZ_SECONDS:-30}
fuzz_targets=(descriptor check join set_reader)
if cmake --preset fuzz >/dev/null && cmake --build --preset fuzz -j "$jobs"; then
  wall=$((fuzz_seconds * ${#fuzz_targets[@]} / jobs))
  echo "== fuzz ${fuzz_targets[*]} (${fuzz_seconds}s of processor time each, ${wall}s together)"
  declare -A fuzz_pid
  for target in "${fuzz_targets[@]}"; do
    corpus=$root/build/fuzz/corpus-$target
    seeds=$root/fuzz/corpus
    [ "$target" = set_reader ] && seeds=$root/fuzz/corpus/set
    mkdir -p "$corpus"
    "$root/build/fuzz/fuzz/fuzz_$target" -max_total_time="$wall" -print_final_stats=1 \
      -artifact_prefix="$root/build/fuzz/" "$corpus" "$seeds" >"$logs/fuzz-$target.log" 2>&1 &
    fuzz_pid[$target]=$!
  done
  for target in "${fuzz_targets[@]}"; do
    if wait "${fuzz_pid[$target]}"; then
      echo "fuzz $target: $(grep -E 'number_of_executed_units' "$logs/fuzz-$target.log" | tail -n1)"
      passed=$((passed + 1))
    else
      tail -n 30 "$logs/fuzz-$target.log"
      failed=$((failed + 1))
    fi
  done
else
  echo "fuzz build failed"
  failed=$((failed + 1))
fi

if build windows; then
  echo "== test windows (under Wine)"
  # shellcheck source=wine-env.sh
  source "$root/scripts/wine-env.sh"
  wine_env_ctest "$root/build/windows/wineprefix" "$jobs" "$logs/windows.log"
  count_ctest "$logs/windows.log"
  [ "$VOKRAM_WINE_CHECK" = changed ] && failed=$((failed + 1))
else
  echo "windows build failed"
  failed=$((failed + 1))
fi

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
