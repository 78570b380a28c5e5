#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, when missing.
set -euo pipefail

packages=(cmake ninja-build g++ pkg-config libssl-dev libsqlite3-dev libgtest-dev python3 util-linux)
# Test certificates for the HTTPS download tests.
packages+=(openssl)
# mkfs.ext2 for the test on a file system that keeps no entry types.
packages+=(e2fsprogs)
# Formatting and static checks.
packages+=(clang-format clang-tidy)
# The window and its checks on a private X display.
packages+=(qt6-base-dev fonts-dejavu-core xvfb trayer xdotool x11-utils)
# The fleet playbook in deploy/, run against localhost.
packages+=(ansible)
# The Windows variant: cross compiler, GoogleTest sources to cross-build, Wine to run the tests.
packages+=(g++-mingw-w64-x86-64-posix googletest wine64)
# The faces that stand in for "MS Sans Serif" and "MS Serif" (ui/Fonts.h).
packages+=(fonts-freefont-ttf)
# The scalable theme icon (QSvgGenerator); the Debian package and its checks.
packages+=(qt6-svg-dev dpkg-dev file desktop-file-utils appstream man-db lintian)
# The peer that bench/cache_bench.py measures a rescan against.
packages+=(hashdeep)
packages+=("$@")

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
$sudo apt-get update -q
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
