#!/usr/bin/env bash
# Installs the named Debian packages that are missing (as root, or through sudo).
#
#   scripts/apt-install.sh PACKAGE...
set -euo pipefail

missing=()
for package in "$@"; do
    dpkg -s "$package" >/dev/null 2>&1 || missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

as_root=()
if [ "$(id -u)" -ne 0 ]; then
    command -v sudo >/dev/null || { echo "apt-install: not root and no sudo" >&2; exit 1; }
    as_root=(sudo)
fi
echo "apt-install: installing ${missing[*]}"
# A list that fails to update (a mirror caught mid-sync) leaves the others updated: the
# install goes on with what there is, and fails only if a package cannot be had.
"${as_root[@]}" apt-get update -q ||
    echo "apt-install: not every package list could be updated; installing from the rest" >&2
DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get install -y -q "${missing[@]}"
