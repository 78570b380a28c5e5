#!/usr/bin/env bash
# Draws the artwork into resources/ with draw-artwork from a build folder.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/artwork}
cmake -S . -B "$build" -G Ninja -DQIRN_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" --target draw-artwork
QT_QPA_PLATFORM=offscreen "$build/resources/draw-artwork" resources
