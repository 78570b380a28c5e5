#!/usr/bin/env bash
# Builds the Windows variant (engine, qirn-scan and their tests) with MinGW-w64
# and runs the tests under Wine, in a Wine prefix of its own that is removed
# afterwards. The window is not part of it: Debian has no Qt for MinGW.
set -euo pipefail
cd "$(dirname "$0")/.."

dir=build/test-windows
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
cmake -S . -B "$dir" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake -DCMAKE_BUILD_TYPE=Release \
  "${launcher[@]}"
cmake --build "$dir" -j "$(nproc)"

export PATH="/usr/lib/wine:$PATH" WINEDEBUG=-all WINEARCH=win64
# No Mono or Gecko download prompts: the tests need neither.
export WINEDLLOVERRIDES="mscoree,mshtml="
WINEPREFIX=$(mktemp -d /tmp/qirn-wine-XXXXXX)
export WINEPREFIX
trap 'wineserver -k 2>/dev/null || true; rm -rf "$WINEPREFIX"' EXIT
echo "== Wine prefix (first start)"
wine64 wineboot --init >/dev/null 2>&1
wineserver -w

echo "== tests: windows (under Wine)"
ctest --test-dir "$dir" --output-on-failure -j "$(nproc)"
