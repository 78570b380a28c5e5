#!/usr/bin/env bash
# Installs what is missing, builds qirn-checker and starts it with the sample
# signature file beside it.
set -euo pipefail
cd "$(dirname "$0")/.."

tools/deps.sh

cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DQIRN_BUILD_TESTS=OFF
cmake --build build/release -j "$(nproc)" --target qirn-checker
# A signature file already there (one fetched by "Update Now") is kept.
cp -n samples/sa.kvd build/release/app/sa.kvd 2>/dev/null || true

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "qirn-checker is built (build/release/app/qirn-checker) but there is no display to start it on." >&2
  exit 1
fi
echo "== starting build/release/app/qirn-checker"
exec build/release/app/qirn-checker
