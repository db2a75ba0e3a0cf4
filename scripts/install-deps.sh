#!/usr/bin/env bash
# Installs the Debian packages that building and testing Halvard needs, if missing.
set -euo pipefail

packages=(cmake ninja-build g++ python3 libgtest-dev googletest
          g++-mingw-w64-x86-64 wine wine64)
missing=()
for package in "${packages[@]}"; do
    dpkg -s "$package" >/dev/null 2>&1 || missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    sudo_cmd=""
    [ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
    $sudo_cmd apt-get update -q
    DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -q "${missing[@]}"
fi
