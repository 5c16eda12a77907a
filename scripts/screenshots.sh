#!/usr/bin/env bash
# Pictures of both modes, the version window and the pickers, for the README
# (docs/screenshots): BMP files from a driver under Wine, then PNG files, each
# checked to show a painted window.
#   scripts/screenshots.sh   as root on Debian 12; leaves build/windows/screenshots/*.png
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
"$root/scripts/deps.sh"
cmake --preset windows >/dev/null
cmake --build --preset windows -j 2 --target ui_screenshots dialog_picker_test desktop_holder
folder=$root/build/windows/screenshots
# shellcheck source=wine-env.sh
source "$root/scripts/wine-env.sh"
wine_env_start "$root/build/windows/wineprefix-shots"
trap wine_env_stop EXIT
wine_env_hold_desktop build/windows/tests/desktop_holder.exe
wine build/windows/tests/ui/ui_screenshots.exe "$folder"
# The pickers' pictures come from their own test, which opens them.
wine build/windows/tests/dialogs/dialog_picker_test.exe >/dev/null
bash tests/ui/screenshots_png.sh "$folder"
