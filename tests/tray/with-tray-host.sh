#!/usr/bin/env bash
# Runs a command on a private Xvfb display whose notification area is trayer,
# then stops both. Usage: with-tray-host.sh COMMAND [ARGS...]
set -euo pipefail

pids=()
work=$(mktemp -d)
stop() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap stop EXIT

# The server picks a free display and writes its number once it accepts clients.
Xvfb -displayfd 3 -screen 0 800x600x24 -nolisten tcp -noreset 3>"$work/display" >"$work/xvfb.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
[ -s "$work/display" ] || { cat "$work/xvfb.log" >&2; echo "Xvfb did not start" >&2; exit 1; }
export DISPLAY=":$(head -n1 "$work/display")"

trayer --edge top --align right --widthtype pixel --width 96 --heighttype pixel --height 28 \
  --SetDockType true --expand false >"$work/trayer.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do xdotool search --classname trayer >/dev/null 2>&1 && break; sleep 0.1; done
xdotool search --classname trayer >/dev/null || { cat "$work/xvfb.log" "$work/trayer.log" >&2; echo "trayer did not start" >&2; exit 1; }

# No session bus: the icon goes to the X notification area.
status=0
env -u DBUS_SESSION_BUS_ADDRESS QT_QPA_PLATFORM=xcb "$@" || status=$?
exit "$status"
