#!/usr/bin/env python3
"""Runs the shares suite's command lines on the local trees and through each mount, and
compares every run with the local one walking alone.

    python3 tests/shares/compare.py --native halvard [--windows halvard.exe] [-k TEXT]

Meant to run under scripts/shares.sh, whose variables say where the trees are and where each
mount shows them (tests/shares/run.sh does both). For each build (the Windows one under
Wine) and command line, the run on the local disk with HALVARD_IN_FLIGHT=1 is the
reference; the local runs with requests in flight and every run through a mount, walking
alone (1), with 8 in flight and deciding by itself (unset), must give the same standard
output, exit code and batch file, byte for byte, once the mount's prefix is replaced by the
local one. Batch files are written to a local directory (the shares are read-only).

Closing line: "shares: N passed, N failed, N skipped", a skipped being a client that could
not be mounted here; each such one has a line "shares: skipped: CLIENT: WHY" before it.
"""
import argparse
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

from trees import CASES  # noqa: E402

CLIENTS = [("smbnetfs", "HALVARD_SHARE_SMBNETFS"), ("sshfs", "HALVARD_SHARE_SSHFS")]
MODES = ["1", "8", None]  # HALVARD_IN_FLIGHT; None leaves it unset


class Build:
    def __init__(self, name, exe, windows):
        self.name = name
        self.exe = os.path.abspath(exe)
        self.windows = windows

    def spell(self, unix_path):
        """A path as this build is given it and prints it (Wine maps / to Z:)."""
        return "Z:" + unix_path.replace("/", "\\") if self.windows else unix_path


class Run:
    def __init__(self, rc, out, err, files):
        self.rc = rc
        self.out = out
        self.err = err
        self.files = files  # what the run left in its directory: name -> bytes

    def replaced(self, old, new):
        o, n = old.encode(), new.encode()
        return Run(self.rc, self.out.replace(o, n), self.err.replace(o, n),
                   {k: v.replace(o, n) for k, v in self.files.items()})


def run_case(build, case, root, mode, work):
    """Runs one command line on the trees below root (a Unix path) in an emptied work
    directory. Output goes through files: Wine's server would hold a pipe open."""
    tree = build.spell(os.path.join(root, case.tree))
    command = [build.exe] + [a.replace("{tree}", tree) for a in case.args]
    env = dict(os.environ)
    env.pop("HALVARD_IN_FLIGHT", None)
    if mode is not None:
        env["HALVARD_IN_FLIGHT"] = mode
    if build.windows:
        env["WINEDEBUG"] = "-all"
        command = [os.environ.get("HALVARD_WINE") or "wine"] + command
    run = run_once(command, work, env, build.windows)
    # Every run of the program prints its start line first: a Windows run that printed
    # nothing never started (Wine failed to), and is made once more, saying so.
    if build.windows and run.out == b"" and run.rc != 0:
        print("shares: Wine did not start %s (exit %s: %r); once more" %
              (" ".join(case.args), run.rc, run.err[:300]))
        run = run_once(command, work, env, build.windows)
    # Wine itself may write to standard error; the native build never does.
    return Run(run.rc, run.out, b"" if build.windows else run.err, run.files)


def run_once(command, work, env, windows):
    for name in os.listdir(work):
        os.remove(os.path.join(work, name))
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        try:
            rc = subprocess.run(command, cwd=work, env=env, stdin=subprocess.DEVNULL,
                                stdout=out, stderr=err,
                                timeout=120 if windows else 60).returncode
        except subprocess.TimeoutExpired:
            rc = "timed out"
        out.seek(0)
        err.seek(0)
        files = {}
        for name in os.listdir(work):
            with open(os.path.join(work, name), "rb") as f:
                files[name] = f.read()
        return Run(rc, out.read(), err.read(), files)


def first_difference(expected, actual):
    a, b = expected.split(b"\n"), actual.split(b"\n")
    for i, (x, y) in enumerate(zip(a, b)):
        if x != y:
            return "line %d: expected %r, got %r" % (i + 1, x, y)
    return "expected %d lines, got %d" % (len(a), len(b))


def differences(expected, actual):
    found = []
    if actual.rc != expected.rc:
        found.append("exit code %s, expected %s" % (actual.rc, expected.rc))
    if actual.out != expected.out:
        found.append("standard output differs, " + first_difference(expected.out, actual.out))
    if actual.err != expected.err:
        found.append("standard error differs: %r" % actual.err[:200])
    if sorted(actual.files) != sorted(expected.files):
        found.append("files written %s, expected %s" % (sorted(actual.files),
                                                        sorted(expected.files)))
    for name in sorted(set(actual.files) & set(expected.files)):
        if actual.files[name] != expected.files[name]:
            found.append(name + " differs, " +
                         first_difference(expected.files[name], actual.files[name]))
    return found


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--native", required=True, help="the Linux build")
    parser.add_argument("--windows", help="the Windows build, run under Wine")
    parser.add_argument("-k", dest="pattern", help="only command lines whose name holds this")
    args = parser.parse_args()

    local = os.environ.get("HALVARD_SHARE_LOCAL")
    if not local:
        sys.exit("compare.py: run it under scripts/shares.sh (tests/shares/run.sh does)")
    places = [("local", local)]
    skipped = []
    for client, variable in CLIENTS:
        if os.environ.get(variable):
            places.append((client, os.environ[variable]))
        else:
            skipped.append((client, os.environ.get(variable + "_WHY") or "not mounted"))
    builds = [Build("native", args.native, False)]
    if args.windows:
        builds.append(Build("windows", args.windows, True))
    cases = [c for c in CASES if not args.pattern or args.pattern in c.name()]

    # A timeout's SIGTERM ends the run through the cleanup below.
    signal.signal(signal.SIGTERM, lambda number, frame: sys.exit(143))
    work = tempfile.mkdtemp(prefix="halvard-shares-out.")
    passed = failed = 0
    started = time.monotonic()
    try:
        for build in builds:
            spent = {}  # seconds of runs per place
            for case in cases:
                if build.windows and not case.windows:
                    continue
                reference = run_case(build, case, local, "1", work)
                if reference.rc != case.rc:
                    print("FAIL %s local alone: exit code %s, expected %s: %s" % (
                        build.name, reference.rc, case.rc, case.name()))
                    failed += 1
                    continue
                for place, root in places:
                    if place in case.skip:
                        continue
                    for mode in MODES:
                        if place == "local" and mode == "1":
                            continue
                        began = time.monotonic()
                        run = run_case(build, case, root, mode, work)
                        spent[place] = spent.get(place, 0) + time.monotonic() - began
                        found = differences(reference, run.replaced(build.spell(root),
                                                                    build.spell(local)))
                        what = "%s %s in flight %s: %s" % (build.name, place, mode or "unset",
                                                           case.name())
                        if found:
                            failed += 1
                            print("FAIL " + what)
                            for line in found:
                                print("    " + line)
                        else:
                            passed += 1
            print("shares: %s build done after %.0f s (%s; %d passed, %d failed so far)" % (
                build.name, time.monotonic() - started,
                ", ".join("%s %.0f s" % item for item in spent.items()), passed, failed))
    finally:
        shutil.rmtree(work, True)
    for client, why in skipped:
        print("shares: skipped: %s: %s" % (client, why))
    print("shares: %d passed, %d failed, %d skipped" % (passed, failed, len(skipped)))
    return 0 if failed == 0 and passed > 0 else 1


if __name__ == "__main__":
    sys.exit(main())
