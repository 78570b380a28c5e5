#!/usr/bin/env bash
# qirn-scan.exe under Wine on a tree that holds the standard antivirus test
# file as a plain file, a hidden file, a system file, behind a link to a folder
# outside the tree, under a name outside Latin-1 and at the end of a path of
# more than 260 characters. Run by CTest in the Windows build, with the Wine
# prefix that tools/test-windows.sh made.
set -euo pipefail
exe=${1:?usage: windows-tree-test.sh QIRN_SCAN_EXE SIGNATURE_FILE}
signatures=${2:?usage: windows-tree-test.sh QIRN_SCAN_EXE SIGNATURE_FILE}

work=$(mktemp -d /tmp/qirn-wintree-XXXXXX)
trap 'rm -rf "$work"' EXIT
eicar='X5O!P%@AP[4\PZX54(P^)7CC)7}$EICAR-STANDARD-ANTIVIRUS-TEST-FILE!$H+H*'
tree=$work/tree
mkdir -p "$tree/plain" "$tree/вирус" "$work/outside"
for file in plain/eicar.com plain/hidden.com plain/system.com "вирус/文件.com"; do
  printf '%s' "$eicar" >"$tree/$file"
done
printf '%s' "$eicar" >"$work/outside/elsewhere.com"
ln -s "$work/outside" "$tree/link"
deep=$tree
for i in $(seq 10); do deep=$deep/long-folder-name-$i-xxxxxxxxxxxxxxx; done
mkdir -p "$deep"
printf '%s' "$eicar" >"$deep/deep.com"

windows() { local path=${1//\//\\}; printf 'Z:%s' "$path"; }
wine64 cmd /c attrib +h "$(windows "$tree/plain/hidden.com")"
wine64 cmd /c attrib +s "$(windows "$tree/plain/system.com")"

status=0
wine64 "$exe" --jobs 1 --signatures "$(windows "$signatures")" "$(windows "$tree")" >"$work/out" 2>"$work/err" ||
  status=$?
echo "== qirn-scan.exe --jobs 1 (exit status $status)"
cat "$work/out" "$work/err"

root=$(windows "$tree")
sort >"$work/expected" <<EXPECTED
$root\\plain\\eicar.com: EICAR-Test-File FOUND
$root\\plain\\hidden.com: EICAR-Test-File FOUND
$root\\вирус\\文件.com: EICAR-Test-File FOUND
$(windows "$deep")\\deep.com: EICAR-Test-File FOUND
EXPECTED
[ ${#deep} -gt 260 ] || { echo "the deep path is too short"; exit 1; }
# Text output ends its lines with CR LF on Windows.
tr -d '\r' <"$work/out" | sort | diff -u "$work/expected" - || { echo "unexpected hits"; exit 1; }
[ "$status" -eq 1 ] || { echo "exit status $status, expected 1"; exit 1; }
echo "hidden found, system file not examined, link not followed, long and non-Latin-1 paths found"
