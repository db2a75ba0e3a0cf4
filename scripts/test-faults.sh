#!/usr/bin/env bash
# A share that fails now and then: runs tests/faults/run_faults.py on the native program
# and on the Windows program under Wine, both with tests/faults/fault_shim.c preloaded to
# fail chosen opens, listings and reads of the repository's paths.
#
#   scripts/test-faults.sh [--seed S] [--no-wine] [--time-box SECONDS]
#
# The release program is static, where LD_PRELOAD has no effect: this builds a dynamically
# linked one of its own in build-faults (Release flags, no tests). Under Wine the preload
# goes into the Wine process and its server, which make the Unix calls for halvard.exe;
# the program is build-win64's (HALVARD_FAULTS_EXE_WIN to name another), with a copy of
# that build's Wine prefix.
#
# The last line counts the runs of both: "faults: N passed, N failed". Exit code 77 (and
# a line saying why) when the shim cannot be used here at all.
set -uo pipefail
cd "$(dirname "$0")/.."

seed=$(( $(date +%s) % 100000 ))
wine=1
time_box=90
while [ $# -gt 0 ]; do
    case "$1" in
        --seed) seed=$2; shift 2 ;;
        --no-wine) wine=0; shift ;;
        --time-box) time_box=$2; shift 2 ;;
        -h|--help) sed -n '2,15p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
        *) echo "test-faults: unknown argument: $1" >&2; exit 2 ;;
    esac
done

skip() { echo "faults: skipped: $*"; exit 77; }

command -v cc >/dev/null || skip "no C compiler for the shim"
work=$(mktemp -d "${TMPDIR:-/tmp}/halvard-faults-sh.XXXXXX")
trap 'rm -rf "$work"' EXIT
shim=$work/fault_shim.so
cc -shared -fPIC -O2 -o "$shim" tests/faults/fault_shim.c -ldl -lpthread ||
    skip "the shim does not build"

generator=()
command -v ninja >/dev/null && generator=(-G Ninja)
cmake -S . -B build-faults "${generator[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DBUILD_TESTING=OFF -DHALVARD_STATIC=OFF >/dev/null &&
    cmake --build build-faults -j 2 --target halvard >/dev/null ||
    { echo "test-faults: the dynamically linked build failed"; exit 1; }

# Whether the preload reaches the program at all: a run with the shim counting the calls
# below the example repository must count some.
probe_rules=$work/probe-rules
echo "op=all;below=$PWD/example-repo;nth=0" >"$probe_rules"
HALVARD_FAULTS_FILE=$probe_rules HALVARD_FAULTS_COUNT=$work/probe-counts LD_PRELOAD=$shim \
    build-faults/halvard "$PWD/example-repo/repo" "/B:$work/probe.bat" >/dev/null
grep -qE '^(open|opendir) [1-9]' "$work/probe-counts" 2>/dev/null ||
    skip "LD_PRELOAD does not reach build-faults/halvard here"

total_passed=0
total_failed=0
status=0
run_suite() {  # name, arguments of run_faults.py
    local name=$1 line rc
    shift
    echo "== faults ($name), seed $seed =="
    python3 tests/faults/run_faults.py --seed "$seed" --shim "$shim" "$@" |
        tee "$work/$name.log"
    rc=${PIPESTATUS[0]}
    if [ "$rc" -eq 77 ]; then
        return
    fi
    line=$(grep -E '^faults: [0-9]+ passed, [0-9]+ failed' "$work/$name.log" | tail -1)
    if [ -z "$line" ]; then
        echo "test-faults: $name: no closing line"
        total_failed=$((total_failed + 1))
        status=1
        return
    fi
    total_passed=$((total_passed + $(sed -E 's/^faults: ([0-9]+) passed.*/\1/' <<<"$line")))
    total_failed=$((total_failed + $(sed -E 's/.* ([0-9]+) failed.*/\1/' <<<"$line")))
    [ "$rc" -eq 0 ] || status=1
}

run_suite native --exe build-faults/halvard --time-box "$time_box"

if [ "$wine" -eq 1 ]; then
    exe=${HALVARD_FAULTS_EXE_WIN:-build-win64/halvard.exe}
    if [ -z "${HALVARD_WINE:-}" ]; then
        probe=$(scripts/wine-launcher.sh) && eval "$probe" && export HALVARD_WINE
    fi
    if [ -z "${HALVARD_WINE:-}" ]; then
        echo "test-faults: windows: skipped: Wine cannot start programs here"
    elif [ ! -f "$exe" ]; then
        echo "test-faults: windows: skipped: no $exe (the win64 build makes it)"
    else
        export WINEDEBUG=-all
        export HALVARD_FAULTS_WINEPREFIX=${HALVARD_FAULTS_WINEPREFIX:-build-win64/wineprefix}
        run_suite windows --exe "$exe" --platform windows --time-box "$time_box"
    fi
fi

echo "faults: $total_passed passed, $total_failed failed"
[ "$status" -eq 0 ] && [ "$total_failed" -eq 0 ]
