#!/usr/bin/env python3
"""A share that fails now and then must never stage the wrong drivers.

Runs the program on random repositories under random fault schedules made by
fault_shim.c (an LD_PRELOAD library that fails the n-th open, listing or read
below a root with a given errno, k times or for ever), walking alone and with
requests in flight, and checks every run against the run without faults:

- transient (a call fails once or twice, the retries get through): standard
  output, exit code and batch file are the fault-free run's, byte for byte;
- lasting (fails for ever): the fault-free run's outcome (the call may not
  matter), or exit code 6 with "Error reading:PATH (REASON)" as the last line
  (PATH one the schedule failed, REASON its errno's text) and the batch file
  left as it was (absent, or an earlier one untouched); exit code 4 only when
  the failing path is the driver path itself; a failure only on paths the walk
  alone never reads or lists gives the fault-free outcome;
- denied (EACCES or EPERM for ever on one path): no "Error reading:" line, an
  exit code of a finished search, and the same outcome alone and in flight.

    run_faults.py --exe build-faults/halvard [--platform native|windows]
                  [--seed S] [--cases N] [--lasting N] [--time-box SECONDS]
                  [--jobs J] [--case I] [--shim PATH] [--keep]

The closing line counts the runs: "faults: N passed, N failed". A failing run
is printed in full (its repository, command line, schedule, the failures the
shim made and the differences) with the command that repeats its case.
Exit code 0 when every run passed, 1 when one failed, 77 when the program
cannot be run with the shim (a static program: LD_PRELOAD does not reach it).
"""
import argparse
import concurrent.futures
import difflib
import errno as errnos
import os
import queue
import random
import re
import shutil
import subprocess
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
FAILED_ERRNOS = ["EIO", "ETIMEDOUT", "ESTALE", "ENOTCONN", "EHOSTDOWN", "ECONNRESET", "EMFILE"]
DENIED_ERRNOS = ["EACCES", "EPERM"]
SENTINEL = b"rem an earlier batch file, to be left as it is\r\n"
ERROR_LINE = re.compile(r"^Error reading:(.*) \((.*)\)$")

VERSIONS = ["Win2000Server", "Win2003Server", "Win2000Pro", "WinXP", "Win2003Serverx64",
            "Win2008Server", "Win2008Serverx64", "WinPE21x86", "WinPE21x64"]
MONTHS = ["Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"]
TYPES = ["6123", "7340", "8677", "9001", "5512"]
# Media files and the version each one names.
MEDIA = [
    ("sources/idwbinfo.txt", "[BUILDINFO]\r\nBuildBranch=lh_rtm\r\nBuildArch=x86\r\n",
     "Win2008Server"),
    ("sources/idwbinfo.txt", "[BUILDINFO]\r\nBuildBranch=lh_rtm\r\nBuildArch=amd64\r\n",
     "Win2008Serverx64"),
    ("i386/PRODSPEC.INI", "[Product Specification]\r\nVersion=5.2\r\n"
     "Product=Windows Server 2003, Standard Edition\r\n", "Win2003Server"),
]


# ---------------------------------------------------------------------------
# Repositories

class Case:
    """One random repository with its media and command line, in its own folder."""

    def __init__(self, index, seed, base, platform):
        self.index = index
        self.rng = random.Random("%d/%d" % (seed, index))
        self.dir = os.path.join(base, "case%03d" % index)
        self.share = os.path.join(self.dir, "share")  # everything the faults may hit
        self.repo = os.path.join(self.share, "repo")
        self.media = os.path.join(self.share, "media")
        self.batch = os.path.join(self.dir, "out", "DrvSet.bat")
        self.platform = platform
        self.files = []  # (relative path, text) for the report
        self.make()

    def text(self, path):
        if self.platform == "windows":
            return "Z:" + path.replace("/", "\\")
        return path

    def write(self, path, text):
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "w", newline="") as f:
            f.write(text)
        self.files.append((os.path.relpath(path, self.share), text))

    def make(self):
        rng = self.rng
        os.makedirs(os.path.dirname(self.batch), exist_ok=True)
        media_file, media_text, media_version = rng.choice(MEDIA)
        use_media = rng.random() < 0.35
        target = media_version if use_media else rng.choice(VERSIONS)
        families = rng.sample(["Kastrel", "Quillon", "Storage", "Net Cards", "Video"],
                              rng.randint(1, 3))
        sets = []
        for k in range(rng.randint(3, 8)):
            parts = [rng.choice(families), rng.choice(["Win2003", "Win2008", "Misc"])]
            parts += rng.sample(["x86", "x64", "common", "old"], rng.randint(0, 2))
            parts.append("Rel_%d_%02d_%d" % (rng.randint(2005, 2012), rng.randint(1, 12), k))
            sets.append(parts)
        # One set below another set's folder (the walk does not enter a set) and one below a
        # folder without a descriptor (it does).
        sets.append(sets[0] + ["inner"])
        sets.append([families[0], "Updates", "Pending", "Rel_%d" % rng.randint(1, 99)])
        odd_case = rng.randrange(len(sets))
        for k, parts in enumerate(sets):
            version = target if rng.random() < 0.6 else rng.choice(VERSIONS)
            systems = ",".join(rng.sample(TYPES, rng.randint(1, 3)))
            day = "%02d %s %d" % (rng.randint(1, 28), rng.choice(MONTHS), rng.randint(2006, 2010))
            lines = ["[Main]", "Windows Version=" + version, "Supported Systems=" + systems,
                     "Kastrel Version=%d.%d" % (rng.randint(1, 9), rng.randint(0, 99)),
                     "Creation Date=" + day]
            if rng.random() < 0.6:
                lines.append("Creation Time=%02d:%02d:%02d" % (rng.randint(0, 23),
                                                             rng.randint(0, 59), 0))
            lines.append("BuildID=" + "-".join(parts))
            name = rng.choice(["drvset.ini", "DRVSET.INI"]) if k == odd_case else "DrvSet.ini"
            self.write(os.path.join(self.repo, *parts, name), "\r\n".join(lines) + "\r\n")
            if rng.random() < 0.5:
                self.write(os.path.join(self.repo, *parts, "x86", "drv.inf"), "[Version]\r\n")
        os.makedirs(os.path.join(self.repo, families[0], "Empty"), exist_ok=True)
        if self.platform == "native" and rng.random() < 0.5:
            # A folder reached again through a link is searched once. (A family
            # may hold no set: its folder is made here.)
            os.makedirs(os.path.join(self.repo, families[-1]), exist_ok=True)
            os.symlink("..", os.path.join(self.repo, families[-1], "up"))
        self.write(os.path.join(self.media, media_file), media_text)
        self.write(os.path.join(self.media, "boot", "bootfix.txt"), "placeholder\r\n")
        self.args = [self.text(self.repo)]
        if use_media:
            self.args.append("/WP:" + self.text(self.media))
        else:
            self.args.append("/W:%d" % VERSIONS.index(target))
        if rng.random() < 0.4:
            self.args.append("/M:" + ",".join(rng.sample(TYPES, rng.randint(1, 2))))
        self.args.append("/B:" + self.text(self.batch))


# ---------------------------------------------------------------------------
# Running the program

class Outcome:
    def __init__(self, rc, out, batch, failures, trace):
        self.rc = rc
        self.out = out          # standard output, LF line ends
        self.batch = batch      # the batch file's bytes, None when there is none
        self.failures = failures  # [(op, errno, path)] the shim made
        self.trace = trace      # [(op, path)] calls below the share (when traced)

    def key(self):
        return (self.rc, self.out, self.batch)


class Runner:
    """Runs the program with the shim. Each job has a slot of its own: a folder with the
    rules file and the shim's logs and, for the Windows build, a Wine prefix whose server
    (started by the slot's first run, with the shim in it) serves all of the slot's runs:
    it reads each run's rules afresh from the rules file."""

    def __init__(self, args, shim, work):
        self.exe = os.path.abspath(args.exe)
        self.platform = args.platform
        self.shim = shim
        self.work = work
        self.wine = os.environ.get("HALVARD_WINE") or "wine"
        self.slots = queue.Queue()
        self.all_slots = []
        self.timeout = 120 if self.platform == "windows" else 60

    def add_slot(self, directory, prefix=None):
        os.makedirs(directory, exist_ok=True)
        if prefix:
            self.start_server(directory, prefix)
        self.slots.put((directory, prefix))
        self.all_slots.append((directory, prefix))

    def shim_environment(self, slot, prefix):
        env = dict(os.environ)
        for name in ("HALVARD_IN_FLIGHT", "HALVARD_FAULTS", "HALVARD_FAULTS_BELOW"):
            env.pop(name, None)
        env.update({"LD_PRELOAD": self.shim,
                    "HALVARD_FAULTS_FILE": os.path.join(slot, "rules"),
                    "HALVARD_FAULTS_LOG": os.path.join(slot, "faults.log"),
                    "HALVARD_FAULTS_TRACE": os.path.join(slot, "trace.log")})
        if prefix:
            env.update({"WINEPREFIX": prefix, "WINEDEBUG": "-all", "HALVARD_FAULTS_RESOLVE": "1"})
        return env

    def start_server(self, slot, prefix):
        """A Wine server of the slot's own that stays for all of its runs, with the shim
        in it (Wine's server makes the opens), and the prefix's services started, so that
        a run costs what the program costs."""
        env = self.shim_environment(slot, prefix)
        subprocess.run(["wineserver", "-k"], env=env, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)
        subprocess.run(["wineserver", "-p"], env=env, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)
        subprocess.run([self.wine, "cmd", "/c", "exit"], env=env, stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=180)

    def stop_servers(self):
        for _, prefix in self.all_slots:
            if prefix:
                env = {**os.environ, "WINEPREFIX": prefix}
                subprocess.run(["wineserver", "-k"], env=env, stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL)
                subprocess.run(["wineserver", "-w"], env=env, stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL)

    def run(self, case, rules, in_flight, sentinel):
        """One run of the case's command under the rules (HALVARD_FAULTS lines)."""
        slot, prefix = self.slots.get()
        try:
            return self._run(case, rules, in_flight, sentinel, slot, prefix)
        finally:
            self.slots.put((slot, prefix))

    def _run(self, case, rules, in_flight, sentinel, slot, prefix):
        if sentinel:
            with open(case.batch, "wb") as f:
                f.write(SENTINEL)
        elif os.path.exists(case.batch):
            os.remove(case.batch)
        log = os.path.join(slot, "faults.log")
        trace = os.path.join(slot, "trace.log")
        rules_file = os.path.join(slot, "rules")
        for name in (log, trace):
            open(name, "w").close()
        # The first rule only counts: it makes the case's share the root of the trace.
        with open(rules_file + ".new", "w") as f:
            f.write("op=all;below=%s;nth=0\n%s\n" % (case.share, rules))
        os.replace(rules_file + ".new", rules_file)
        env = self.shim_environment(slot, prefix)
        if in_flight:
            env["HALVARD_IN_FLIGHT"] = in_flight
        command = [self.exe] + case.args
        if prefix:
            command = [self.wine] + command
        with tempfile.TemporaryFile() as out:
            rc = subprocess.run(command, cwd=case.dir, env=env, stdin=subprocess.DEVNULL,
                                stdout=out, stderr=subprocess.DEVNULL,
                                timeout=self.timeout).returncode
            out.seek(0)
            text = out.read().decode("utf-8", "surrogateescape").replace("\r\n", "\n")
        batch = None
        if os.path.exists(case.batch):
            with open(case.batch, "rb") as f:
                batch = f.read()
        failures = []
        with open(log, encoding="utf-8", errors="surrogateescape") as f:
            for line in f:
                fields = line.rstrip("\n").split("\t")
                failures.append((fields[0], int(fields[1]), fields[2]))
        with open(trace, encoding="utf-8", errors="surrogateescape") as f:
            calls = [tuple(line.rstrip("\n").split("\t", 1)) for line in f]
        return Outcome(rc, text, batch, failures, calls)


# ---------------------------------------------------------------------------
# Schedules and their checks

class Schedule:
    def __init__(self, kind, rules, note):
        self.kind = kind    # "transient", "lasting" or "denied"
        self.rules = rules  # the HALVARD_FAULTS text
        self.note = note


def make_schedules(case, trace, transient, lasting, denied):
    rng = case.rng
    by_op = {}
    for op, path in trace:
        by_op.setdefault(op, []).append(path)
    # Under Wine a failing listing never reaches the program as a failure: Wine's name
    # lookup takes a folder it cannot list for one without the name (a missing name, which
    # is no failure), and its directory search takes a listing that fails part way for its
    # end. Its server's opens and its reads give the program an NT error of their own.
    kinds = ("open", "read") if case.platform == "windows" else (
        "open", "opendir", "readdir", "read")
    ops = [op for op in kinds if by_op.get(op)]
    schedules = []

    def pick():
        op = rng.choice(ops)
        return op, rng.randint(1, len(by_op[op]))

    for _ in range(transient):
        op, n = pick()
        times = rng.choice([1, 2])
        part = ";part=1" if op == "read" and rng.random() < 0.5 else ""
        rule = "op=%s;below=%s;nth=%d;times=%d;errno=%s;same=%d%s" % (
            op, case.share, n, times, rng.choice(FAILED_ERRNOS), rng.randint(0, 1), part)
        schedules.append(Schedule("transient", rule, "call %d of %s fails %d time(s)" %
                                  (n, op, times)))
    for _ in range(lasting):
        op, n = pick()
        error = rng.choice(FAILED_ERRNOS)
        part = ";part=1" if op == "read" and rng.random() < 0.5 else ""
        style = rng.choice(["same", "all", "path"])
        if style == "path":  # one path fails for ever, from its first call
            path = by_op[op][n - 1]
            rule = "op=%s;below=%s;nth=1;times=0;errno=%s%s" % (op, path, error, part)
            note = "every %s of %s fails" % (op, path)
        else:
            rule = "op=%s;below=%s;nth=%d;times=0;errno=%s;same=%d%s" % (
                op, case.share, n, error, 1 if style == "same" else 0, part)
            note = "call %d of %s fails for ever (%s)" % (
                n, op, "that path" if style == "same" else "and every later one")
        schedules.append(Schedule("lasting", rule, note))
    for _ in range(denied):
        op = rng.choice([op for op in ops if op != "read"] or ops)
        path = rng.choice(by_op[op])
        rule = "op=%s;below=%s;nth=1;times=0;errno=%s" % (op, path, rng.choice(DENIED_ERRNOS))
        schedules.append(Schedule("denied", rule, "every %s of %s is denied" % (op, path)))
    return schedules


def check(case, schedule, clean, got, sentinel, walked):
    """What is wrong with a run (a list of texts; empty when it is right)."""
    before = SENTINEL if sentinel else None
    same = got.key() == clean.key()
    lines = got.out.rstrip("\n").split("\n")
    failed_paths = {path for _, _, path in got.failures}
    if schedule.kind == "transient":
        return [] if same else ["a transient failure changed the outcome"]
    if schedule.kind == "denied":
        problems = []
        if any(line.startswith("Error reading:") for line in lines):
            problems.append("a denied path is reported as a read error")
        if got.rc not in (0, 1, 4, 5):
            problems.append("exit code %d: a denied path must keep the search going" % got.rc)
        if got.rc in (0, 1) and got.batch in (None, SENTINEL):
            problems.append("exit code %d without a batch file written" % got.rc)
        return problems
    if same:
        return []
    if failed_paths and not failed_paths & walked:
        return ["a failure only on paths the walk alone never reads ended or changed the run"]
    problems = []
    root_failed = case.repo in failed_paths
    if got.rc == 6 or (got.rc == 4 and root_failed):
        if got.batch != before:
            problems.append("the batch file was written or removed on a failed run")
        match = ERROR_LINE.match(lines[-1]) if lines else None
        if got.rc == 6 and not match:
            problems.append('the last line does not begin with "Error reading:"')
        if match:
            # The path is one that failed, as the program spells it; natively the reason is
            # the C library's text for its errno (Windows has texts of its own).
            reasons = {case.text(path): os.strerror(error) for _, error, path in got.failures}
            if case.platform == "windows":
                # Names are matched without case there, and a request for a file may fail in
                # the open of its folder that Wine makes on the way.
                named = match.group(1).lower()
                if any(named in (p.lower(), p.lower() + "\\") or
                       named.rsplit("\\", 1)[0] == p.lower() for p in reasons):
                    reasons[match.group(1)] = match.group(2)
            if match.group(1) not in reasons:
                problems.append("the error line names %r, which never failed" % match.group(1))
            elif case.platform == "native" and match.group(2) != reasons[match.group(1)]:
                problems.append("the error line gives the reason %r, not %r" %
                                (match.group(2), reasons[match.group(1)]))
    else:
        problems.append("exit code %d after a lasting failure: 6%s, or the fault-free "
                        "outcome" % (got.rc, " or 4" if root_failed else ""))
    return problems


def describe(case, schedule, in_flight, clean, got, problems, sentinel, seed):
    out = ["", "=" * 78,
           "FAILED: case %d, %s schedule, HALVARD_IN_FLIGHT=%s%s" % (
               case.index, schedule.kind, in_flight or "(unset)",
               ", an earlier batch file in place" if sentinel else ""),
           "  " + "; ".join(problems),
           "  schedule: %s" % schedule.note,
           "  HALVARD_FAULTS='%s'" % schedule.rules,
           "  command: halvard " + " ".join("'%s'" % a for a in case.args),
           "  repeat: %s --exe EXE --seed %d --case %d --keep" % (sys.argv[0], seed, case.index),
           "  failures made:"]
    out += ["    %s %s %s" % (op, errnos.errorcode.get(e, e), p) for op, e, p in got.failures]
    out.append("  exit code %d, fault-free %d; batch file: %s, fault-free: %s" % (
        got.rc, clean.rc, batch_state(got.batch, clean.batch, sentinel),
        "written" if clean.batch is not None else "none"))
    diff = difflib.unified_diff(clean.out.split("\n"), got.out.split("\n"), "fault-free",
                                "with faults", lineterm="", n=2)
    out += ["  " + line for line in diff]
    out.append("  repository:")
    out += ["    %s: %r" % (name, text) for name, text in case.files]
    return "\n".join(out)


def batch_state(batch, clean, sentinel):
    if batch is None:
        return "none"
    if batch == SENTINEL:
        return "the earlier one, untouched" if sentinel else "?"
    return "as fault-free" if batch == clean else "written, differs"


# ---------------------------------------------------------------------------
# The run

def build_shim(directory):
    if not shutil.which("cc"):
        return None
    shim = os.path.join(directory, "fault_shim.so")
    built = subprocess.run(["cc", "-shared", "-fPIC", "-O2", "-o", shim,
                            os.path.join(HERE, "fault_shim.c"), "-ldl", "-lpthread"])
    return shim if built.returncode == 0 else None


def is_static_elf(path):
    with open(path, "rb") as f:
        header = f.read(64)
        if header[:4] != b"\x7fELF" or header[4] != 2:
            return False
        phoff = int.from_bytes(header[0x20:0x28], "little")
        entsize = int.from_bytes(header[0x36:0x38], "little")
        for i in range(int.from_bytes(header[0x38:0x3a], "little")):
            f.seek(phoff + i * entsize)
            if int.from_bytes(f.read(4), "little") == 3:  # PT_INTERP
                return False
    return True


class Tally:
    def __init__(self, deadline):
        self.lock = threading.Lock()
        self.passed = 0
        self.failed = 0
        self.left_out = 0
        self.by_kind = {}
        self.deadline = deadline
        self.show = 10  # failing runs printed in full; the others in one line

    def add(self, kind, ok, report=None):
        with self.lock:
            passed, failed = self.by_kind.get(kind, (0, 0))
            self.by_kind[kind] = (passed + ok, failed + (not ok))
            if ok:
                self.passed += 1
            else:
                self.failed += 1
                if self.failed <= self.show:
                    print(report, flush=True)
                else:
                    print(" | ".join(report.split("\n")[2:6]), flush=True)


def run_case(runner, args, index, base, tally):
    case = Case(index, args.seed, base, args.platform)
    rng = case.rng
    clean = runner.run(case, "", "1", False)
    walked = {path for _, path in clean.trace}
    # The fault-free outcome is the same at any number of requests in flight.
    for in_flight in ("8", ""):
        other = runner.run(case, "", in_flight, False)
        ok = other.key() == clean.key()
        tally.add("fault-free", ok, None if ok else describe(
            case, Schedule("fault-free", "", "no faults"), in_flight, clean, other,
            ["the fault-free outcome depends on the requests in flight"], False, args.seed))
    lasting = args.lasting // args.cases + (index < args.lasting % args.cases)
    denied = 1 if rng.random() < 0.5 else 0
    schedules = make_schedules(case, clean.trace, args.transient, lasting, denied)
    for schedule in schedules:
        outcomes = {}
        for in_flight in ("1", rng.choice(["8", "", "64"] if args.platform == "native"
                                          else ["8", ""])):
            if time.monotonic() > tally.deadline:
                with tally.lock:
                    tally.left_out += 1
                continue
            sentinel = rng.random() < 0.5
            got = runner.run(case, schedule.rules, in_flight, sentinel)
            problems = check(case, schedule, clean, got, sentinel, walked)
            if schedule.kind == "denied":
                outcomes[in_flight] = got
                first = outcomes.get("1", got)
                written = [o.batch for o in (first, got) if o.batch not in (None, SENTINEL)]
                if (got.rc, got.out) != (first.rc, first.out) or (
                        len(written) == 2 and written[0] != written[1]):
                    problems.append("a denied path gives another outcome in flight")
            tally.add(schedule.kind, not problems, problems and describe(
                case, schedule, in_flight, clean, got, problems, sentinel, args.seed))
    if not args.keep:
        shutil.rmtree(case.dir, ignore_errors=True)


def make_slots(runner, count, work):
    """A slot for each job; for the Windows build each with a Wine prefix, copied from
    HALVARD_FAULTS_WINEPREFIX where that is one, else made for the first slot."""
    if runner.platform != "windows":
        for k in range(count):
            runner.add_slot(os.path.join(work, "slot%d" % k))
        return
    first = os.path.join(work, "slot0", "prefix")
    source = os.environ.get("HALVARD_FAULTS_WINEPREFIX")
    ignore = shutil.ignore_patterns("wineserver", ".update-timestamp-lock")
    if source and os.path.isdir(os.path.join(source, "drive_c")):
        shutil.copytree(source, first, symlinks=True, ignore=ignore)
    else:
        os.makedirs(os.path.dirname(first), exist_ok=True)
        env = {**os.environ, "WINEPREFIX": first, "WINEDEBUG": "-all"}
        subprocess.run([runner.wine, "wineboot", "--init"], env=env,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        subprocess.run(["wineserver", "-w"], env=env)
    runner.add_slot(os.path.dirname(first), first)
    for k in range(1, count):
        other = os.path.join(work, "slot%d" % k, "prefix")
        shutil.copytree(first, other, symlinks=True, ignore=ignore)
        runner.add_slot(os.path.dirname(other), other)


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--exe", required=True)
    parser.add_argument("--platform", choices=["native", "windows"], default="native")
    parser.add_argument("--seed", type=int, default=int(time.time()) % 100000)
    parser.add_argument("--cases", type=int, help="random repositories (10; 5 under Wine)")
    parser.add_argument("--transient", type=int,
                        help="transient schedules per repository (5; 3 under Wine)")
    parser.add_argument("--lasting", type=int, help="lasting schedules in all (20; 6 under Wine)")
    parser.add_argument("--time-box", type=float, default=90.0, help="seconds")
    parser.add_argument("--jobs", type=int, default=2)
    parser.add_argument("--case", type=int, help="run this case only")
    parser.add_argument("--shim", help="a built fault_shim.so (else it is built)")
    parser.add_argument("--keep", action="store_true", help="keep the repositories")
    parser.add_argument("--show", type=int, default=10,
                        help="failing runs printed in full (the others in one line)")
    args = parser.parse_args(argv)
    wine = args.platform == "windows"
    for name, native, windows in (("cases", 10, 5), ("transient", 5, 3), ("lasting", 20, 6)):
        if getattr(args, name) is None:
            setattr(args, name, windows if wine else native)

    if args.platform == "native" and is_static_elf(args.exe):
        print("faults: skipped: %s is statically linked, LD_PRELOAD cannot reach it" % args.exe)
        return 77
    work = os.path.realpath(tempfile.mkdtemp(prefix="halvard-faults."))
    try:
        shim = os.path.abspath(args.shim) if args.shim else build_shim(work)
        if not shim:
            print("faults: skipped: fault_shim.so cannot be built (no C compiler)")
            return 77
        runner = Runner(args, shim, work)
        make_slots(runner, args.jobs, work)
        print("faults: seed %d, %s build, %d repositories, time box %d s" % (
            args.seed, args.platform, args.cases, args.time_box), flush=True)
        tally = Tally(time.monotonic() + args.time_box)
        tally.show = args.show
        indexes = [args.case] if args.case is not None else range(args.cases)
        try:
            with concurrent.futures.ThreadPoolExecutor(args.jobs) as pool:
                for future in [pool.submit(run_case, runner, args, i, work, tally)
                               for i in indexes]:
                    future.result()
        finally:
            runner.stop_servers()
        for kind, (passed, failed) in sorted(tally.by_kind.items()):
            print("faults: %-10s %d passed, %d failed" % (kind, passed, failed))
        if tally.left_out:
            print("faults: %d runs left out at the end of the time box" % tally.left_out)
        if args.keep:
            print("faults: repositories kept in " + work)
        print("faults: %d passed, %d failed" % (tally.passed, tally.failed))
        return 0 if tally.failed == 0 else 1
    finally:
        if not args.keep:
            shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
