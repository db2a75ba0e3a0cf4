#!/usr/bin/env bash
# Benchmark of the driver-set search: the tool against a minimal walker on
# generated repositories. See bench/README.md.
#
#   bench/run.sh [--quick] [--runs K] [--rounds R] [--sizes "N1 N2"] [--seed S]
#                [--cache DIR] [--tool PATH] [--no-strace]
set -euo pipefail

BENCH_DIR=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
SOURCE_DIR=$(dirname "$BENCH_DIR")
CACHE_DIR=${HALVARD_BENCH_CACHE:-/tmp/halvard-bench}
BUILD_DIR=$SOURCE_DIR/build-bench
SIZES="2000 20000"
RUNS=9
ROUNDS=3
WARMUP=2
SEED=1
TOOL=""
TRACE=1

usage() {
    sed -n '2,7p' "${BASH_SOURCE[0]}" | sed 's/^# \{0,1\}//'
    cat <<'EOF'
  --quick      N=2000 only, 3 timed pairs in one round
  --runs K     timed pairs of tool and walker runs per command line (default 9)
  --rounds R   spread them over R rounds that each visit every size (default 3)
  --sizes L    repository sizes in sets (default "2000 20000")
  --seed S     generator seed (default 1)
  --cache DIR  repositories, traces and results (default /tmp/halvard-bench,
               or $HALVARD_BENCH_CACHE)
  --tool PATH  measure this halvard binary instead of building build-bench
  --no-strace  skip the system-call counts
EOF
}

while [[ $# -gt 0 ]]; do
    case $1 in
        --quick) SIZES="2000"; RUNS=3; ROUNDS=1; WARMUP=1 ;;
        --runs) RUNS=$2; shift ;;
        --rounds) ROUNDS=$2; shift ;;
        --sizes) SIZES=$2; shift ;;
        --seed) SEED=$2; shift ;;
        --cache) CACHE_DIR=$2; shift ;;
        --tool) TOOL=$2; shift ;;
        --no-strace) TRACE=0 ;;
        -h|--help) usage; exit 0 ;;
        *) echo "run.sh: unknown argument $1" >&2; usage >&2; exit 2 ;;
    esac
    shift
done

mkdir -p "$CACHE_DIR"
CACHE_DIR=$(cd "$CACHE_DIR" && pwd)
WORK_DIR=$CACHE_DIR/work
TRACE_DIR=$CACHE_DIR/traces
mkdir -p "$WORK_DIR" "$TRACE_DIR"
RESULTS=$CACHE_DIR/results-$(date +%Y%m%d-%H%M%S).jsonl
: > "$RESULTS"

# --- build ------------------------------------------------------------------------
source "$BENCH_DIR/build-tool.sh"

if [[ $TRACE -eq 1 ]] && ! command -v strace > /dev/null; then
    echo "== installing strace"
    apt-get install -y strace > /dev/null || { apt-get update > /dev/null &&
        apt-get install -y strace > /dev/null; }
fi

# --- repositories -----------------------------------------------------------------
for n in $SIZES; do
    python3 "$BENCH_DIR/gen_repo.py" --sets "$n" --seed "$SEED" "$CACHE_DIR/repo-$n"
done

narrow_type() {
    python3 -c 'import json,sys; print(json.load(open(sys.argv[1]))["params"]["narrow_type"])' \
        "$1/.complete"
}

# Fills TOOL_CMD and WALKER_CMD (shell words) for a repository and command label.
commands_for() {
    local repo=$1 label=$2
    case $label in
        broad)
            TOOL_CMD="$TOOL $repo /W:5"
            WALKER_CMD="$WALKER $repo Win2008Server" ;;
        narrow)
            local type
            type=$(narrow_type "$repo")
            TOOL_CMD="$TOOL $repo /W:5 /M:$type"
            WALKER_CMD="$WALKER $repo Win2008Server $type" ;;
        batch)
            TOOL_CMD="$TOOL $repo /W:5 /B:OUT.bat"
            WALKER_CMD="$WALKER $repo Win2008Server" ;;
    esac
}

LABELS="broad narrow batch"

# --- wall time --------------------------------------------------------------------
# The pairs are spread over rounds, each visiting every size and command line, so that
# a machine that slows down or speeds up during the run moves all sizes alike: the
# growth from the smallest to the largest size compares runs made side by side.
PAIRS=$(( (RUNS + ROUNDS - 1) / ROUNDS ))
echo "== wall time: $ROUNDS round(s) of $PAIRS alternating pairs per size and command line," \
    "$WARMUP warm-up runs each"
for round in $(seq 1 "$ROUNDS"); do
    for n in $SIZES; do
        for label in $LABELS; do
            commands_for "$CACHE_DIR/repo-$n" "$label"
            python3 "$BENCH_DIR/time_runs.py" --n "$n" --label "$label" --runs "$PAIRS" \
                --warmup "$WARMUP" --cwd "$WORK_DIR" --tool "$TOOL_CMD" \
                --walker "$WALKER_CMD" --out "$RESULTS"
        done
    done
done

# --- system calls -----------------------------------------------------------------
SYSCALLS=open,openat,openat2,getdents64,stat,lstat,fstat,newfstatat,statx,access,faccessat
SYSCALLS=$SYSCALLS,faccessat2,read,write
if [[ $TRACE -eq 1 ]]; then
    echo "== system calls (strace)"
    for n in $SIZES; do
        for label in $LABELS; do
            commands_for "$CACHE_DIR/repo-$n" "$label"
            for program in tool walker; do
                if [[ $program == tool ]]; then cmd=$TOOL_CMD; else cmd=$WALKER_CMD; fi
                trace=$TRACE_DIR/$program-$n-$label.trace
                # shellcheck disable=SC2086  # the command is a list of shell words
                (cd "$WORK_DIR" && strace -f -y -s 4096 -o "$trace" -e trace=$SYSCALLS \
                    $cmd > /dev/null) || true
                python3 "$BENCH_DIR/strace_counts.py" --root "$CACHE_DIR/repo-$n" \
                    --trace "$trace" --cwd "$WORK_DIR" --n "$n" --label "$label" \
                    --program "$program" --out "$RESULTS"
                rm -f "$trace"
            done
        done
    done
fi

# --- peak memory ------------------------------------------------------------------
echo "== peak resident memory"
peak_kib() {
    local line
    # shellcheck disable=SC2086
    line=$(python3 -S "$BENCH_DIR/peak_rss.py" --cwd "$WORK_DIR" -- $1 2>&1 > /dev/null |
        grep '^wall_ms ' | tail -n 1) || true
    echo "${line##* }"
}
printf '{"kind": "rss_floor", "peak_kib": %s}\n' "$(peak_kib true)" >> "$RESULTS"
for n in $SIZES; do
    for label in $LABELS; do
        commands_for "$CACHE_DIR/repo-$n" "$label"
        for program in tool walker; do
            if [[ $program == tool ]]; then cmd=$TOOL_CMD; else cmd=$WALKER_CMD; fi
            printf '{"kind": "rss", "n": %d, "label": "%s", "program": "%s", "peak_kib": %s}\n' \
                "$n" "$label" "$program" "$(peak_kib "$cmd")" >> "$RESULTS"
        done
    done
done

# --- report -----------------------------------------------------------------------
cp "$RESULTS" "$CACHE_DIR/latest.jsonl"
echo
echo "Results: $RESULTS"
echo "Machine: $(nproc) cores, $(uname -sr), $(grep -m1 'model name' /proc/cpuinfo |
    cut -d: -f2- | sed 's/^ *//')"
echo
python3 "$BENCH_DIR/report.py" "$RESULTS"
