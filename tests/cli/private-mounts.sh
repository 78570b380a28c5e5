#!/usr/bin/env bash
# Runs a test that mounts file systems in a private mount namespace of its
# own, so that no mount it makes, or leaves behind, reaches the machine.
# Skips with a message where the machine does not allow one.
# Usage: private-mounts.sh COMMAND [ARGUMENT...]
set -euo pipefail
skip() {
  echo "[  SKIPPED ] $1"
  exit 0
}
[ "$(id -u)" -eq 0 ] || skip "mounting needs root"
command -v unshare >/dev/null || skip "unshare (util-linux) is not installed"
unshare --mount --propagation private true 2>/dev/null || skip "this machine allows no private mount namespace"
exec unshare --mount --propagation private "$@"
