#!/usr/bin/env bash
# qirn-scan under a virtual-memory limit: a sparse signature file whose first
# MiB is short lines loads in little memory, and a file whose lines need more
# than the limit is an ordinary load failure, not an abort.
# Usage: memory-limit.sh QIRN_SCAN SANITIZED(0|1)
set -euo pipefail
scan=$1
sanitized=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/empty"

# 2 GiB, of which the first MiB is 524288 lines "=" and the rest a hole.
python3 - "$work" <<'PY'
import sys
with open(sys.argv[1] + "/sparse.kvd", "wb") as f:
    f.write(b"=\n" * (1 << 19))
    f.truncate(2 << 30)
with open(sys.argv[1] + "/many.kvd", "wb") as f:
    f.write(b"=\n" * (24 << 20))
PY

limited() {
  # ASan reserves terabytes of address space: no limit for it, which only
  # leaves the sparse file's load to check.
  if [ "$sanitized" = 1 ]; then "$@"; else (ulimit -v 262144 && exec "$@"); fi
}

status=0
limited "$scan" --jobs 1 --signatures "$work/sparse.kvd" "$work/empty" 2>"$work/err" || status=$?
if [ "$status" -ne 0 ] || ! grep -qx "Signatures loaded: 524288" "$work/err"; then
  echo "sparse file: exit $status"; cat "$work/err"; exit 1
fi
echo "sparse file: loaded 524288 signatures"

if [ "$sanitized" = 1 ]; then
  echo "out of memory: not checked, the sanitizers cannot run under a memory limit"
  exit 0
fi
status=0
limited "$scan" --jobs 1 --signatures "$work/many.kvd" "$work/empty" 2>"$work/err" || status=$?
if [ "$status" -ne 2 ] || ! grep -Eq "cannot load signatures: not enough memory for [0-9]+ signatures" "$work/err"; then
  echo "too many for the limit: exit $status"; cat "$work/err"; exit 1
fi
echo "too many for the limit: $(cat "$work/err")"
