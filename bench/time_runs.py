#!/usr/bin/env python3
"""Times the tool against the minimal walker on one repository and command line.

    time_runs.py --n N --label NAME --tool "CMD" --walker "CMD" [--runs K]
                 [--warmup W] [--cwd DIR] [--out FILE]

First one checked run of each: the tool's listing of all sets and of the last
filter's matches is counted from its output and compared with the walker's
"sets N matches M". Then W warm-up runs of each, then K pairs of runs with
standard output to /dev/null, alternating which of the two goes first. Appends
one JSON record to FILE (standard output when not given): the wall times, their
medians, the median of the per-pair ratios tool/walker, the same for CPU time
(user + system, which a busy machine disturbs less), and the check.
"""

import argparse
import json
import os
import shlex
import statistics
import sys
import tempfile

sys.dont_write_bytecode = True  # leave no __pycache__ in the source tree
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from peak_rss import run_measured  # noqa: E402


def count_listing(lines, start):
    """Number of tab-indented lines that follow lines[start]."""
    count = 0
    for line in lines[start + 1:]:
        if not line.startswith("\t"):
            break
        count += 1
    return count


def tool_counts(text):
    """(all sets, matches of the last filter) from the tool's output, or None."""
    lines = text.splitlines()
    searches = [i for i, line in enumerate(lines) if line.startswith("Searching for ")
                and line.endswith(" Driver Sets...")]
    if len(searches) < 2 or lines[searches[0]] != "Searching for all Driver Sets...":
        return None
    return count_listing(lines, searches[0]), count_listing(lines, searches[-1])


def walker_counts(text):
    words = text.split()
    if len(words) == 4 and words[0] == "sets" and words[2] == "matches":
        return int(words[1]), int(words[3])
    return None


def checked_run(argv, cwd):
    with tempfile.NamedTemporaryFile(prefix="halvard-bench-", suffix=".out") as out:
        _, code, _, _ = run_measured(argv, cwd, out.name)
        with open(out.name, encoding="latin-1") as f:
            return code, f.read()


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--n", type=int, required=True, help="sets in the repository")
    parser.add_argument("--label", required=True, help="name of the command line")
    parser.add_argument("--tool", required=True, help="tool command line (shell words)")
    parser.add_argument("--walker", required=True, help="walker command line (shell words)")
    parser.add_argument("--runs", type=int, default=7, help="timed pairs")
    parser.add_argument("--warmup", type=int, default=2, help="untimed runs of each first")
    parser.add_argument("--cwd", default=None, help="directory to run both in")
    parser.add_argument("--out", default=None, help="JSON lines file to append to")
    args = parser.parse_args(argv)
    tool = shlex.split(args.tool)
    walker = shlex.split(args.walker)

    tool_rc, tool_text = checked_run(tool, args.cwd)
    walker_rc, walker_text = checked_run(walker, args.cwd)
    check = {"tool_rc": tool_rc, "walker_rc": walker_rc,
             "tool": tool_counts(tool_text), "walker": walker_counts(walker_text)}
    check["ok"] = (tool_rc == 0 and walker_rc == 0 and check["tool"] is not None
                   and check["tool"] == check["walker"])

    for _ in range(args.warmup):
        run_measured(tool, args.cwd)
        run_measured(walker, args.cwd)
    tool_ms, walker_ms, ratios = [], [], []
    tool_cpu_ms, walker_cpu_ms, cpu_ratios = [], [], []
    for i in range(args.runs):
        order = [(tool, tool_ms, tool_cpu_ms), (walker, walker_ms, walker_cpu_ms)]
        if i % 2:
            order.reverse()
        for command, times, cpu_times in order:
            wall, _, _, cpu = run_measured(command, args.cwd)
            times.append(wall * 1000.0)
            cpu_times.append(cpu * 1000.0)
        ratios.append(tool_ms[-1] / walker_ms[-1])
        cpu_ratios.append(tool_cpu_ms[-1] / max(walker_cpu_ms[-1], 0.001))

    record = {"kind": "time", "n": args.n, "label": args.label, "tool_cmd": args.tool,
              "tool_ms": tool_ms, "walker_ms": walker_ms, "ratios": ratios,
              "median_tool_ms": statistics.median(tool_ms),
              "median_walker_ms": statistics.median(walker_ms),
              "median_ratio": statistics.median(ratios),
              "tool_cpu_ms": tool_cpu_ms, "walker_cpu_ms": walker_cpu_ms,
              "cpu_ratios": cpu_ratios,
              "median_tool_cpu_ms": statistics.median(tool_cpu_ms),
              "median_walker_cpu_ms": statistics.median(walker_cpu_ms),
              "median_cpu_ratio": statistics.median(cpu_ratios), "check": check}
    line = json.dumps(record)
    if args.out:
        with open(args.out, "a", encoding="utf-8") as f:
            f.write(line + "\n")
    else:
        print(line)
    print("  N=%-6d %-7s tool %8.1f ms  walker %8.1f ms  ratio %5.2f  (CPU ratio %5.2f)  %s"
          % (args.n, args.label, record["median_tool_ms"], record["median_walker_ms"],
             record["median_ratio"], record["median_cpu_ratio"],
             "check ok" if check["ok"] else "MISMATCH %s" % check), file=sys.stderr)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
