#!/usr/bin/env bash
# Runs the Windows tests under Wine RUNS times in a row, each exactly as the
# test command runs them, while LOAD busy loops keep every core occupied; a
# start-up that is not dependable shows here long before it shows in CI.
# Prints one line per run and ends with the totals; fails if any run failed.
#   scripts/wine-soak.sh [RUNS [LOAD]]      (default 10 runs, 2 busy loops)
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
runs=${1:-10}
load=${2:-2}
jobs=${VOKRAM_JOBS:-2}
"$root/scripts/deps.sh" || exit 1
cmake --preset windows -DVOKRAM_WERROR=ON >/dev/null &&
  cmake --build --preset windows -j "$jobs" >/dev/null || { echo "windows build failed"; exit 1; }

# shellcheck source=wine-env.sh
source "$root/scripts/wine-env.sh"
busy=()
stop_load() {
  [ ${#busy[@]} -gt 0 ] && kill "${busy[@]}" 2>/dev/null
  wait "${busy[@]}" 2>/dev/null
  busy=()
}
trap stop_load EXIT
for _ in $(seq 1 "$load"); do
  bash -c 'while :; do :; done' &
  busy+=($!)
done

logs=$root/build/logs/soak
mkdir -p "$logs"
bad_runs=0
for i in $(seq 1 "$runs"); do
  start=$(date +%s)
  wine_env_ctest "$root/build/windows/wineprefix" "$jobs" "$logs/run$i.log" >/dev/null
  trap stop_load EXIT
  seconds=$(($(date +%s) - start))
  line=$(grep -E 'tests passed, [0-9]+ tests? failed out of' "$logs/run$i.log" | tail -n1)
  echo "run $i: ${line:-no result} (Wine: $VOKRAM_WINE_CHECK) in $seconds s"
  if [ -z "$line" ] || ! grep -q ' 0 tests failed' <<<"$line" || [ "$VOKRAM_WINE_CHECK" != ok ]; then
    bad_runs=$((bad_runs + 1))
    grep -E '^\s*[0-9]+ - .*\((Failed|Timeout|SEGFAULT|Not Run|Exception)' "$logs/run$i.log"
  fi
done
stop_load
echo "$((runs - bad_runs)) of $runs runs green, with $load busy loops beside them"
[ "$bad_runs" -eq 0 ]
