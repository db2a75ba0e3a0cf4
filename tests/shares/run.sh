#!/usr/bin/env bash
# The shares suite: builds the trees of tests/shares/trees.py in a temporary directory,
# serves it through Samba (smbnetfs) and SFTP (sshfs) on the loopback address
# (scripts/shares.sh), and compares every run through each mount with the local one
# (tests/shares/compare.py). The last line is compare.py's "shares: N passed, N failed,
# N skipped"; a client that cannot be mounted here is a skip with a line saying why.
#
#   tests/shares/run.sh NATIVE_EXE [WINDOWS_EXE] [-k TEXT]
#
# The Windows build runs under $HALVARD_WINE (else wine) in $WINEPREFIX, by default the
# wineprefix folder beside the program (the one its CTest runs use).
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(dirname "$(dirname "$here")")

[ $# -ge 1 ] || { echo "usage: tests/shares/run.sh NATIVE_EXE [WINDOWS_EXE] [-k TEXT]" >&2; exit 2; }
programs=(--native "$1")
shift
if [ $# -ge 1 ] && [ "$1" != -k ]; then
    programs+=(--windows "$1")
    export WINEPREFIX=${WINEPREFIX:-$(cd "$(dirname "$1")" && pwd)/wineprefix}
    shift
fi

trees=$(mktemp -d "${TMPDIR:-/tmp}/halvard-shares-trees.XXXXXX") || exit 1
trap 'rm -rf "$trees"' EXIT
trap 'exit 129' HUP
trap 'exit 130' INT
trap 'exit 143' TERM
python3 "$here/trees.py" "$trees/share" || { echo "shares: building the trees failed"; exit 1; }
"$source_dir/scripts/shares.sh" "$trees/share" python3 "$here/compare.py" "${programs[@]}" "$@"
