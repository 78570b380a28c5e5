#!/usr/bin/env bash
# Installs what is missing, builds qirn-scan and scans a sample folder.
set -euo pipefail
cd "$(dirname "$0")/.."

tools/deps.sh

cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DQIRN_BUILD_TESTS=OFF
cmake --build build/release -j "$(nproc)"
cp -n samples/sa.kvd build/release/cli/sa.kvd 2>/dev/null || true

folder=${1:-samples/tree}
echo "== qirn-scan $folder"
status=0
build/release/cli/qirn-scan "$folder" || status=$?
echo "exit status $status (0 nothing found, 1 found, 2 could not scan)"
