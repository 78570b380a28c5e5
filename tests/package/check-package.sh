#!/usr/bin/env bash
# Checks the Debian package as a user meets it. It is unpacked into a fresh
# root; its desktop entry, AppStream file and manual pages are validated and
# lintian reads it. Then the installed qirn-checker starts on the X display
# with HOME an empty folder, as an unprivileged user when run as root (so the
# installed bin folder is really not writable): sa.kvd must be seeded in
# ~/.local/share/qirn-checker/, and real clicks on Scan, Results and Save must
# write a report naming the planted test file there.
# Usage: tests/tray/with-tray-host.sh tests/package/check-package.sh PACKAGE.deb
set -euo pipefail

deb=$(realpath "$1")
work=$(mktemp -d)
chmod 755 "$work"
pid=""
cleanup() {
  if [ -n "$pid" ]; then kill "$pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "check-package: $*" >&2
  [ -f "$work/app.log" ] && sed 's/^/  qirn-checker: /' "$work/app.log" >&2
  exit 1
}

root=$work/root
dpkg -x "$deb" "$root"
depends=$(dpkg-deb -f "$deb" Depends)
for needed in libc6 libqt6widgets6 libssl3 fonts-freefont-ttf; do
  grep -Eq "(^|, )$needed( |,|$)" <<<"$depends" || fail "Depends lacks $needed: $depends"
done
desktop=$(ls "$root"/usr/share/applications/*.desktop)
id=$(basename "$desktop" .desktop)
expected=(
  usr/bin/qirn-checker usr/bin/qirn-scan usr/share/qirn-checker/sa.kvd
  "usr/share/metainfo/$id.metainfo.xml" "usr/share/icons/hicolor/scalable/apps/$id.svg"
  usr/share/doc/qirn-checker/copyright usr/share/doc/qirn-checker/changelog.gz
)
for size in 16 22 24 32 48 64 128 256; do expected+=("usr/share/icons/hicolor/${size}x${size}/apps/$id.png"); done
for command in "$root"/usr/bin/*; do expected+=("usr/share/man/man1/$(basename "$command").1.gz"); done
expected+=(usr/sbin/qirn-guard usr/share/man/man8/qirn-guard.8.gz etc/qirn-checker/guard.ini
  lib/systemd/system/qirn-guard.service)
for file in "${expected[@]}"; do [ -f "$root/$file" ] || fail "$file is not in the package"; done
for size in 16 22 24 32 48 64 128 256; do
  file -b "$root/usr/share/icons/hicolor/${size}x${size}/apps/$id.png" | grep -q "PNG image data, $size x $size," ||
    fail "the ${size}x${size} icon is not $size pixels square"
done

echo "== desktop entry"
out=$(desktop-file-validate "$desktop" 2>&1) || fail "desktop-file-validate: $out"
[ -z "$out" ] || fail "desktop-file-validate: $out"
echo "== AppStream metadata"
appstreamcli validate --no-net --pedantic "$root/usr/share/metainfo/$id.metainfo.xml"
for command in "$root"/usr/bin/*; do
  grep -q "<binary>$(basename "$command")</binary>" "$root/usr/share/metainfo/$id.metainfo.xml" ||
    fail "the AppStream file does not name $(basename "$command")"
done
echo "== manual pages"
for page in "$root"/usr/share/man/man1/*.1.gz "$root"/usr/share/man/man8/*.8.gz; do
  out=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null) || fail "man -l $page: $out"
  [ -z "$out" ] || fail "man -l $(basename "$page"): $out"
done
echo "== the guard: its settings a conffile, its service not enabled by the package"
dpkg-deb --ctrl-tarfile "$deb" | tar -xO ./conffiles | grep -qx /etc/qirn-checker/guard.ini ||
  fail "guard.ini is not a conffile"
status=0
"$root"/usr/sbin/qirn-guard --config "$root"/etc/qirn-checker/guard.ini --status >/dev/null 2>&1 || status=$?
[ "$status" = 3 ] || fail "qirn-guard --status of the installed settings does not say 'not running'"
echo "== lintian"
status=0
lintian --fail-on error --display-info --tag-display-limit 0 "$deb" >"$work/lintian.log" 2>&1 || status=$?
cat "$work/lintian.log"
[ "$status" = 0 ] || fail "lintian reports errors"

echo "== the installed qirn-checker with an empty home"
home=$work/home
mkdir "$home"
run=(env -i PATH=/usr/bin:/bin HOME="$home" DISPLAY="$DISPLAY" QT_QPA_PLATFORM=xcb)
if [ "$(id -u)" = 0 ]; then
  chown 65534:65534 "$home"
  run=(setpriv --reuid=65534 --regid=65534 --clear-groups "${run[@]}")
fi
# The standard antivirus test file, in the folder the Scanner panel starts at.
mkdir "$home/try"
printf '%s' 'X5O!P%@AP[4\PZX54(P^)7CC)7}$EICAR-STANDARD-ANTIVIRUS-TEST-FILE!$H+H*' >"$home/try/eicar.com"
chmod -R a+rX "$home/try"

touch "$work/started"
# Before the window made the user's folder, qirn-scan reads the installed sample.
status=0
out=$("${run[@]}" "$root/usr/bin/qirn-scan" --quiet "$home/try" 2>"$work/app.log") || status=$?
[ "$status" = 1 ] && grep -q "eicar.com: EICAR-Test-File FOUND" <<<"$out" ||
  fail "the installed qirn-scan did not find the test file with the sample (status $status): $out"
[ ! -e "$home/.local" ] || fail "qirn-scan made $home/.local"
"${run[@]}" "$root/usr/bin/qirn-sigtool" --help >/dev/null 2>"$work/app.log" || fail "qirn-sigtool --help failed"
"${run[@]}" "$root/usr/bin/qirn-checker" >"$work/app.log" 2>&1 &
pid=$!
window=$(timeout 20 xdotool search --sync --onlyvisible --name '^QIRN Checker 1\.1') || fail "no window appeared"
window=$(head -n1 <<<"$window")

folder=$home/.local/share/qirn-checker
cmp "$folder/sa.kvd" "$root/usr/share/qirn-checker/sa.kvd" || fail "sa.kvd was not seeded in $folder"
[ "$(stat -c %a "$folder")" = 700 ] || fail "$folder is open to other users"

# Window coordinates of the controls, from the fixed layout (ui/frmTev.cpp).
click() { xdotool mousemove --window "$window" "$1" "$2" click 1; }
click 250 288  # Scan
sleep 2
click 26 174   # Results
click 318 290  # Save
for _ in $(seq 100); do [ -f "$folder/Results.txt" ] && break; sleep 0.1; done
[ -f "$folder/Results.txt" ] || fail "Save did not write $folder/Results.txt"
grep -q "File eicar.com was detected as EICAR-Test-File" "$folder/Results.txt" ||
  fail "the saved report does not name the test file: $(cat "$folder/Results.txt")"
message=$(timeout 10 xdotool search --sync --onlyvisible --name '^QIRN Checker$') || fail "no Save message appeared"
xdotool windowfocus --sync "$(head -n1 <<<"$message")" key Return
sleep 0.5
click 26 302   # Quit
for _ in $(seq 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
kill -0 "$pid" 2>/dev/null && fail "Quit did not end the program"
status=0
wait "$pid" || status=$?
pid=""
[ "$status" = 0 ] || fail "qirn-checker ended with status $status"

written=$(find "$root" -newer "$work/started")
[ -z "$written" ] || fail "the program wrote among its installed files: $written"
echo "sa.kvd seeded and Results.txt saved in ~/.local/share/qirn-checker/"
