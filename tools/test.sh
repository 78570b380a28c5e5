#!/usr/bin/env bash
# Installs what is missing, builds (plain and with sanitizers) and runs every test,
# the window's on a private X display with a notification area as well.
#   --quick  the plain build and its unit tests only (no sanitizers, package,
#            Windows variant or style checks): a few minutes on a warm build
set -euo pipefail
cd "$(dirname "$0")/.."

quick=false
case "${1:-}" in
  --quick) quick=true ;;
  "") ;;
  *) echo "usage: tools/test.sh [--quick]" >&2; exit 2 ;;
esac

tools/deps.sh

# The digest cache trusts nothing read on a memory file system, and its tests
# check what it reuses: they need a disk.
if [ "$(findmnt -n -o FSTYPE -T "${TMPDIR:-/tmp}" 2>/dev/null)" = tmpfs ]; then
  export TMPDIR="$PWD/build/tmp"
  mkdir -p "$TMPDIR"
fi

jobs=$(nproc)
# A compiler cache, where the machine has one, makes rebuilds of a checkout cheap.
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)

if $quick; then
  cmake --preset release "${launcher[@]}"
  cmake --build --preset release -j "$jobs"
  ctest --preset unit -j "$jobs"
  exit 0
fi
for variant in release asan; do
  dir="build/test-$variant"
  sanitize=OFF
  [ "$variant" = asan ] && sanitize=ON
  cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQIRN_WERROR=ON -DQIRN_SANITIZE="$sanitize" \
    "${launcher[@]}"
  cmake --build "$dir" -j "$jobs"
  echo "== tests: $variant"
  ctest --test-dir "$dir" --output-on-failure -j "$jobs" -LE realwindow
  echo "== real window: $variant (Xvfb with trayer as notification area)"
  tests/tray/with-tray-host.sh ctest --test-dir "$dir" --output-on-failure --no-tests=error -L realwindow
done

echo "== Debian package: built, unpacked, validated; the installed program started with an empty home"
deb=$(tools/package.sh build/test-release)
tests/tray/with-tray-host.sh tests/package/check-package.sh "$deb"

echo "== windows variant: MinGW-w64 build, tests under Wine"
tools/test-windows.sh

# Data races: only the engine, cache, command-line and guard tests, the code
# that runs worker threads, to keep the test command short.
echo "== tests: tsan (engine, command line, guard)"
dir=build/test-tsan
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQIRN_WERROR=ON -DQIRN_TSAN=ON "${launcher[@]}"
cmake --build "$dir" -j "$jobs" --target engine_tests cache_tests cli_tests guard_tests
for program in "$dir/tests/engine/engine_tests" "$dir/tests/cache/cache_tests" "$dir/tests/cli/cli_tests" \
  "$dir/tests/guard/guard_tests"; do
  TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" "$program" --gtest_brief=1
done

echo "== source layout"
tools/check-layout.sh

echo "== formatting and static checks"
tools/check-style.sh build/test-release
