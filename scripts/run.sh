#!/usr/bin/env bash
# Builds Vokram and starts it:
#  1. the command-line front end on a sample file (split, check, join, compare);
#  2. Vokram.exe under Wine with the Japanese locale, on $DISPLAY when there is
#     one, otherwise on a private Xvfb with a screenshot in build/screenshots/.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
"$root/scripts/deps.sh"

cmake --preset native >/dev/null
cmake --build --preset native -j 2
cmake --preset windows >/dev/null
cmake --build --preset windows -j 2

echo "== vokram-cli on a sample"
cli=$root/build/native/cli/vokram-cli
demo=$root/build/demo
mkdir -p "$demo/pieces" "$demo/restored"
head -c 3000000 /dev/urandom >"$demo/サンプル.bin"
# A second run meets the first one's files: --force says yes to replacing
# them, as the window's question would.
"$cli" split "$demo/サンプル.bin" "$demo/pieces" --min 200 --max 900 --bat --force
"$cli" check "$demo/pieces/サンプル.vok"
"$cli" join "$demo/pieces/サンプル.vok" "$demo/restored" --force
cmp "$demo/サンプル.bin" "$demo/restored/サンプル.bin" && echo "The joined file equals the source."

exe=$root/build/windows/ui/Vokram.exe
[ -f "$exe" ] || { echo "Vokram.exe was not built"; exit 1; }
echo "== Vokram.exe under Wine"
# shellcheck source=wine-env.sh
source "$root/scripts/wine-env.sh"
if [ -n "${DISPLAY:-}" ]; then
  export VOKRAM_KEEP_DISPLAY=1
  wine_env_start "$root/build/windows/wineprefix-run"
  trap wine_env_stop EXIT
  wine "$exe"
else
  wine_env_start "$root/build/windows/wineprefix-run"
  trap wine_env_stop EXIT
  wine "$exe" &
  program=$!
  sleep 4
  mkdir -p "$root/build/screenshots"
  import -window root "$root/build/screenshots/run.png"
  echo "No display: Vokram.exe runs on Xvfb $DISPLAY; screenshot in build/screenshots/run.png"
  if [ -t 0 ]; then
    echo "Close it with its 終了 button (e.g. DISPLAY=$DISPLAY xdotool) or press Ctrl-C."
    wait "$program" || true
  else
    kill "$program" 2>/dev/null || true
  fi
fi
