#!/usr/bin/env bash
# A tree 3,000 folders deep, with a file at every level, under a hard limit of
# 64 open files: qirn-scan with one and with two jobs finds the file at the
# bottom and the one in the sibling folder after the chain, and both print the
# same lines. Usage: deep-tree.sh QIRN_SCAN
set -euo pipefail
scan=$1
work=$(mktemp -d)
cleanup() {
  # Paths longer than PATH_MAX: cut the chain into short pieces first.
  python3 - "$work" <<'PY' || true
import os, sys
root = sys.argv[1]
at, piece = os.path.join(root, "tree", "deep"), 0
while os.path.isdir(os.path.join(at, "d")):
    up = os.path.join(root, f"piece-{piece}")
    os.rename(os.path.join(at, "d"), up)
    at, piece = up, piece + 1
PY
  rm -rf "$work"
}
trap cleanup EXIT

python3 - "$work" <<'PY'
import hashlib, os, sys
root = sys.argv[1]
os.makedirs(os.path.join(root, "tree", "deep"))
os.makedirs(os.path.join(root, "tree", "zz-after"))
with open(os.path.join(root, "tree", "zz-after", "sibling.exe"), "wb") as f:
    f.write(b"evil")
fd = os.open(os.path.join(root, "tree", "deep"), os.O_RDONLY | os.O_DIRECTORY)
for level in range(3000):
    file = os.open("level.txt", os.O_WRONLY | os.O_CREAT, 0o600, dir_fd=fd)
    os.write(file, b"level %d" % level)
    os.close(file)
    os.mkdir("d", dir_fd=fd)
    child = os.open("d", os.O_RDONLY | os.O_DIRECTORY, dir_fd=fd)
    os.close(fd)
    fd = child
file = os.open("bottom.exe", os.O_WRONLY | os.O_CREAT, 0o600, dir_fd=fd)
os.write(file, b"evil")
os.close(file)
os.close(fd)
with open(os.path.join(root, "sa.kvd"), "w") as f:
    f.write(hashlib.md5(b"evil").hexdigest() + "=Evil.Deep\n")
PY

for jobs in 1 2; do
  status=0
  prlimit --nofile=64:64 "$scan" --jobs "$jobs" --signatures "$work/sa.kvd" "$work/tree" \
    >"$work/out-$jobs" 2>"$work/err-$jobs" || status=$?
  hits=$(grep -c "FOUND$" "$work/out-$jobs" || true)
  if [ "$status" -ne 1 ] || [ "$hits" -ne 2 ] || ! grep -qx "Unreadable: 0" "$work/err-$jobs" ||
     ! grep -qx "Files examined: 3002" "$work/err-$jobs"; then
    echo "--jobs $jobs: exit $status, $hits hits"; cut -c1-300 "$work/out-$jobs" "$work/err-$jobs" | tail -20
    exit 1
  fi
  grep "bottom.exe: Evil.Deep FOUND$" "$work/out-$jobs" >/dev/null
  grep -x "$work/tree/zz-after/sibling.exe: Evil.Deep FOUND" "$work/out-$jobs" >/dev/null
  echo "--jobs $jobs: both hits, 3002 files examined, nothing unreadable"
done
cmp "$work/out-1" "$work/out-2"
