#!/usr/bin/env bash
# A loop image scanned with the digest cache, unmounted, changed underneath
# and mounted again shows the same device, inode, size and times: the digest
# kept from the first mount must not stand for the file. Run it through
# private-mounts.sh; skips with a message where loop mounts are not allowed.
# Usage: cache-remount.sh QIRN_SCAN
set -euo pipefail
scan=$1
work=$(mktemp -d)
image="$work/ext2.img"
mnt="$work/mnt"
loop=""
cleanup() {
  set +e
  if mountpoint -q "$mnt"; then umount "$mnt" || umount -l "$mnt"; fi
  [ -n "$loop" ] && losetup -d "$loop"
  rm -rf "$work"
}
trap cleanup EXIT
skip() {
  echo "[  SKIPPED ] $1"
  exit 0
}
command -v debugfs >/dev/null || skip "debugfs (e2fsprogs) is not installed"

clean='clean clean clean'
evil='evil! evil! evil!'
printf '%s=Evil.Remount\n' "$(printf '%s' "$evil" | md5sum | cut -d' ' -f1)" >"$work/sa.kvd"
truncate -s 8M "$image"
mkfs.ext2 -q -F -b 1024 "$image"
# The loop device stays attached throughout, so the device number stays the same.
loop=$(losetup --find --show "$image" 2>/dev/null) || skip "this machine has no free loop device"
mkdir "$mnt"
mount "$loop" "$mnt" 2>/dev/null || skip "this machine does not allow loop mounts"
printf '%s' "$clean" >"$mnt/doc"
umount "$mnt"
# Last changed long ago, so that a digest read now is trusted afterwards.
for field in mtime ctime; do debugfs -w -R "set_inode_field /doc $field 20200101000000" "$image" >/dev/null 2>&1; done
blockdev --flushbufs "$loop"
mount "$loop" "$mnt"
stamp() { stat -c '%d %i %s %Y %Z' "$mnt/doc"; }
before=$(stamp)

scan_status() {
  local status=0
  "$scan" --cache "$work/cache.db" --signatures "$work/sa.kvd" "$mnt" >"$work/out" 2>"$work/err" || status=$?
  echo "$status"
}
for run in 1 2; do
  [ "$(scan_status)" -eq 0 ] || { echo "scan $run of the clean file:"; cat "$work/out" "$work/err"; exit 1; }
done

# Changed elsewhere: its block written straight into the image, the inode untouched.
umount "$mnt"
block=$(debugfs -R "bmap /doc 0" "$image" 2>/dev/null)
printf '%s' "$evil" | dd of="$image" bs=1024 seek="$block" conv=notrunc status=none
blockdev --flushbufs "$loop"
mount "$loop" "$mnt"
[ "$(stamp)" = "$before" ] || { echo "the stamp changed ($before, now $(stamp)): nothing is tested"; exit 1; }
[ "$(cat "$mnt/doc")" = "$evil" ] || { echo "the image was not changed"; exit 1; }

status=$(scan_status)
if [ "$status" -ne 1 ] || [ "$(cat "$work/out")" != "$mnt/doc: Evil.Remount FOUND" ]; then
  echo "after the remount: exit $status"
  cat "$work/out" "$work/err"
  exit 1
fi
echo "the file changed while unmounted was read again and found"
