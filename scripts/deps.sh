#!/usr/bin/env bash
# Installs what the build and the tests need on Debian 12, only when missing,
# and generates the Japanese locale that gives Wine its code page 932.
set -euo pipefail

packages=(g++ cmake ninja-build googletest clang clang-tidy libclang-rt-14-dev
  g++-mingw-w64-x86-64-posix wine wine64 fonts-wine
  xvfb xauth xdotool fonts-ipafont-gothic imagemagick locales zip unzip strace ntfs-3g par2)

# shellcheck source=packages.sh
source "$(dirname "$0")/packages.sh"
install_missing "${packages[@]}"

if ! locale -a 2>/dev/null | grep -qi '^ja_JP\.utf-\?8$'; then
  sed -i 's/^# *\(ja_JP\.UTF-8 UTF-8\)/\1/' /etc/locale.gen
  grep -q '^ja_JP\.UTF-8 UTF-8' /etc/locale.gen || echo 'ja_JP.UTF-8 UTF-8' >>/etc/locale.gen
  locale-gen >/dev/null
fi
