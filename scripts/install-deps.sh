#!/usr/bin/env bash
# Installs the Debian packages that building, testing and packaging Halvard need, where
# missing: compilers for the native, the two Windows and the sanitizer builds, GoogleTest,
# Wine with its 32-bit part (wine32 from the i386 architecture, which this script adds), and
# the tools of the fuzz, sanitizer and benchmark scripts, and the servers and FUSE clients of
# the shares suite (Samba with smbnetfs, OpenSSH with sshfs). Runs as root, or through sudo.
#
# If wine32 cannot be installed, everything else still is, and the script says so:
# scripts/test-all.sh then checks the 32-bit build without running it.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/apt-install.sh cmake ninja-build g++ python3 libgtest-dev googletest \
    g++-mingw-w64-x86-64 g++-mingw-w64-i686 wine wine64 \
    clang clang-format libclang-rt-14-dev valgrind strace man-db \
    samba smbnetfs openssh-server sshfs

dpkg -s wine32:i386 >/dev/null 2>&1 && exit 0
as_root=()
[ "$(id -u)" -ne 0 ] && as_root=(sudo)
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    echo "install-deps: adding the i386 architecture for wine32"
    "${as_root[@]}" dpkg --add-architecture i386
fi
if ! scripts/apt-install.sh wine32:i386; then
    echo "install-deps: wine32:i386 cannot be installed here; the 32-bit Windows build" \
         "will be checked without running it" >&2
fi
