#!/usr/bin/env bash
# Latency benchmark: the tool against the sequential walker when every open, directory
# listing and stat is a round trip (bench/latency_shim.c delays them), and on the warm
# local disk the tool and an older build of it against the walker, in one run. Then the
# system calls of a run with requests in flight (strace -f). See bench/README.md.
#
#   bench/latency.sh [--quick] [--sizes "N1 N2"] [--delays "0 1000 5000 20000 50000"]
#                    [--runs K] [--local-runs K] [--baseline REV] [--cache DIR] [--seed S]
#                    [--walker-max-s S] [--no-strace]
#
# The longest lines (the walker at 20,000 sets and 5 ms) take minutes: run it in the
# background. Where the walker would take longer than S seconds (default 300) its time
# is computed from its round trips. Then the write calls of each command line.
set -euo pipefail

BENCH_DIR=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
SOURCE_DIR=$(dirname "$BENCH_DIR")
CACHE_DIR=${HALVARD_BENCH_CACHE:-/tmp/halvard-bench}
SIZES="2000 20000"
DELAYS="0 1000 5000 20000 50000"
WALKER_MAX=300
RUNS=3
LOCAL_RUNS=15
BASELINE=""
SEED=1
TRACE=1

usage() { sed -n '2,13p' "${BASH_SOURCE[0]}" | sed 's/^# \{0,1\}//'; }

while [[ $# -gt 0 ]]; do
    case $1 in
        --quick) SIZES="2000"; DELAYS="0 1000"; RUNS=1; LOCAL_RUNS=5 ;;
        --sizes) SIZES=$2; shift ;;
        --delays) DELAYS=$2; shift ;;
        --runs) RUNS=$2; shift ;;
        --local-runs) LOCAL_RUNS=$2; shift ;;
        --baseline) BASELINE=$2; shift ;;
        --cache) CACHE_DIR=$2; shift ;;
        --seed) SEED=$2; shift ;;
        --walker-max-s) WALKER_MAX=$2; shift ;;
        --no-strace) TRACE=0 ;;
        -h|--help) usage; exit 0 ;;
        *) echo "latency.sh: unknown argument $1" >&2; usage >&2; exit 2 ;;
    esac
    shift
done

mkdir -p "$CACHE_DIR"
CACHE_DIR=$(cd "$CACHE_DIR" && pwd)
BUILD_DIR=$CACHE_DIR/build-latency
mkdir -p "$BUILD_DIR"
generator=()
if command -v ninja > /dev/null; then generator=(-G Ninja); fi

# A dynamically linked Release build: LD_PRELOAD does not reach into a static program.
build_tool() {  # source directory, build directory
    cmake -S "$1" -B "$2" "${generator[@]}" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF \
        -DHALVARD_STATIC=OFF > /dev/null
    cmake --build "$2" -j2 --target halvard > /dev/null
}

echo "== building halvard (Release, dynamic) in $BUILD_DIR/tool"
build_tool "$SOURCE_DIR" "$BUILD_DIR/tool"
TOOL=$BUILD_DIR/tool/halvard
WALKER=$BUILD_DIR/minimal_walker
SHIM=$BUILD_DIR/latency_shim.so
c++ -std=c++17 -O2 -o "$WALKER" "$BENCH_DIR/minimal_walker.cpp"
cc -shared -fPIC -O2 -o "$SHIM" "$BENCH_DIR/latency_shim.c" -ldl -lpthread

baseline_args=()
if [[ -n $BASELINE ]]; then
    echo "== building the baseline $BASELINE"
    src=$CACHE_DIR/baseline-src
    git -C "$SOURCE_DIR" worktree remove --force "$src" 2> /dev/null || rm -rf "$src"
    git -C "$SOURCE_DIR" worktree add --detach "$src" "$BASELINE" > /dev/null
    build_tool "$src" "$BUILD_DIR/baseline"
    git -C "$SOURCE_DIR" worktree remove --force "$src"
    baseline_args=(--baseline "$BUILD_DIR/baseline/halvard")
fi

for n in $SIZES; do
    python3 "$BENCH_DIR/gen_repo.py" --sets "$n" --seed "$SEED" "$CACHE_DIR/repo-$n"
done

RESULTS=$CACHE_DIR/latency-$(date +%Y%m%d-%H%M%S).jsonl
echo "== timed runs (sizes: $SIZES; delays in us: $DELAYS)"
python3 "$BENCH_DIR/latency.py" --tool "$TOOL" --walker "$WALKER" --shim "$SHIM" \
    --repos "$CACHE_DIR" --sizes "$SIZES" --delays "$DELAYS" --runs "$RUNS" \
    --local-runs "$LOCAL_RUNS" --walker-max-s "$WALKER_MAX" "${baseline_args[@]}" \
    --out "$RESULTS"

if [[ $TRACE -eq 1 ]]; then
    if ! command -v strace > /dev/null; then "$SOURCE_DIR/scripts/apt-install.sh" strace; fi
    SYSCALLS=open,openat,openat2,getdents64,stat,lstat,fstat,newfstatat,statx,access
    SYSCALLS=$SYSCALLS,faccessat,faccessat2,read,write
    echo
    echo "== system calls with 16 requests in flight (strace -f)"
    for n in $SIZES; do
        trace=$CACHE_DIR/work/parallel-$n.trace
        (cd "$CACHE_DIR/work" && HALVARD_IN_FLIGHT=16 strace -f -y -s 4096 -o "$trace" \
            -e trace=$SYSCALLS "$TOOL" "$CACHE_DIR/repo-$n" /W:5 /B:OUT.bat > /dev/null)
        python3 "$BENCH_DIR/strace_counts.py" --root "$CACHE_DIR/repo-$n" --trace "$trace" \
            --cwd "$CACHE_DIR/work" --n "$n" --label "in flight 16" --program tool \
            --out "$RESULTS"
        rm -f "$trace"
    done
    echo
    echo "== write calls on standard output (strace -f), local disk"
    programs=("tool $TOOL")
    if [[ -n $BASELINE ]]; then programs+=("baseline $BUILD_DIR/baseline/halvard"); fi
    for n in $SIZES; do
        narrow=$(python3 -c 'import json,sys; print(json.load(open(sys.argv[1]))["params"]["narrow_type"])' \
            "$CACHE_DIR/repo-$n/.complete")
        for options in "/W:5" "/W:5 /M:$narrow" "/W:5 /B:OUT.bat"; do
            for entry in "${programs[@]}"; do
                read -r name path <<< "$entry"
                trace=$CACHE_DIR/work/writes.trace
                # shellcheck disable=SC2086  # the options are shell words
                (cd "$CACHE_DIR/work" && strace -f -e trace=write -o "$trace" "$path" \
                    "$CACHE_DIR/repo-$n" $options > /dev/null)
                printf '{"kind": "writes", "n": %d, "options": "%s", "program": "%s", "writes": %d}\n' \
                    "$n" "$options" "$name" "$(grep -c 'write(1,' "$trace")" >> "$RESULTS"
                rm -f "$trace"
            done
        done
    done
fi
echo
echo "Results: $RESULTS"
echo "Machine: $(nproc) cores, $(uname -sr)"
python3 "$BENCH_DIR/latency.py" --tool - --walker - --shim - --repos - --report "$RESULTS"
