#!/usr/bin/env bash
# Turns the window pictures into PNG files and checks that each shows a
# painted window (more than a few colours), not a blank or black area.
set -euo pipefail
folder=$1
for name in split join version browse-file browse-folder; do
  convert "$folder/$name.bmp" "$folder/$name.png"
  colours=$(identify -format '%k' "$folder/$name.png")
  size=$(identify -format '%wx%h' "$folder/$name.png")
  echo "$name.png: $size, $colours colours"
  if [ "$colours" -lt 8 ]; then
    echo "$name.png looks empty" >&2
    exit 1
  fi
done
