#!/usr/bin/env bash
# Builds halvard, its unit tests and helpers with AddressSanitizer and
# UndefinedBehaviorSanitizer in build-asan, and runs the unit and end-to-end
# tests on it (the end-to-end tests then run the sanitized program). Then builds
# them with ThreadSanitizer (clang, a plain dynamic build) in build-tsan and runs
# the unit tests and the end-to-end tests with requests in flight
# (HALVARD_IN_FLIGHT: 8, and 64 once more). Then runs the typical command under
# valgrind's memcheck, on a plain dynamically linked build in build-valgrind
# (the release build is static, where memcheck cannot see the heap).
#
#   scripts/test-sanitizers.sh [--build-dir DIR] [--compiler clang|gcc]
#                              [--no-tsan] [--no-valgrind]
#
# Any sanitizer report fails the run: every report stops the program that made
# it (-fno-sanitize-recover=all), is written to a log file as well, and a run
# that leaves a log behind fails even when the test that caused it did not
# look at the exit status. Installs what is missing with apt-get. The clang builds
# (ThreadSanitizer's always) also check the locking annotations of app/ThreadAnnotations.h
# (-Werror=thread-safety, CMakeLists.txt): a guarded member used without its lock fails them.
set -euo pipefail
cd "$(dirname "$0")/.."

build_dir=build-asan
compiler=""
valgrind=1
tsan=1
while [ $# -gt 0 ]; do
    case "$1" in
        --build-dir) build_dir=$2; shift 2 ;;
        --compiler) compiler=$2; shift 2 ;;
        --no-valgrind) valgrind=0; shift ;;
        --no-tsan) tsan=0; shift ;;
        -h|--help) sed -n '2,19p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
        *) echo "test-sanitizers: unknown argument: $1" >&2; exit 2 ;;
    esac
done

install_missing() { scripts/apt-install.sh "$@"; }

packages=(cmake ninja-build python3 libgtest-dev)
[ "$valgrind" -eq 1 ] && packages+=(valgrind g++)
[ "$tsan" -eq 1 ] && packages+=(clang)
if [ -z "$compiler" ]; then
    if command -v clang++ >/dev/null; then compiler=clang; else compiler=gcc; fi
fi
case "$compiler" in
    clang) packages+=(clang); cc=clang; cxx=clang++ ;;
    gcc) packages+=(g++); cc=gcc; cxx=g++ ;;
    *) echo "test-sanitizers: --compiler must be clang or gcc" >&2; exit 2 ;;
esac
install_missing "${packages[@]}"

flags="-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer"
echo "== Sanitizer build ($cxx, $flags) in $build_dir =="
CC=$cc CXX=$cxx cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
    -DCMAKE_C_FLAGS="$flags" -DCMAKE_CXX_FLAGS="$flags" \
    -DCMAKE_EXE_LINKER_FLAGS="$flags" >/dev/null
cmake --build "$build_dir" -j 2

logs=$(cd "$build_dir" && pwd)/sanitizer-logs
rm -rf "$logs"
mkdir -p "$logs"
# A report makes the program exit with 86 (never one of the tool's own codes)
# and leaves $logs/report.PID behind.
common="exitcode=86:log_path=$logs/report:print_stacktrace=1:handle_abort=1"
asan="detect_leaks=1:strict_string_checks=1:detect_stack_use_after_return=1"
export ASAN_OPTIONS="$common:$asan:check_initialization_order=1"
export UBSAN_OPTIONS="$common:halt_on_error=1"
export LSAN_OPTIONS="exitcode=86:log_path=$logs/report"
# These unit tests limit the address space or ask for an impossible allocation
# to reach the tool's own memory handling; the sanitizers need terabytes of
# address space for their shadow memory and report such requests themselves,
# so they cannot run on these builds (the native build runs them).
export GTEST_FILTER="-CStringAllocationDeathTest.UnsatisfiableRequestIsAllocationFailure:\
CStringAllocationDeathTest.ExhaustedHeapEndsWithMemoryReport:\
CStringAllocationDeathTest.GrowingAppendsEndWithMemoryReport:\
CStringAllocationDeathTest.StandardLibraryAllocationsEndWithMemoryReport:\
ProbeEngineTest.RunningShortOfMemoryStopsTheWorkersAndTheWalkGoesOn"

# Shows the reports a sanitizer left in a folder; fails when there is any.
no_reports() {  # folder, sanitizer name
    local reports report
    reports=$(find "$1" -type f | wc -l)
    [ "$reports" -eq 0 ] && return 0
    echo "test-sanitizers: $reports $2 report(s):"
    for report in "$1"/*; do
        echo "---- $report"
        head -60 "$report"
    done
    return 1
}

status=0
ctest --test-dir "$build_dir" --output-on-failure || status=$?

no_reports "$logs" sanitizer || status=1
passed=0
failed=0
if [ "$status" -eq 0 ]; then passed=1; else failed=1; fi

if [ "$tsan" -eq 1 ]; then
    # The walk's workers and the probe engine under ThreadSanitizer: any data race,
    # lock-order inversion or misuse of a lock is a report, and any report fails.
    tsan_flags="-fsanitize=thread -fno-omit-frame-pointer"
    echo "== ThreadSanitizer build (clang++, $tsan_flags) in build-tsan =="
    tstatus=0
    tsan_logs=$(mkdir -p build-tsan && cd build-tsan && pwd)/sanitizer-logs
    rm -rf "$tsan_logs"
    mkdir -p "$tsan_logs"
    CC=clang CXX=clang++ cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug \
        -DCMAKE_C_FLAGS="$tsan_flags -O1" -DCMAKE_CXX_FLAGS="$tsan_flags -O1" \
        -DCMAKE_EXE_LINKER_FLAGS="$tsan_flags" >/dev/null &&
        cmake --build build-tsan -j 2 || tstatus=$?
    if [ "$tstatus" -eq 0 ]; then
        export TSAN_OPTIONS="exitcode=86:log_path=$tsan_logs/report:halt_on_error=1"
        ctest --test-dir build-tsan --output-on-failure -R '^(unit|e2e-parallel)$' ||
            tstatus=$?
        HALVARD_IN_FLIGHT=64 python3 tests/e2e/run.py --exe build-tsan/halvard \
            --platform native || tstatus=$?
        unset TSAN_OPTIONS
    fi
    no_reports "$tsan_logs" ThreadSanitizer || tstatus=1
    if [ "$tstatus" -eq 0 ]; then passed=$((passed + 1)); else failed=$((failed + 1)); fi
fi

if [ "$valgrind" -eq 1 ]; then
    echo "== valgrind: the typical command on a dynamically linked build (build-valgrind) =="
    vstatus=0
    { cmake -S . -B build-valgrind -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
          -DBUILD_TESTING=OFF >/dev/null &&
      cmake --build build-valgrind -j 2 --target halvard &&
      HALVARD_E2E_REQUIRE_VALGRIND=1 python3 tests/e2e/run.py --exe build-valgrind/halvard \
          --platform native -k Valgrind -v; } || vstatus=$?
    if [ "$vstatus" -eq 0 ]; then passed=$((passed + 1)); else failed=$((failed + 1)); fi
fi

echo "sanitizers: $passed passed, $failed failed (sanitized unit and end-to-end tests" \
     "with no report; the same with ThreadSanitizer and requests in flight; valgrind run" \
     "of the typical command)"
[ "$failed" -eq 0 ]
