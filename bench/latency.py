#!/usr/bin/env python3
"""Times the tool against the sequential walker with every round trip delayed, and on
the plain local disk the tool (and an older build of it) against the walker.

    latency.py --tool PATH --walker PATH --shim PATH --repos DIR [--baseline PATH]
               [--sizes "2000 20000"] [--delays "0 200 1000 5000 20000 50000"] [--runs K]
               [--local-runs K] [--alone-sizes "2000"] [--walker-max-s S] [--out FILE]

DIR holds repo-N for each size. Every delayed command is `halvard REPO /W:5 /B:OUT.bat`
(the walker: `minimal_walker REPO Win2008Server`), run from a work directory with
standard output to a file. With a delay D (microseconds), the programs run with
LD_PRELOAD=SHIM, HALVARD_LATENCY_US=D, HALVARD_LATENCY_PREFIX=REPO and
HALVARD_LATENCY_LOG (the shim's count of round trips and the threads made).

For each size and delay it prints the walker's time (the sequential floor; where the
walker would take longer than S seconds, computed as its time on the local disk plus its
round trips times the delay, and marked so), the tool's (adaptive start, the default),
the speed-up walker/tool, the same for --baseline (an older build, in the same rounds),
the limit of the line (the tool's round trips x delay / the most requests in flight, plus
the depth of the tree in round trips x delay), the growth of the requests in flight over
the walk (worker threads made, and when), the tool's time when it walks alone
(HALVARD_IN_FLIGHT=1; sizes of --alone-sizes only, delays up to 5 ms), the tool's peak resident memory, and
whether its standard output and batch file are the bytes of the tool alone on the local
disk. On the local disk (delay 0) the three command lines of run.sh (broad, narrow,
batch) run in K alternating rounds, and the ratio to the walker is the median of the
per-round ratios, for the tool and for --baseline.
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


LOG = None  # the shim's log of the last delayed run


def environment(repo, delay_us, shim, in_flight=None):
    env = {k: v for k, v in os.environ.items()
           if k not in ("LD_PRELOAD", "HALVARD_IN_FLIGHT", "HALVARD_LATENCY_US",
                        "HALVARD_LATENCY_LOG")}
    if delay_us > 0:
        env.update(LD_PRELOAD=shim, HALVARD_LATENCY_US=str(delay_us),
                   HALVARD_LATENCY_PREFIX=repo, HALVARD_LATENCY_LOG=LOG)
    if in_flight is not None:
        env["HALVARD_IN_FLIGHT"] = str(in_flight)
    return env


def shim_log():
    """(round trips, [(seconds, stack bytes) of each thread made]) of the last run."""
    trips, threads = 0, []
    with open(LOG) as f:
        for line in f:
            words = line.split()
            if words[0] == "round_trips":
                trips = int(words[1])
            elif words[0] == "thread":
                threads.append((int(words[1]) / 1e6, int(words[2])))
    os.remove(LOG)
    return trips, threads


def growth(threads):
    """The workers (threads of more than 64 KiB of stack) made in bursts: [(seconds, total)]."""
    times = sorted(t for t, stack in threads if stack > 65536)
    steps = []
    for i, t in enumerate(times):
        if i + 1 == len(times) or times[i + 1] - t > 0.002:
            steps.append((t, i + 1))
    return steps


def shown_growth(steps):
    """When the workers first reached 32, 64, 128, 256 (or more than the last):
    "32@0.03s 64@0.09s 128@0.17s"."""
    if not steps:
        return "alone"
    shown, target = [], 32
    for t, count in steps:
        if count >= target:
            shown.append("%d@%.2fs" % (count, t))
            while target <= count:
                target *= 2
    return " ".join(shown) or "%d@%.2fs" % (steps[-1][1], steps[-1][0])


def tree_depth(repo):
    """Round trips on the longest path of the walk: 3 for each directory listed above the
    deepest set (a failed open, the directory open, the listing), 1 for the set."""
    deepest = 0
    for top, dirs, files in os.walk(repo):
        if any(name.lower() == "drvset.ini" for name in files):
            deepest = max(deepest, os.path.relpath(top, repo).count(os.sep) + 1)
            dirs[:] = []
    return 3 * deepest + 1


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

    def tool(self, tool, repo, delay, in_flight=None, options=("/W:5", "/B:OUT.bat")):
        if os.path.exists(self.batch):
            os.remove(self.batch)
        argv = [tool, repo] + list(options)
        wall, code, peak = spawn(argv, environment(repo, delay, self.args.shim, in_flight),
                                 self.stdout)
        if code != 0:
            sys.exit("latency: %s ended with %d" % (" ".join(argv), code))
        outputs = [self.stdout] + ([self.batch] if "/B:OUT.bat" in options else [])
        return wall, peak, digest(*outputs)

    def walker(self, repo, delay, extra=()):
        argv = [self.args.walker, repo, "Win2008Server"] + list(extra)
        wall, code, peak = spawn(argv, environment(repo, delay, self.args.shim), self.stdout)
        if code != 0:
            sys.exit("latency: the walker ended with %d" % code)
        return wall


def narrow_type(repo):
    with open(os.path.join(repo, ".complete")) as f:
        return json.load(f)["params"]["narrow_type"]


def command_lines(repo):
    """The command lines of run.sh: (label, tool options, walker arguments)."""
    narrow = str(narrow_type(repo))
    return [("broad", ("/W:5",), ()), ("narrow", ("/W:5", "/M:" + narrow), (narrow,)),
            ("batch", ("/W:5", "/B:OUT.bat"), ())]


def local_disk(runner, n, repo, records):
    """Alternating rounds on the local disk: walker, tool, baseline, in turning order,
    for each command line."""
    args = runner.args
    programs = [("tool", args.tool)] + ([("baseline", args.baseline)] if args.baseline else [])
    for label, options, extra in command_lines(repo):
        for _ in range(2):  # warm-up
            runner.walker(repo, 0, extra)
            for _, path in programs:
                runner.tool(path, repo, 0, options=options)
        times = {"walker": []}
        times.update({name: [] for name, _ in programs})
        ratios = {name: [] for name, _ in programs}
        for k in range(args.local_runs):
            order = ["walker"] + [name for name, _ in programs]
            order = order[k % len(order):] + order[:k % len(order)]
            this_round = {}
            for name in order:
                if name == "walker":
                    this_round[name] = runner.walker(repo, 0, extra)
                else:
                    this_round[name] = runner.tool(dict(programs)[name], repo, 0,
                                                   options=options)[0]
            for name, wall in this_round.items():
                times[name].append(wall)
            for name, _ in programs:
                ratios[name].append(this_round[name] / this_round["walker"])
        record = {"kind": "local", "n": n, "label": label, "runs": args.local_runs,
                  "walker_ms": statistics.median(times["walker"]) * 1000}
        for name, _ in programs:
            record[name + "_ms"] = statistics.median(times[name]) * 1000
            record[name + "_ratio"] = statistics.median(ratios[name])
        records.append(record)
        print("  N=%-6d local %-6s walker %7.1f ms  tool %7.1f ms  ratio %.3f%s" % (
            n, label, record["walker_ms"], record["tool_ms"], record["tool_ratio"],
            "  baseline ratio %.3f" % record["baseline_ratio"] if args.baseline else ""),
            flush=True)


def timed_tool(runner, path, repo, delay, runs, reference):
    """Median wall time, peak RSS, same output, round trips and growth of a tool."""
    walls, peaks, same, steps, trips = [], [], True, [], 0
    for _ in range(runs):
        wall, peak, output = runner.tool(path, repo, delay)
        trips, threads = shim_log()
        walls.append(wall)
        peaks.append(peak)
        same = same and output == reference
        if len(walls) == 1 or wall == statistics.median(walls):
            steps = growth(threads)
    return {"s": statistics.median(walls), "runs": len(walls), "peak_kib": max(peaks),
            "same": same, "round_trips": trips, "growth": steps}


def delayed(runner, n, repo, delay, reference, records, walker_trips):
    args = runner.args
    runs = args.runs if n <= 2000 or delay <= 1000 else 1
    local = [r for r in records if r["kind"] == "local" and r["n"] == n and r["label"] == "batch"]
    walker_local = local[0]["walker_ms"] / 1000 if local else 0.0
    estimate = walker_local + walker_trips.get(n, 0) * delay / 1e6
    if n in walker_trips and estimate > args.walker_max_s:
        walker_s, computed = estimate, True
    else:
        walker = []
        for _ in range(1 if n > 2000 or delay > 1000 else runs):
            walker.append(runner.walker(repo, delay))
            walker_trips[n], _ = shim_log()
        walker_s, computed = statistics.median(walker), False
    tool = timed_tool(runner, args.tool, repo, delay, runs, reference)
    most = max([count for _, count in tool["growth"]] or [1])
    depth = tree_depth(repo)
    record = {"kind": "latency", "n": n, "delay_us": delay, "walker_s": walker_s,
              "walker_computed": computed, "walker_round_trips": walker_trips.get(n),
              "tool_s": tool["s"], "tool_runs": tool["runs"], "peak_kib": tool["peak_kib"],
              "same_output": tool["same"], "round_trips": tool["round_trips"],
              "growth": tool["growth"], "depth_round_trips": depth,
              "limit_s": (tool["round_trips"] / most + depth) * delay / 1e6}
    if args.baseline:
        base = timed_tool(runner, args.baseline, repo, delay, runs, reference)
        record.update(baseline_s=base["s"], baseline_growth=base["growth"])
        record["same_output"] = record["same_output"] and base["same"]
    if str(n) in args.alone_sizes.split() and delay <= 5000:
        wall, _, output = runner.tool(args.tool, repo, delay, in_flight=1)
        shim_log()
        record["alone_s"] = wall
        record["same_output"] = record["same_output"] and output == reference
    records.append(record)
    print("  N=%-6d %5.1f ms  walker %8.2f s%s  tool %7.3f s  x%.1f%s  limit %.3f s  %s%s" % (
        n, delay / 1000, walker_s, " (computed)" if computed else "", record["tool_s"],
        walker_s / record["tool_s"],
        "  baseline %.3f s x%.1f" % (record["baseline_s"], walker_s / record["baseline_s"])
        if args.baseline else "", record["limit_s"], shown_growth(record["growth"]),
        "" if record["same_output"] else "  OUTPUT DIFFERS"), flush=True)


def report(records):
    local = [r for r in records if r["kind"] == "local"]
    latency = [r for r in records if r["kind"] == "latency"]
    writes = [r for r in records if r["kind"] == "writes"]
    if latency:
        print()
        print("Delayed round trips (open, directory open, first listing read, stat by path);"
              " walker* computed from its round trips:")
        print("| N | delay | walker (sequential floor) | tool | walker/tool | baseline |"
              " walker/baseline | limit | in flight over the walk | tool alone |"
              " tool peak RSS | same output |")
        print("|---|---|---|---|---|---|---|---|---|---|---|---|")
        for r in latency:
            alone = "%.2f s" % r["alone_s"] if "alone_s" in r else "-"
            base = ("%.3f s | %.1fx" % (r["baseline_s"], r["walker_s"] / r["baseline_s"])
                    if "baseline_s" in r else "- | -")
            print("| %d | %.1f ms | %.2f s%s | %.3f s | %.1fx | %s | %.3f s | %s | %s |"
                  " %.1f MiB | %s |" % (
                      r["n"], r["delay_us"] / 1000, r["walker_s"],
                      "*" if r.get("walker_computed") else "", r["tool_s"],
                      r["walker_s"] / r["tool_s"], base, r.get("limit_s", 0),
                      shown_growth(r.get("growth", [])), alone, r["peak_kib"] / 1024,
                      "yes" if r["same_output"] else "NO"))
    if local:
        print()
        print("Local disk, warm (medians; ratios: median of the per-round ratios):")
        print("| N | command | walker | tool | tool/walker | baseline | baseline/walker |")
        print("|---|---|---|---|---|---|---|")
        for r in local:
            base = ("%.1f ms | %.3f" % (r["baseline_ms"], r["baseline_ratio"])
                    if "baseline_ms" in r else "- | -")
            print("| %d | %s | %.1f ms | %.1f ms | %.3f | %s |" % (
                r["n"], r.get("label", "batch"), r["walker_ms"], r["tool_ms"],
                r["tool_ratio"], base))
    if writes:
        print()
        print("Write calls on standard output (strace -f), local disk:")
        print("| N | options | program | writes |")
        print("|---|---|---|---|")
        for r in writes:
            print("| %d | %s | %s | %d |" % (r["n"], r["options"], r["program"], r["writes"]))


def main():
    global WORK, LOG
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--tool", required=True)
    parser.add_argument("--walker", required=True)
    parser.add_argument("--shim", required=True)
    parser.add_argument("--repos", required=True)
    parser.add_argument("--baseline")
    parser.add_argument("--sizes", default="2000 20000")
    parser.add_argument("--delays", default="0 200 1000 5000 20000 50000")
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--local-runs", type=int, default=15)
    parser.add_argument("--alone-sizes", default="2000")
    parser.add_argument("--walker-max-s", type=float, default=300.0,
                        help="compute the walker's time where it would take longer")
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
    LOG = os.path.join(WORK, "shim.log")
    runner = Runner(args)
    records = []
    walker_trips = {}
    for n in [int(s) for s in args.sizes.split()]:
        repo = os.path.join(args.repos, "repo-%d" % n)
        _, _, reference = runner.tool(args.tool, repo, 0, in_flight=1)
        for delay in [int(d) for d in args.delays.split()]:
            if delay == 0:
                local_disk(runner, n, repo, records)
            else:
                delayed(runner, n, repo, delay, reference, records, walker_trips)
    if args.out:
        with open(args.out, "a") as f:
            for r in records:
                f.write(json.dumps(r) + "\n")
    else:
        report(records)
    return 0


if __name__ == "__main__":
    sys.exit(main())
