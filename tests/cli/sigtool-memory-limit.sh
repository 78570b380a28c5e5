#!/usr/bin/env bash
# qirn-sigtool import under a virtual-memory limit: a list whose signatures
# need more than the limit ends in a clear error with the output unchanged,
# not an abort.
# Usage: sigtool-memory-limit.sh QIRN_SIGTOOL SANITIZED(0|1)
set -euo pipefail
sigtool=$1
if [ "$2" = 1 ]; then
  echo "not checked: the sanitizers cannot run under a memory limit"
  exit 0
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# 1,000,000 distinct lines: about 90 MiB of tables and output.
python3 - "$work/MD5SUMS" <<'PY'
import sys
with open(sys.argv[1], "w") as f:
    f.writelines("%032x  file-%d.exe\n" % (i * 2654435761, i % 1000) for i in range(1000000))
PY
printf 'old content' > "$work/sa.kvd"

status=0
(ulimit -v 102400 && exec "$sigtool" import --output "$work/sa.kvd" "$work/MD5SUMS") 2>"$work/err" || status=$?
if [ "$status" -ne 2 ] || ! grep -qx "qirn-sigtool: not enough memory for the signatures" "$work/err" ||
  [ "$(cat "$work/sa.kvd")" != "old content" ]; then
  echo "too many for the limit: exit $status"; cat "$work/err"; exit 1
fi
echo "too many for the limit: $(tr '\n' ' ' <"$work/err")"
