#!/usr/bin/env python3
"""Prints the benchmark tables from the JSON lines that run.sh collected.

    report.py RESULTS.jsonl

Records: "time" (time_runs.py), "strace" (strace_counts.py), "rss" and
"rss_floor" (run.sh, from peak_rss.py). The targets checked are those of the
largest repository in the file: tool time at most 1.5 times the walker's (median
of the per-pair ratios), exactly one open of each descriptor, at most one listing
per directory without descriptor and none of set directories or their payload, no
stat per listed entry, peak RSS under 64 MiB, and growth from the smallest to the
largest repository at most 11 times (median tool times; with two sizes only).
"""

import json
import statistics
import sys

MAX_RATIO = 1.5
MAX_RSS_KIB = 64 * 1024
MAX_GROWTH = 11.0
LABELS = ["broad", "narrow", "batch"]


def load(path):
    with open(path, encoding="utf-8") as f:
        return [json.loads(line) for line in f if line.strip()]


def merged_times(records):
    """One timing record per size and command line: the rounds' runs pooled."""
    merged = {}
    for r in records:
        key = (r["n"], r["label"])
        if key not in merged:
            merged[key] = dict(r, check=dict(r["check"]))
            continue
        m = merged[key]
        for field in ("tool_ms", "walker_ms", "ratios", "tool_cpu_ms", "walker_cpu_ms",
                      "cpu_ratios"):
            m[field] = m.get(field, []) + r.get(field, [])
        m["check"]["ok"] = m["check"]["ok"] and r["check"]["ok"]
    for m in merged.values():
        m["median_tool_ms"] = statistics.median(m["tool_ms"])
        m["median_walker_ms"] = statistics.median(m["walker_ms"])
        m["median_ratio"] = statistics.median(m["ratios"])
        if m.get("tool_cpu_ms"):
            m["median_tool_cpu_ms"] = statistics.median(m["tool_cpu_ms"])
            m["median_walker_cpu_ms"] = statistics.median(m["walker_cpu_ms"])
        if m.get("cpu_ratios"):
            m["median_cpu_ratio"] = statistics.median(m["cpu_ratios"])
    return list(merged.values())


def ordered(records):
    def key(r):
        label = r.get("label", "")
        return (r.get("n", 0), LABELS.index(label) if label in LABELS else 99, label,
                r.get("program", ""))
    return sorted(records, key=key)


def timing_table(times, failures, largest):
    print("Wall time and CPU time (user + system), standard output to /dev/null;"
          " medians over the timed pairs")
    print("  %-7s %-7s %10s %10s %7s %8s %9s %9s %7s  %s" % (
        "N", "command", "tool ms", "walker ms", "ratio", "target", "tool cpu", "walk cpu",
        "ratio", "output check"))
    for r in ordered(times):
        check = r["check"]
        target = ""
        if r["n"] == largest:
            ok = r["median_ratio"] <= MAX_RATIO
            target = "ok" if ok else "FAIL"
            if not ok:
                failures.append("N=%d %s: time ratio %.2f > %.1f"
                                % (r["n"], r["label"], r["median_ratio"], MAX_RATIO))
        if check["ok"]:
            shown = "sets %d, matches %d" % tuple(check["tool"])
        else:
            shown = "MISMATCH tool %s rc %s, walker %s rc %s" % (
                check["tool"], check["tool_rc"], check["walker"], check["walker_rc"])
            failures.append("N=%d %s: %s" % (r["n"], r["label"], shown))
        print("  %-7d %-7s %10.1f %10.1f %7.2f %8s %9.1f %9.1f %7.2f  %s" % (
            r["n"], r["label"], r["median_tool_ms"], r["median_walker_ms"],
            r["median_ratio"], target, r.get("median_tool_cpu_ms", 0.0),
            r.get("median_walker_cpu_ms", 0.0), r.get("median_cpu_ratio", 0.0), shown))


def growth_table(times, failures):
    sizes = sorted({r["n"] for r in times})
    if len(sizes) < 2:
        return
    low, high = sizes[0], sizes[-1]
    by = {(r["n"], r["label"]): r for r in times}
    print("\nGrowth of the median time from N=%d to N=%d (tool/walker: the tool's growth"
          " over the walker's, which the machine's caches move much less)" % (low, high))
    print("  %-7s %8s %8s %12s %8s" % ("command", "tool", "walker", "tool/walker", "target"))
    for label in LABELS:
        if (low, label) not in by or (high, label) not in by:
            continue
        tool = by[(high, label)]["median_tool_ms"] / by[(low, label)]["median_tool_ms"]
        walker = by[(high, label)]["median_walker_ms"] / by[(low, label)]["median_walker_ms"]
        ok = tool <= MAX_GROWTH
        if not ok:
            failures.append("%s: growth %.1f > %.0f" % (label, tool, MAX_GROWTH))
        print("  %-7s %8.2f %8.2f %12.2f %8s" % (label, tool, walker, tool / walker,
                                                 "ok" if ok else "FAIL"))


def strace_table(traces, failures, largest):
    if not traces:
        return
    print("\nSystem calls (strace; per set, per directory without descriptor, per entry)")
    print("  %-6s %-7s %-6s %10s %6s %11s %8s %8s %7s %9s %7s  %s" % (
        "N", "command", "prog", "opens/set", "reads", "listings/dir", "set-dir", "payload",
        "stat/e", "fd-stats", "writes", "verdict"))
    for r in ordered(traces):
        f = r["figures"]
        if r["program"] == "tool" and r["n"] == largest:
            failures.extend("N=%d %s: %s" % (r["n"], r["label"], p) for p in r["problems"])
        print("  %-6d %-7s %-6s %5.3f(%d-%d) %6.2f %6.3f(max%d) %8d %8d %7.3f %9d %7d  %s" % (
            r["n"], r["label"], r["program"], f["opens_per_set"], f["opens_min"],
            f["opens_max"], f["reads_per_set"], f["listings_per_plain_dir"],
            f["listings_plain_max"], f["listings_exact_set_dirs"], f["listings_payload"],
            f["entry_stats_per_entry"], f["fd_stats"], f["stdout_writes"],
            "; ".join(r["problems"]) if r["problems"] else "ok"))
    last = ordered(traces)[-1]
    f = last["figures"]
    print("  (N=%d: %d sets, %d with the descriptor in other case, %d directories without"
          " descriptor, %d entries listed)" % (last["n"], f["sets"], f["sets_other_case"],
                                               f["plain_dirs"], f["entries_listed"]))


def rss_table(rss, floors, failures, largest):
    print("\nPeak resident memory (MiB)")
    if floors:
        print("  (measurement floor, /bin/true measured the same way: %.1f MiB;"
              " <=F: at most the floor)" % (floors[-1]["peak_kib"] / 1024.0))
    print("  %-7s %-7s %8s %8s %8s" % ("N", "command", "tool", "walker", "target"))
    floor = floors[-1]["peak_kib"] if floors else 0
    by = {(r["n"], r["label"], r["program"]): r["peak_kib"] for r in rss}

    def shown(kib):
        if kib is None:
            return "-"
        if kib <= floor + 64:
            return "<=%.1f" % (max(kib, floor) / 1024.0)
        return "%.1f" % (kib / 1024.0)

    for n, label in sorted({(r["n"], r["label"]) for r in rss},
                           key=lambda k: (k[0], LABELS.index(k[1]) if k[1] in LABELS else 99)):
        tool = by.get((n, label, "tool"))
        walker = by.get((n, label, "walker"))
        target = ""
        if tool is not None and n == largest:
            target = "ok" if tool < MAX_RSS_KIB else "FAIL"
            if tool >= MAX_RSS_KIB:
                failures.append("N=%d %s: peak RSS %.1f MiB" % (n, label, tool / 1024.0))
        print("  %-7d %-7s %8s %8s %8s" % (
            n, label, shown(tool), shown(walker), target))


def main(argv):
    if len(argv) != 1:
        sys.exit("usage: report.py RESULTS.jsonl")
    records = load(argv[0])
    kinds = {}
    for r in records:
        kinds.setdefault(r["kind"], []).append(r)
    sizes = {r["n"] for r in records if "n" in r}
    largest = max(sizes) if sizes else 0
    failures = []
    times = merged_times(kinds.get("time", []))
    timing_table(times, failures, largest)
    growth_table(times, failures)
    strace_table(kinds.get("strace", []), failures, largest)
    rss_table(kinds.get("rss", []), kinds.get("rss_floor", []), failures, largest)
    print()
    if failures:
        print("Targets missed (N=%d):" % largest)
        for failure in failures:
            print("  - " + failure)
        return 1
    print("All targets met (N=%d)." % largest)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
