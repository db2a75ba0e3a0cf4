#!/usr/bin/env bash
# Network-share benchmark: the tool alone, as it decides by itself and with 32 requests in
# flight, against the sequential probe-first floor (minimal_walker), on generated
# repositories served on the loopback address through Samba (mounted with smbnetfs) and
# SFTP (mounted with sshfs), and on the local disk for comparison. See bench/README.md.
#
#   bench/shares.sh [--sizes "300 2000"] [--runs K] [--cache DIR] [--seed S] [--tool PATH]
#
# Needs root (the servers and FUSE mounts of scripts/shares.sh); about five minutes.
set -euo pipefail

BENCH_DIR=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
SOURCE_DIR=$(dirname "$BENCH_DIR")
CACHE_DIR=${HALVARD_BENCH_CACHE:-/tmp/halvard-bench}
BUILD_DIR=$SOURCE_DIR/build-bench
SIZES="300 2000"
RUNS=5
SEED=1
TOOL=""

usage() { sed -n '2,9p' "${BASH_SOURCE[0]}" | sed 's/^# \{0,1\}//'; }

while [[ $# -gt 0 ]]; do
    case $1 in
        --sizes) SIZES=$2; shift ;;
        --runs) RUNS=$2; shift ;;
        --cache) CACHE_DIR=$2; shift ;;
        --seed) SEED=$2; shift ;;
        --tool) TOOL=$2; shift ;;
        -h|--help) usage; exit 0 ;;
        *) echo "shares.sh: unknown argument $1" >&2; usage >&2; exit 2 ;;
    esac
    shift
done

source "$BENCH_DIR/build-tool.sh"

# The shared directory holds the repositories only.
SHARE=$CACHE_DIR/shares
mkdir -p "$SHARE" "$CACHE_DIR/work"
for n in $SIZES; do
    python3 "$BENCH_DIR/gen_repo.py" --sets "$n" --seed "$SEED" "$SHARE/repo-$n"
done

echo "== timed runs (sizes: $SIZES; $RUNS rounds)"
echo "Machine: $(nproc) cores, $(uname -sr); $(smbd --version), $(sshfs --version 2>&1 |
    grep -m1 SSHFS), smbnetfs $(dpkg-query -W -f '${Version}' smbnetfs 2>/dev/null || echo '?')"
"$SOURCE_DIR/scripts/shares.sh" "$SHARE" python3 "$BENCH_DIR/shares.py" --tool "$TOOL" \
    --walker "$WALKER" --sizes "$SIZES" --runs "$RUNS" --work "$CACHE_DIR/work"
