#!/usr/bin/env bash
# On ext2 without the filetype feature the listing carries no entry types, so
# each entry is looked at after it was listed. A file churned in a folder of
# 301 hits vanishes between the two now and then; every scan must still find
# all 301. Needs loop mounts (root); skips with a message elsewhere.
# Usage: ext2-vanishing.sh QIRN_SCAN
set -euo pipefail
scan=$1
work=$(mktemp -d)
mnt="$work/mnt"
churn=""
cleanup() {
  # Runs to the end whatever fails: the image must never stay mounted.
  set +e
  if [ -n "$churn" ]; then
    kill "$churn" 2>/dev/null
    wait "$churn" 2>/dev/null
  fi
  if mountpoint -q "$mnt"; then umount "$mnt" || umount -l "$mnt"; fi
  rm -rf "$work"
}
trap cleanup EXIT

skip() {
  echo "[  SKIPPED ] $1"
  exit 0
}
command -v mkfs.ext2 >/dev/null || skip "mkfs.ext2 (e2fsprogs) is not installed"
truncate -s 32M "$work/ext2.img"
mkfs.ext2 -q -F -O ^filetype "$work/ext2.img"
mkdir "$mnt"
mount -o loop "$work/ext2.img" "$mnt" 2>/dev/null || skip "this machine does not allow loop mounts"

mkdir "$mnt/hits"
# The churned file comes first in the folder, so it is listed before the hits.
: >"$mnt/hits/churn"
for i in $(seq 1 301); do printf evil >"$mnt/hits/hit-$i.exe"; done
printf '%s=Evil.Ext2\n' "$(printf evil | md5sum | cut -d' ' -f1)" >"$work/sa.kvd"

python3 -c '
import os, sys
path = sys.argv[1]
while True:
    os.unlink(path)
    os.close(os.open(path, os.O_WRONLY | os.O_CREAT, 0o600))
' "$mnt/hits/churn" &
churn=$!

for run in $(seq 1 60); do
  status=0
  "$scan" --jobs 1 --signatures "$work/sa.kvd" "$mnt/hits" >"$work/out" 2>"$work/err" || status=$?
  if [ "$status" -ne 1 ] || ! grep -qx "Hits: 301" "$work/err"; then
    echo "run $run: exit $status"; cat "$work/err"
    exit 1
  fi
done
echo "60 scans while a file was churned: 301 hits each"
