#!/usr/bin/env python3
"""Times the tool and the minimal walker on generated repositories on the local disk and
through each mount of scripts/shares.sh (run it under that script: bench/shares.sh does).

    shares.py --tool HALVARD --walker WALKER --sizes "300 2000" --runs K --work DIR

Each line times four commands on REPO = <share>/repo-N, from DIR, standard output to
/dev/null: the tool alone (HALVARD_IN_FLIGHT=1), the tool as it decides by itself
(HALVARD_IN_FLIGHT unset), the tool with 32 requests in flight, each as
`halvard REPO /W:5 /B:OUT.bat`, and the sequential probe-first floor
`minimal_walker REPO Win2008Server`. One untimed run of each first checks the output: the
tool's standard output and batch file must be those of the tool alone on the local disk
once the mount's prefix is replaced, the walker's counts those of the walker there. Then K
rounds, each running the four in turn; printed are the medians.
"""
import argparse
import os
import statistics
import subprocess
import sys
import time

COMMANDS = [("alone", "1"), ("adaptive", None), ("32 in flight", "32"), ("floor", None)]


def run(command, work, in_flight, capture):
    env = dict(os.environ)
    env.pop("HALVARD_IN_FLIGHT", None)
    if in_flight is not None:
        env["HALVARD_IN_FLIGHT"] = in_flight
    out = subprocess.PIPE if capture else subprocess.DEVNULL
    began = time.monotonic()
    result = subprocess.run(command, cwd=work, env=env, stdin=subprocess.DEVNULL, stdout=out,
                            stderr=subprocess.STDOUT, timeout=600)
    return time.monotonic() - began, result.returncode, result.stdout


def command_of(label, args, repo):
    if label == "floor":
        return [args.walker, repo, "Win2008Server"]
    return [args.tool, repo, "/W:5", "/B:OUT.bat"]


def checked_output(label, args, repo, in_flight):
    """What one run printed (and wrote), the same for every place once prefixes match."""
    batch = os.path.join(args.work, "OUT.bat")
    if os.path.exists(batch):
        os.remove(batch)
    _, rc, out = run(command_of(label, args, repo), args.work, in_flight, True)
    written = b""
    if label != "floor":
        with open(batch, "rb") as f:
            written = f.read()
    return rc, out, written


def measure(args, place, root, n, references):
    repo = os.path.join(root, "repo-%d" % n)
    local_repo = os.path.join(args.local, "repo-%d" % n)
    problems = []
    for label, in_flight in COMMANDS:
        rc, out, written = checked_output(label, args, repo, in_flight)
        out = out.replace(repo.encode(), local_repo.encode())
        written = written.replace(repo.encode(), local_repo.encode())
        key = (n, "floor" if label == "floor" else "tool")
        references.setdefault(key, (rc, out, written))
        if (rc, out, written) != references[key]:
            problems.append(label)
    times = {label: [] for label, _ in COMMANDS}
    for _ in range(args.runs):
        for label, in_flight in COMMANDS:
            seconds, _, _ = run(command_of(label, args, repo), args.work, in_flight, False)
            times[label].append(seconds)
    return {label: statistics.median(values) for label, values in times.items()}, problems


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--tool", required=True)
    parser.add_argument("--walker", required=True)
    parser.add_argument("--sizes", default="300 2000")
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--work", required=True)
    args = parser.parse_args()
    args.local = os.environ.get("HALVARD_SHARE_LOCAL")
    if not args.local:
        sys.exit("shares.py: run it under scripts/shares.sh (bench/shares.sh does)")

    places = [("local disk", args.local)]
    for client in ("sshfs", "smbnetfs"):
        root = os.environ.get("HALVARD_SHARE_" + client.upper())
        if root:
            places.append((client, root))
        else:
            why = os.environ.get("HALVARD_SHARE_%s_WHY" % client.upper())
            print("shares: %s not measured: %s" % (client, why))
    references = {}  # the local disk's output, seen first
    rows = []
    failed = False
    for place, root in places:
        for n in [int(s) for s in args.sizes.split()]:
            medians, problems = measure(args, place, root, n, references)
            if problems:
                failed = True
                print("shares: OUTPUT CHECK FAILED on %s at %d sets: %s" % (
                    place, n, ", ".join(problems)))
            rows.append((place, n, medians))
            print("shares: %s, %d sets done" % (place, n), file=sys.stderr)

    print()
    print("| client | sets | alone | adaptive | 32 in flight | floor (walker) |")
    print("|---|---|---|---|---|---|")
    for place, n, m in rows:
        alone = m["alone"]
        print("| %s | %d | %.3f s | %.3f s (%.1fx) | %.3f s (%.1fx) | %.3f s |" % (
            place, n, alone, m["adaptive"], alone / m["adaptive"], m["32 in flight"],
            alone / m["32 in flight"], m["floor"]))
    print()
    print("Medians of %d rounds; (Nx): the tool alone over that line. Output checked: %s." % (
        args.runs, "FAILED" if failed else "the same bytes everywhere"))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
