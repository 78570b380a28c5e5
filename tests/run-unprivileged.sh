#!/bin/sh
# Runs a test program as an unprivileged user when started as root, so that
# permission failures really happen. Skips when that user cannot reach it.
[ "$(id -u)" = 0 ] || exec "$@"
as_nobody="setpriv --reuid=65534 --regid=65534 --clear-groups env HOME=/tmp TMPDIR=/tmp"
if ! $as_nobody test -x "$1"; then
  echo "[  SKIPPED ] $1 is not reachable for an unprivileged user"
  exit 0
fi
exec $as_nobody "$@"
