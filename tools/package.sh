#!/usr/bin/env bash
# Builds the Debian package of qirn-checker and prints its path.
# Usage: tools/package.sh [BUILD_FOLDER]   (default build/package; an existing
# build folder, such as the test command's, is used as it is configured)
set -euo pipefail
cd "$(dirname "$0")/.."

tools/deps.sh >&2

build=${1:-build/package}
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQIRN_BUILD_TESTS=OFF >&2
fi
if grep -q '^QIRN_SANITIZE:BOOL=ON' "$build/CMakeCache.txt"; then
  echo "package.sh: $build is a sanitizer build; package a plain one" >&2
  exit 2
fi
cmake --build "$build" -j "$(nproc)" >&2
rm -f "$build"/qirn-checker_*.deb
(cd "$build" && cpack -G DEB >&2)
realpath "$build"/qirn-checker_*.deb
