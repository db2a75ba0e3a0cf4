#!/usr/bin/env bash
# Installs what is missing, checks that the sources are laid out as .clang-format says,
# then builds, tests and packages every release build through the workflow presets of
# CMakePresets.json: native, win64 and win32 (the Windows ones under Wine), and runs the
# shares suite (tests/shares/) with the native and win64 programs. Then the sanitizer
# builds (scripts/test-sanitizers.sh), the runs on a share that fails now and then
# (scripts/test-faults.sh) and the short fuzz run (scripts/fuzz.sh --quick). Every suite
# runs even when an earlier one failed; the last line counts them all: "test-all: N
# passed, N failed, N skipped", where a skipped suite is one this machine cannot run
# (32-bit programs under Wine on a kernel without 32-bit support, a network share that
# cannot be mounted, a preload that cannot reach the program), said on a line of its own.
#
# Which Wine launcher starts programs, and whether 32-bit ones start at all, is found by
# trying (scripts/wine-launcher.sh), never by what is installed.
set -uo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh || { echo "test-all: installing the dependencies failed"; exit 1; }
export WINEDEBUG=-all
probe=$(scripts/wine-launcher.sh) || { echo "test-all: Wine cannot start programs here"; exit 1; }
eval "$probe"
export HALVARD_WINE HALVARD_WINE32
[ -n "${WINELOADER:-}" ] && export WINELOADER
echo "test-all: Windows programs run with $HALVARD_WINE"

logs=$(mktemp -d "${TMPDIR:-/tmp}/halvard-test-all.XXXXXX")
trap 'rm -rf "$logs"' EXIT
started=$(date +%s)
passed=0
failed=0
failures=()
skips=()  # one line each: what was skipped and why

# Adds up one suite: the tests its CTest closing line counts (else its own "N passed, N
# failed" line, else 1 for the suite), and one more failure when it failed without a failing
# test (a configure, build or package step, or a script's own check).
tally() {
    local name=$1 status=$2 log=$3 line plain total bad
    line=$(grep -E '[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -1)
    plain=$(grep -E '^([A-Za-z0-9_-]+: )?[0-9]+ passed, [0-9]+ failed' "$log" | tail -1)
    if [ -n "$line" ]; then
        total=$(sed -E 's/.* out of ([0-9]+).*/\1/' <<<"$line")
        bad=$(sed -E 's/.* ([0-9]+) tests? failed.*/\1/' <<<"$line")
    elif [ -n "$plain" ]; then
        bad=$(sed -E 's/^([^ ]+: )?[0-9]+ passed, ([0-9]+) failed.*/\2/' <<<"$plain")
        total=$(( $(sed -E 's/^([^ ]+: )?([0-9]+) passed.*/\2/' <<<"$plain") + bad ))
    elif [ "$status" -eq 0 ]; then
        total=1 bad=0
    else
        total=0 bad=0
    fi
    passed=$((passed + total - bad))
    failed=$((failed + bad))
    if [ "$status" -ne 0 ]; then
        [ "$bad" -eq 0 ] && failed=$((failed + 1))
        failures+=("$name")
    fi
}

# Runs one suite with its output shown and kept for tally.
suite() {
    local name=$1 status=0
    shift
    echo
    echo "== $name: $* =="
    "$@" 2>&1 | tee "$logs/$name.log" || status=$?
    tally "$name" "$status" "$logs/$name.log"
}

# The fault runs (scripts/test-faults.sh) need a dynamically linked build and LD_PRELOAD;
# where they cannot be had the script says why and ends with 77: a skipped suite. Their
# random repositories and schedules come from one seed, the same on every run unless
# HALVARD_FAULTS_SEED names another, so that a run can be repeated.
faults_suite() {
    local why
    local status=0
    local seed=${HALVARD_FAULTS_SEED:-1}
    echo
    echo "== faults: scripts/test-faults.sh --seed $seed =="
    bash scripts/test-faults.sh --seed "$seed" 2>&1 | tee "$logs/faults.log" || status=$?
    if [ "$status" -eq 77 ]; then
        why=$(grep -m1 '^faults: skipped:' "$logs/faults.log" | sed 's/^faults: skipped: //')
        echo "test-all: faults: skipped: $why"
        skips+=("faults ($why)")
    else
        tally faults "$status" "$logs/faults.log"
    fi
}

# Each Windows build has a Wine prefix of its own, made before its tests start. A prefix
# made before 32-bit Wine was installed cannot start 32-bit programs: it is made anew.
prepare_wine_prefix() {
    local prefix=$PWD/build-$1/wineprefix
    if [ "$HALVARD_WINE32" = yes ] && [ -d "$prefix" ] &&
        [ ! -e "$prefix/drive_c/windows/syswow64/kernel32.dll" ]; then
        rm -rf "$prefix"
    fi
    if [ ! -d "$prefix" ]; then
        mkdir -p "$(dirname "$prefix")"
        WINEPREFIX=$prefix "$HALVARD_WINE" wineboot --init >/dev/null 2>&1
        WINEPREFIX=$prefix wineserver --wait
    fi
}

# Where 32-bit programs cannot start, the 32-bit build is built and its program checked as a
# static PE32 console program that imports only system DLLs, without running anything.
win32_without_wine() {
    cmake --preset win32 && cmake --build --preset win32 &&
        HALVARD_SKIP_WINE_RUN=1 ctest --preset win32 -R '^packaging$'
}

# The C and C++ sources as .clang-format lays them out.
check_format() {
    git ls-files '*.cpp' '*.h' '*.c' | xargs clang-format --dry-run --Werror &&
        echo "format: 1 passed, 0 failed"
}

suite format check_format
suite native cmake --workflow --preset native
prepare_wine_prefix win64
suite win64 cmake --workflow --preset win64
if [ "$HALVARD_WINE32" = yes ]; then
    prepare_wine_prefix win32
    suite win32 cmake --workflow --preset win32
else
    suite win32-static win32_without_wine
    echo "test-all: win32: run-time tests skipped: $HALVARD_WINE32_WHY"
    skips+=("win32 run-time tests ($HALVARD_WINE32_WHY)")
fi

# The end-to-end trees through real network shares served on the loopback address: Samba
# mounted with smbnetfs, SFTP mounted with sshfs. A client that cannot be mounted here (no
# FUSE, a server that does not start) is a skip, with the suite's line saying why.
suite shares timeout --kill-after=30 600 bash tests/shares/run.sh build-native/halvard \
    build-win64/halvard.exe
while read -r why; do
    skips+=("shares through $why")
done < <(sed -n 's/^shares: skipped: //p' "$logs/shares.log")

suite sanitizers bash scripts/test-sanitizers.sh
faults_suite
suite fuzz bash scripts/fuzz.sh --quick

# What failed, from a failed suite's log, in a few lines, for the end of the output where
# a reader of its last lines sees it: GoogleTest's failures with the lines that follow
# each, unittest's FAIL and ERROR headers and assertions, CTest's failed tests.
failure_lines() {
    grep -E -A5 ': Failure$' "$1" | head -n 12
    grep -E '^\[  FAILED  \] [A-Za-z_0-9/.]+ \(|^(FAIL|ERROR): |^[A-Za-z]*Error: |\*\*\*Failed' "$1" |
        sort -u | head -n 12
}

echo
echo "test-all: took $(( $(date +%s) - started )) s"
for name in "${failures[@]}"; do
    echo "test-all: $name: what failed:"
    failure_lines "$logs/$name.log" | sed 's/^/    /'
done
if [ ${#failures[@]} -gt 0 ]; then
    echo "test-all: failed: ${failures[*]}"
fi
for why in "${skips[@]}"; do
    echo "test-all: skipped: $why"
done
echo "test-all: $passed passed, $failed failed, ${#skips[@]} skipped"
[ ${#failures[@]} -eq 0 ] && [ "$failed" -eq 0 ]
