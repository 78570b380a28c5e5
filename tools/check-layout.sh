#!/usr/bin/env bash
# Checks the source layout that a reader relies on:
# - no source file outside tests/ and bench/ over 400 lines (split by concept);
# - every quoted include names its folder from the project root;
# - POSIX headers only in the platform layers (engine/platform/posix/, and the linux/
#   folders of the Linux-only guard and cache) and in tests.
set -euo pipefail
cd "$(dirname "$0")/.."

# Files outside engine/platform/posix/ still allowed a POSIX header while they move
# into the platform layer, one path a line with the header as a comment.
# Empty now: keep it so, and never add a file to it.
posix_allowed=()
posix_headers='unistd|fcntl|dirent|fnmatch|pthread|poll|termios|pwd|grp|dlfcn|spawn|syslog|glob|libgen|netdb|strings|sched|semaphore|utime|wordexp|(sys|arpa|netinet)/[a-z_]+'

mapfile -t sources < <(git ls-files '*.cpp' '*.h')
problems=0
fail() {
  echo "$1"
  problems=$((problems + 1))
}

for file in "${sources[@]}"; do
  [ -f "$file" ] || continue
  case "$file" in
    tests/* | bench/*) ;;
    *)
      lines=$(wc -l <"$file")
      [ "$lines" -le 400 ] || fail "$file: $lines lines, more than 400: split it by concept"
      ;;
  esac
  while IFS= read -r hit; do
    fail "$file:$hit: a quoted include names its folder, e.g. \"engine/ScanControl.h\""
  done < <(grep -nE '^\s*#\s*include\s*"[^/"]+"' "$file" || true)
  case "$file" in
    engine/platform/posix/* | guard/linux/* | cache/linux/* | tests/*) continue ;;
  esac
  allowed=false
  for entry in "${posix_allowed[@]}"; do
    [ "$entry" = "$file" ] && allowed=true
  done
  $allowed && continue
  while IFS= read -r hit; do
    fail "$file:$hit: POSIX headers belong in engine/platform/posix/"
  done < <(grep -nE "^\s*#\s*include\s*<($posix_headers)\.h>" "$file" || true)
done

for entry in "${posix_allowed[@]}"; do
  if [ -f "$entry" ] && ! grep -qE "^\s*#\s*include\s*<($posix_headers)\.h>" "$entry"; then
    fail "$entry: no longer includes a POSIX header: take it off the list in tools/check-layout.sh"
  fi
done

echo "layout: ${#sources[@]} files, $problems problems"
[ "$problems" -eq 0 ]
