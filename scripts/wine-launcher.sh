#!/usr/bin/env bash
# Finds out, by trying, how Wine starts Windows programs on this machine, and prints shell
# assignments for the test scripts to eval:
#
#   HALVARD_WINE=...        the command that starts a 64-bit Windows program: `wine` where it
#                           runs, else Wine's 64-bit loader (on a kernel that cannot run 32-bit
#                           programs, `wine` itself is one and fails with "Exec format error")
#   WINELOADER=...          set with the 64-bit loader, so that Wine starts child programs
#                           (cmd.exe's) with it too
#   HALVARD_WINE32=yes|no   whether a 32-bit program starts here (32-bit Wine is one)
#   HALVARD_WINE32_WHY=...  when it does not: one line saying why
#
#   scripts/wine-launcher.sh
#
# HALVARD_WINE_LAUNCHERS (blank-separated candidates, tried in order) and HALVARD_WINE32_PROBE
# (a 32-bit program to start) replace the defaults, so that a machine whose 32-bit programs
# do run can imitate one whose programs do not. Exits 1, saying why on standard error, when
# no launcher starts.
set -uo pipefail

launchers=${HALVARD_WINE_LAUNCHERS:-"wine /usr/lib/wine/wine64"}
probe32=${HALVARD_WINE32_PROBE:-/usr/lib/wine/wine}

# Runs a program with --version; on failure prints the first line it wrote, or the status.
try_start() {
    local output status
    output=$("$@" --version 2>&1 </dev/null)
    status=$?
    [ "$status" -eq 0 ] && return 0
    output=$(printf '%s\n' "$output" | sed -n '/./{p;q}')
    echo "${output:-exit status $status}"
    return 1
}

launcher="" tried=""
for candidate in $launchers; do
    if ! command -v "$candidate" >/dev/null 2>&1; then
        tried+="$candidate: not installed; "
    elif why=$(try_start "$candidate"); then
        launcher=$candidate
        break
    else
        tried+="$candidate: $why; "
    fi
done
if [ -z "$launcher" ]; then
    echo "wine-launcher: no Wine launcher starts here (${tried%; })" >&2
    exit 1
fi

printf 'HALVARD_WINE=%q\n' "$launcher"
if [ "$(basename "$launcher")" = wine64 ]; then
    printf 'WINELOADER=%q\n' "$(command -v "$launcher")"
fi
if [ ! -e "$probe32" ]; then
    echo "HALVARD_WINE32=no"
    printf 'HALVARD_WINE32_WHY=%q\n' "32-bit Wine is not installed ($probe32 is missing)"
elif why=$(try_start "$probe32"); then
    echo "HALVARD_WINE32=yes"
else
    echo "HALVARD_WINE32=no"
    printf 'HALVARD_WINE32_WHY=%q\n' "32-bit programs do not start here ($probe32: $why)"
fi
