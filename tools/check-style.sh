#!/usr/bin/env bash
# Formatting and static checks. Needs a configured build folder (for its
# compile_commands.json) as the first argument.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:?usage: tools/check-style.sh BUILD_DIR}

mapfile -t sources < <(git ls-files '*.cpp' '*.h')
echo "== clang-format: ${#sources[@]} files"
clang-format --dry-run --Werror "${sources[@]}"

mapfile -t units < <(git ls-files '*.cpp')
echo "== clang-tidy: ${#units[@]} files"
run-clang-tidy -quiet -p "$build" -j "$(nproc)" "${units[@]/#/$PWD/}" > "$build/clang-tidy.log" 2>&1 || {
  grep -E 'warning:|error:' "$build/clang-tidy.log" | sort -u
  echo "clang-tidy found problems (full output: $build/clang-tidy.log)"
  exit 1
}
echo "clang-tidy: no findings"
