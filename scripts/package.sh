#!/usr/bin/env bash
# Builds the release: dist/Vokram-<version>-win64.zip (Vokram.exe,
# vokram-cli.exe, the guide Vokram.txt, the licence LICENSE.txt and
# THIRD-PARTY-NOTICES.txt for the compiler runtime linked into the programs)
# and dist/SHA256SUMS.
# Two checkouts of one commit give the same bytes wherever they lie: paths are
# mapped out of the objects, the linker writes no time stamp, and every date
# in the zip is the commit's. Builds in build/package, always from scratch.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

# shellcheck source=packages.sh
source "$root/scripts/packages.sh"
install_missing git cmake ninja-build g++-mingw-w64-x86-64-posix zip

# engine/Version.h is the one place that holds the numbers.
number() {
  sed -n "s/^#define VOKRAM_VERSION_$1 \([0-9][0-9]*\)\s*$/\1/p" engine/Version.h
}
version=$(number MAJOR).$(number MINOR).$(number REVISION)
[[ $version =~ ^[0-9]+\.[0-9]+\.[0-9]+$ ]] || { echo "no version in engine/Version.h" >&2; exit 1; }

epoch=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct)}
export SOURCE_DATE_EPOCH=$epoch

build=$root/build/package
rm -rf "$build"
# The last matching map wins, so the build folder (inside the tree) goes last.
prefix_maps="-ffile-prefix-map=$root=. -ffile-prefix-map=$build=build"
cmake -S "$root" -B "$build" -G Ninja --toolchain "$root/cmake/mingw-w64-x86_64.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DVOKRAM_BUILD_TESTS=OFF \
  -DCMAKE_CXX_FLAGS="$prefix_maps" \
  -DCMAKE_EXE_LINKER_FLAGS="-s -Wl,--no-insert-timestamp" >/dev/null
cmake --build "$build" --target Vokram vokram-cli -j "${VOKRAM_JOBS:-2}"

zip=$root/dist/Vokram-$version-win64.zip
rm -f "$root"/dist/Vokram-*-win64.zip "$root/dist/SHA256SUMS"
# The guide is kept as Windows text in the tree; the licence and the notices
# are plain text there and become Windows text in the zip.
"$root/scripts/make-zip.sh" "$zip" "$epoch" \
  "$build/ui/Vokram.exe" "$build/cli/vokram-cli.exe" "$root/docs/Vokram.txt" \
  --text LICENSE.txt "$root/LICENSE" \
  --text THIRD-PARTY-NOTICES.txt "$root/docs/THIRD-PARTY-NOTICES.txt"
echo "$zip"
cat "$root/dist/SHA256SUMS"
