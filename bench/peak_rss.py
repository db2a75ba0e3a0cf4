#!/usr/bin/env python3
"""Runs one command and reports its wall time and peak resident memory.

    python3 -S peak_rss.py [--cwd DIR] [--stdout FILE] -- COMMAND [ARGS...]

Prints "wall_ms W cpu_ms C peak_rss_kib K" on standard error (standard output belongs to
the command; /dev/null by default) and exits with the command's status.

The peak is wait4's ru_maxrss (KiB) of that one child. Linux folds the memory of
the process that was replaced by exec into it, and the child starts as a copy of
this Python process: so the figure can never be lower than this process's own
peak (about 8 MiB when started with -S, as above). Measure /bin/true the same
way to see that floor; a command that reports the floor used at most that much.

time_runs.py uses run_measured for its timings too: posix_spawn is the cheapest
start Python has, and the same for every program measured.
"""

import os
import sys
import time


def run_measured(argv, cwd=None, stdout_path=os.devnull):
    """Runs argv with standard output to stdout_path; returns (wall seconds, exit
    status, peak RSS in KiB, CPU seconds user + system). A command killed by a
    signal gives the status 128 + signal."""
    out = os.open(stdout_path, os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o644)
    old_cwd = None
    try:
        if cwd is not None:
            old_cwd = os.getcwd()
            os.chdir(cwd)
        actions = [(os.POSIX_SPAWN_DUP2, out, 1)]
        start = time.perf_counter()
        pid = os.posix_spawnp(argv[0], argv, os.environ, file_actions=actions)
        _, status, usage = os.wait4(pid, 0)
        wall = time.perf_counter() - start
    finally:
        os.close(out)
        if old_cwd is not None:
            os.chdir(old_cwd)
    code = os.waitstatus_to_exitcode(status)
    if code < 0:
        code = 128 - code
    return wall, code, usage.ru_maxrss, usage.ru_utime + usage.ru_stime


def main(argv):
    # Parsed by hand: argparse would raise this process's own peak, the floor.
    options = {"--cwd": None, "--stdout": os.devnull}
    while argv and argv[0] in options:
        if len(argv) < 2:
            sys.exit("peak_rss.py: %s needs a value" % argv[0])
        options[argv[0]] = argv[1]
        argv = argv[2:]
    if argv[:1] == ["--"]:
        argv = argv[1:]
    if not argv:
        sys.exit("usage: peak_rss.py [--cwd DIR] [--stdout FILE] -- COMMAND [ARGS...]")
    wall, code, peak, cpu = run_measured(argv, options["--cwd"], options["--stdout"])
    print("wall_ms %.1f cpu_ms %.1f peak_rss_kib %d" % (wall * 1000.0, cpu * 1000.0, peak),
          file=sys.stderr)
    return code


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
