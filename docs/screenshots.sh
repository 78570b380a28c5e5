#!/usr/bin/env bash
# Takes a screenshot of each panel of qirn-checker on a private X display,
# after a scan of a copy of samples/tree, into docs/.
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:-build/screenshots}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQIRN_BUILD_TESTS=OFF -DQIRN_BUILD_TOOLS=ON >/dev/null
cmake --build "$build" --target qirn-screenshots

# A short folder name, so that the whole path shows in the picture.
demo=/tmp/qirn-sample
[ -e "$demo" ] && { echo "$demo is in the way" >&2; exit 1; }
trap 'rm -rf "$demo"' EXIT
mkdir -p "$demo"
cp -r samples/tree/. "$demo/"
# A file over the size limit, so that the Scanner panel counts one left out.
head -c 100000 /dev/zero >"$demo/disk.img"
tests/tray/with-tray-host.sh "$build/app/qirn-screenshots" samples/sa.kvd "$demo" docs
ls docs/window-*.png
