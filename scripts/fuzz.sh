#!/usr/bin/env bash
# Builds the libFuzzer targets (fuzz/) with clang in build-fuzz and runs each
# for a fixed time, starting from its seed corpus in fuzz/corpus/<target>.
#
#   scripts/fuzz.sh [--quick] [--seconds N] [--target NAME]... [--build-dir DIR]
#
#   --quick       the short run of the test command: 20 seconds per target
#   --seconds N   seconds per target (default 300, a run worth making after a
#                 change to a class a target covers; e.g. 1800 for a long run)
#   --target NAME run only this target (repeatable): fuzz_ini_file,
#                 fuzz_command_line, fuzz_path_name, fuzz_cstring_lists,
#                 fuzz_search
#
# New inputs go to build-fuzz/corpus/<target> (the seeds in the repo are only
# read), crashing inputs to build-fuzz/artifacts/, full logs to
# build-fuzz/logs/. Any crash, sanitizer report, leak, difference from a
# reference model, time-out (10 s for one input) or memory blow-up fails the
# run. Installs clang and its libFuzzer runtime with apt-get when missing.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=300
build_dir=build-fuzz
targets=()
while [ $# -gt 0 ]; do
    case "$1" in
        --quick) seconds=20; shift ;;
        --seconds) seconds=$2; shift 2 ;;
        --target) targets+=("$2"); shift 2 ;;
        --build-dir) build_dir=$2; shift 2 ;;
        -h|--help) sed -n '2,18p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
        *) echo "fuzz: unknown argument: $1" >&2; exit 2 ;;
    esac
done
if ! [[ "$seconds" =~ ^[0-9]+$ ]] || [ "$seconds" -lt 1 ]; then
    echo "fuzz: --seconds needs a positive whole number" >&2
    exit 2
fi
[ ${#targets[@]} -eq 0 ] &&
    targets=(fuzz_ini_file fuzz_command_line fuzz_path_name fuzz_cstring_lists fuzz_search)

install_missing() { scripts/apt-install.sh "$@"; }

install_missing clang cmake ninja-build
# libFuzzer ships in the compiler-rt package of clang's own major version.
clang_major=$(clang -dumpversion | cut -d. -f1)
install_missing "libclang-rt-${clang_major}-dev"

echo "== Fuzz build (clang $(clang -dumpversion)) in $build_dir =="
CC=clang CXX=clang++ cmake -S . -B "$build_dir" -G Ninja -DHALVARD_FUZZ=ON \
    -DBUILD_TESTING=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build_dir" -j 2 --target "${targets[@]}"

mkdir -p "$build_dir/logs" "$build_dir/artifacts"
export ASAN_OPTIONS="detect_leaks=1:strict_string_checks=1:print_stacktrace=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"

passed=0
failed=0
for target in "${targets[@]}"; do
    seeds=fuzz/corpus/$target
    corpus=$build_dir/corpus/$target
    log=$build_dir/logs/$target.log
    mkdir -p "$corpus"
    # Paths must be able to pass the 4096-byte limit of the absolute form.
    max_len=4096
    [ "$target" = fuzz_path_name ] && max_len=8192
    status=0
    "$build_dir/fuzz/$target" "$corpus" "$seeds" -max_total_time="$seconds" -timeout=10 \
        -rss_limit_mb=2048 -max_len="$max_len" -print_final_stats=1 \
        -artifact_prefix="$build_dir/artifacts/$target-" >"$log" 2>&1 || status=$?
    runs=$(grep -a '^stat::number_of_executed_units:' "$log" | awk '{print $2}' || true)
    took=$(grep -a '^Done [0-9]* runs in' "$log" | awk '{print $5}' || true)
    coverage=$(grep -a -o 'cov: [0-9]*' "$log" | tail -1 | awk '{print $2}' || true)
    size=$(find "$corpus" -type f | wc -l)
    summary="$target: ${took:-?} s, ${runs:-?} inputs, coverage ${coverage:-?}, corpus $size"
    if [ "$status" -eq 0 ] && [ -n "$runs" ]; then
        echo "$summary: no crash"
        passed=$((passed + 1))
    else
        echo "$summary: FAILED (exit $status), log $log"
        grep -a -E 'ERROR|differ|SUMMARY|Test unit written|Base64' "$log" | head -20 || true
        failed=$((failed + 1))
    fi
done

echo "fuzz: $passed passed, $failed failed ($seconds s per target)"
[ "$failed" -eq 0 ]
