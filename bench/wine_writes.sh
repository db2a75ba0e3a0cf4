#!/usr/bin/env bash
# The write calls that reach standard output when the Windows build runs under Wine: each
# WriteFile on the console handle ends in one write(2) of Wine's on the file the output is
# redirected to, which strace -f -y names. See bench/README.md.
#
#   bench/wine_writes.sh EXE [EXE...] -- REPO [OPTIONS...]
#
# Runs each EXE (halvard.exe builds) as `EXE REPO OPTIONS` from a scratch directory with
# standard output to a file, and prints the exit status, the lines written and the write
# calls that reached that file. Wine is the launcher of scripts/wine-launcher.sh.
set -euo pipefail

SOURCE_DIR=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
programs=()
while [[ $# -gt 0 && $1 != -- ]]; do programs+=("$(realpath "$1")"); shift; done
[[ $# -gt 1 ]] || { sed -n '2,10p' "${BASH_SOURCE[0]}" | sed 's/^# \{0,1\}//'; exit 2; }
shift
repo=$(realpath "$1")
shift
if ! command -v strace > /dev/null; then "$SOURCE_DIR/scripts/apt-install.sh" strace; fi
eval "$(cd "$SOURCE_DIR" && scripts/wine-launcher.sh)"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for exe in "${programs[@]}"; do
    out=$work/stdout.txt
    status=0
    (cd "$work" && WINEDEBUG=-all strace -f -y -e trace=write -o "$work/trace" \
        "$HALVARD_WINE" "$exe" "$repo" "$@" > "$out") || status=$?
    writes=$(grep -c "^[0-9]* *write([0-9]*<$out>" "$work/trace" || true)
    printf '%s: exit %d, %d lines, %d write calls on standard output\n' \
        "$exe" "$status" "$(wc -l < "$out")" "$writes"
done
