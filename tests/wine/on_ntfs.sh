#!/usr/bin/env bash
# Runs a command beside an NTFS image mounted with ntfs-3g, whose named streams
# Wine passes on: VOKRAM_NTFS is the mount, VOKRAM_TEST_STREAMS_DIR its name
# under Wine, where the engine tests then make their folders.
#   on_ntfs.sh COMMAND [ARG...]
# shellcheck source=../support/script.sh
source "$(dirname "$0")/../support/script.sh"
mnt=$work/ntfs
trap 'if mountpoint -q "$mnt"; then umount "$mnt" || umount -l "$mnt"; fi; rm -rf "$work"' EXIT

command -v ntfs-3g >/dev/null && command -v mkntfs >/dev/null ||
  { echo "FAILED: ntfs-3g is not installed (scripts/deps.sh installs it)" && exit 1; }
[ -c /dev/fuse ] && [ -r /dev/fuse ] && [ -w /dev/fuse ] ||
  { echo "SKIPPED: no usable /dev/fuse, so no NTFS volume can be mounted here" && exit 0; }
truncate -s 64M "$work/ntfs.img" && mkntfs -F -q -f "$work/ntfs.img" >"$work/log" 2>&1 ||
  { echo "FAILED: mkntfs: $(tail -n1 "$work/log")" && exit 1; }
mkdir "$mnt" && ntfs-3g -o streams_interface=windows "$work/ntfs.img" "$mnt" 2>"$work/log" ||
  { echo "SKIPPED: cannot mount an NTFS image here: $(head -n1 "$work/log")" && exit 0; }

export VOKRAM_NTFS=$mnt VOKRAM_TEST_STREAMS_DIR="Z:${mnt//\//\\}"
"$@"
