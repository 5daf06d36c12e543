#!/bin/sh
# Regenerates the pictures in resources/img, and the desktop icons in resources/linux/icons, from
# tools/assetgen/main.cpp.
# Usage: tools/make-assets.sh [build dir]   (default: build-assets in the source tree)
# Needs the Qt 5 development files, CMake, Ninja and ImageMagick's convert.
set -eu

src=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$src/build-assets}
out=$src/resources/img
frames=$(mktemp -d)
trap 'rm -rf "$frames"' EXIT

if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S "$src" -B "$build" -G Ninja -DTARVIK_BUILD_TOOLS=ON
fi
cmake --build "$build" --target tarvik-assetgen -j2

QT_QPA_PLATFORM=offscreen "$build/tools/tarvik-assetgen" "$out" "$frames" "$src/resources/linux/icons"

# The loading animation: ~1 s per turn, looping for ever. Every frame is opaque, so dropping the
# previous one before drawing the next is safe and keeps viewers from smearing frames together.
convert -delay 8 -loop 0 -dispose previous "$frames"/cattle_*.png "$out/cattle.gif"

ls -l "$out"
