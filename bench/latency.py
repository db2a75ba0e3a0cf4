#!/usr/bin/env python3
"""Times the tool against the sequential walker with every round trip delayed, and on
the plain local disk the tool (and an older build of it) against the walker.

    latency.py --tool PATH --walker PATH --shim PATH --repos DIR [--baseline PATH]
               [--sizes "2000 20000"] [--delays "0 200 1000 5000"] [--runs K]
               [--local-runs K] [--alone-sizes "2000"] [--out FILE]

DIR holds repo-N for each size. Every command is `halvard REPO /W:5 /B:OUT.bat` (the
walker: `minimal_walker REPO Win2008Server`), run from a work directory with standard
output to a file. With a delay D (microseconds), the programs run with
LD_PRELOAD=SHIM, HALVARD_LATENCY_US=D and HALVARD_LATENCY_PREFIX=REPO.

For each size and delay it prints the walker's time (the sequential floor), the tool's
(adaptive start, the default), the speed-up walker/tool, the tool's time when it walks
alone (HALVARD_IN_FLIGHT=1; sizes of --alone-sizes only), the tool's peak resident
memory, and whether its standard output and batch file are the bytes of the tool alone
on the local disk. On the local disk (delay 0) the runs alternate in K rounds and the
ratio is the median of the per-round ratios, for the tool and for --baseline.
"""
import argparse
import hashlib
import json
import os
import statistics
import sys
import time

WORK = None


def spawn(argv, env, stdout_path):
    """Runs argv; returns (wall seconds, exit status, peak RSS KiB)."""
    out = os.open(stdout_path, os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o644)
    try:
        start = time.perf_counter()
        pid = os.posix_spawn(argv[0], argv, env, file_actions=[(os.POSIX_SPAWN_DUP2, out, 1)])
        _, status, usage = os.wait4(pid, 0)
        wall = time.perf_counter() - start
    finally:
        os.close(out)
    return wall, os.waitstatus_to_exitcode(status), usage.ru_maxrss


def environment(repo, delay_us, shim, in_flight=None):
    env = {k: v for k, v in os.environ.items()
           if k not in ("LD_PRELOAD", "HALVARD_IN_FLIGHT", "HALVARD_LATENCY_US")}
    if delay_us > 0:
        env.update(LD_PRELOAD=shim, HALVARD_LATENCY_US=str(delay_us),
                   HALVARD_LATENCY_PREFIX=repo)
    if in_flight is not None:
        env["HALVARD_IN_FLIGHT"] = str(in_flight)
    return env


def digest(*paths):
    h = hashlib.sha256()
    for path in paths:
        with open(path, "rb") as f:
            h.update(f.read())
        h.update(b"\0")
    return h.hexdigest()


class Runner:
    def __init__(self, args):
        self.args = args
        self.stdout = os.path.join(WORK, "stdout.txt")
        self.batch = os.path.join(WORK, "OUT.bat")

    def tool(self, tool, repo, delay, in_flight=None):
        if os.path.exists(self.batch):
            os.remove(self.batch)
        argv = [tool, repo, "/W:5", "/B:OUT.bat"]
        wall, code, peak = spawn(argv, environment(repo, delay, self.args.shim, in_flight),
                                 self.stdout)
        if code != 0:
            sys.exit("latency: %s ended with %d" % (" ".join(argv), code))
        return wall, peak, digest(self.stdout, self.batch)

    def walker(self, repo, delay):
        argv = [self.args.walker, repo, "Win2008Server"]
        wall, code, peak = spawn(argv, environment(repo, delay, self.args.shim), self.stdout)
        if code != 0:
            sys.exit("latency: the walker ended with %d" % code)
        return wall


def local_disk(runner, n, repo, records):
    """Alternating rounds on the local disk: walker, tool, baseline, in turning order."""
    args = runner.args
    programs = [("tool", args.tool)] + ([("baseline", args.baseline)] if args.baseline else [])
    for _ in range(2):  # warm-up
        runner.walker(repo, 0)
        for _, path in programs:
            runner.tool(path, repo, 0)
    times = {"walker": []}
    times.update({name: [] for name, _ in programs})
    ratios = {name: [] for name, _ in programs}
    for k in range(args.local_runs):
        order = ["walker"] + [name for name, _ in programs]
        order = order[k % len(order):] + order[:k % len(order)]
        this_round = {}
        for name in order:
            if name == "walker":
                this_round[name] = runner.walker(repo, 0)
            else:
                this_round[name] = runner.tool(dict(programs)[name], repo, 0)[0]
        for name, wall in this_round.items():
            times[name].append(wall)
        for name, _ in programs:
            ratios[name].append(this_round[name] / this_round["walker"])
    record = {"kind": "local", "n": n, "runs": args.local_runs,
              "walker_ms": statistics.median(times["walker"]) * 1000}
    for name, _ in programs:
        record[name + "_ms"] = statistics.median(times[name]) * 1000
        record[name + "_ratio"] = statistics.median(ratios[name])
    records.append(record)


def delayed(runner, n, repo, delay, reference, records):
    args = runner.args
    runs = args.runs if n <= 2000 or delay <= 1000 else 1
    walker = [runner.walker(repo, delay) for _ in range(1 if n > 2000 else runs)]
    tool, peaks, same = [], [], True
    for _ in range(runs):
        wall, peak, output = runner.tool(args.tool, repo, delay)
        tool.append(wall)
        peaks.append(peak)
        same = same and output == reference
    record = {"kind": "latency", "n": n, "delay_us": delay,
              "walker_s": statistics.median(walker), "tool_s": statistics.median(tool),
              "tool_runs": len(tool), "peak_kib": max(peaks), "same_output": same}
    if str(n) in args.alone_sizes.split():
        wall, _, output = runner.tool(args.tool, repo, delay, in_flight=1)
        record["alone_s"] = wall
        record["same_output"] = same and output == reference
    records.append(record)
    print("  N=%-6d %5.1f ms  walker %8.2f s  tool %7.3f s  x%.1f%s" % (
        n, delay / 1000, record["walker_s"], record["tool_s"],
        record["walker_s"] / record["tool_s"],
        "" if record["same_output"] else "  OUTPUT DIFFERS"), flush=True)


def report(records):
    local = [r for r in records if r["kind"] == "local"]
    latency = [r for r in records if r["kind"] == "latency"]
    if latency:
        print()
        print("Delayed round trips (open, directory open, first listing read, stat by path):")
        print("| N | delay | walker (sequential floor) | tool | walker/tool | tool alone |"
              " tool peak RSS | same output |")
        print("|---|---|---|---|---|---|---|---|")
        for r in latency:
            alone = "%.2f s" % r["alone_s"] if "alone_s" in r else "-"
            print("| %d | %.1f ms | %.2f s | %.3f s | %.1fx | %s | %.1f MiB | %s |" % (
                r["n"], r["delay_us"] / 1000, r["walker_s"], r["tool_s"],
                r["walker_s"] / r["tool_s"], alone, r["peak_kib"] / 1024,
                "yes" if r["same_output"] else "NO"))
    if local:
        print()
        print("Local disk, warm (medians; ratios: median of the per-round ratios):")
        print("| N | walker | tool | tool/walker | baseline | baseline/walker |")
        print("|---|---|---|---|---|---|")
        for r in local:
            base = ("%.1f ms | %.3f" % (r["baseline_ms"], r["baseline_ratio"])
                    if "baseline_ms" in r else "- | -")
            print("| %d | %.1f ms | %.1f ms | %.3f | %s |" % (
                r["n"], r["walker_ms"], r["tool_ms"], r["tool_ratio"], base))


def main():
    global WORK
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--tool", required=True)
    parser.add_argument("--walker", required=True)
    parser.add_argument("--shim", required=True)
    parser.add_argument("--repos", required=True)
    parser.add_argument("--baseline")
    parser.add_argument("--sizes", default="2000 20000")
    parser.add_argument("--delays", default="0 200 1000 5000")
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--local-runs", type=int, default=15)
    parser.add_argument("--alone-sizes", default="2000")
    parser.add_argument("--out")
    parser.add_argument("--report", help="print the tables of a results file and stop")
    args = parser.parse_args()
    if args.report:
        with open(args.report) as f:
            report([json.loads(line) for line in f if line.strip()])
        return 0
    WORK = os.path.join(args.repos, "work")
    os.makedirs(WORK, exist_ok=True)
    os.chdir(WORK)  # where the batch file goes
    runner = Runner(args)
    records = []
    for n in [int(s) for s in args.sizes.split()]:
        repo = os.path.join(args.repos, "repo-%d" % n)
        _, _, reference = runner.tool(args.tool, repo, 0, in_flight=1)
        for delay in [int(d) for d in args.delays.split()]:
            if delay == 0:
                local_disk(runner, n, repo, records)
                r = records[-1]
                print("  N=%-6d local   walker %8.1f ms  tool %7.1f ms  ratio %.3f%s" % (
                    n, r["walker_ms"], r["tool_ms"], r["tool_ratio"],
                    "  baseline ratio %.3f" % r["baseline_ratio"] if args.baseline else ""),
                    flush=True)
            else:
                delayed(runner, n, repo, delay, reference, records)
    if args.out:
        with open(args.out, "a") as f:
            for r in records:
                f.write(json.dumps(r) + "\n")
    else:
        report(records)
    return 0


if __name__ == "__main__":
    sys.exit(main())
