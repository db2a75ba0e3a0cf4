#!/usr/bin/env python3
"""Counts the file-system work of one traced run against what the search needs.

    strace_counts.py --root REPO --trace FILE [--cwd DIR] [--n N] [--label NAME]
                     [--program NAME] [--out FILE]

FILE is written by
    strace -f -y -s 4096 -o FILE \
        -e trace=open,openat,openat2,getdents64,stat,lstat,fstat,newfstatat,statx,\
access,faccessat,faccessat2,read,write COMMAND
(-y names the file behind every descriptor, so relative opens and reads resolve).

The repository is walked here the way the search must walk it: a directory that
holds an entry named exactly DrvSet.ini is a set and is not listed; any other
directory is listed once, and is a set when the listing shows the descriptor in
other case, else its subdirectories are walked. Everything below a set directory
is payload. Against that the trace gives:

  opens per set        successful opens of each set's descriptor (want exactly 1)
  reads per set        read calls on descriptor files, end-of-file read included
  misses per dir       failed opens of a descriptor name in a directory without one
  listings per dir     directory listings (an open directory that got getdents64)
                       of each directory without a descriptor (want at most 1)
  set-dir listings     listings of set directories whose descriptor has the exact
                       name (want 0); other-case set directories are listed once
  payload listings     listings below set directories (want 0)
  unlisted dir opens   directories opened with O_DIRECTORY but never read
  entry stats          stat-family calls naming an entry of a listed directory,
                       per entry listed (want 0 where the listing gives the type)
  other path stats     stat-family calls on other paths (the root, descriptors...)
  fd stats             fstat-like calls on open descriptors
  stdout writes        write calls on descriptor 1

Appends one JSON record to FILE (standard output when not given) and prints a
short summary on standard error.
"""

import argparse
import codecs
import collections
import json
import os
import re
import sys

DESCRIPTOR = "DrvSet.ini"

LINE = re.compile(r"^(?:(?:\[pid\s+)?(\d+)\]?\s+)?(\w+)\((.*)\)\s+=\s+(-?\d+|\?)(?:<(.*?)>)?(.*)$")
UNFINISHED = re.compile(r"^(?:(?:\[pid\s+)?(\d+)\]?\s+)?(.*) <unfinished \.\.\.>$")
RESUMED = re.compile(r"^(?:(?:\[pid\s+)?(\d+)\]?\s+)?<\.\.\. (\w+) resumed>(.*)$")
QUOTED = re.compile(r'"((?:[^"\\]|\\.)*)"')
FD_ARG = re.compile(r"^(-?\d+)(?:<(.*?)>)?")

OPENS = {"open", "openat", "openat2", "creat"}
PATH_STATS = {"stat", "lstat", "access"}             # path is argument 0
AT_STATS = {"newfstatat", "statx", "faccessat", "faccessat2", "fstatat64"}  # dirfd, path
FD_STATS = {"fstat"}


# --- the reference walk ----------------------------------------------------------

class Reference:
    def __init__(self, root):
        self.root = os.path.normpath(os.path.abspath(root))
        self.exact_sets = set()      # set directories with an exact DrvSet.ini
        self.other_case_sets = {}    # set directory -> descriptor name on disk
        self.plain_dirs = set()      # walked directories without a descriptor
        self.entries = set()         # paths of the entries of listed directories
        self.walk(self.root)
        self.set_dirs = self.exact_sets | set(self.other_case_sets)
        self.descriptors = {os.path.join(d, DESCRIPTOR) for d in self.exact_sets}
        self.descriptors |= {os.path.join(d, n) for d, n in self.other_case_sets.items()}

    def walk(self, directory):
        stack = [directory]
        while stack:
            path = stack.pop()
            if os.path.lexists(os.path.join(path, DESCRIPTOR)):
                self.exact_sets.add(path)
                continue
            try:
                entries = list(os.scandir(path))
            except OSError:
                self.plain_dirs.add(path)
                continue
            self.entries.update(e.path for e in entries)
            other = [e.name for e in entries if e.name.lower() == DESCRIPTOR.lower()]
            if other:
                self.other_case_sets[path] = sorted(other)[0]
                continue
            self.plain_dirs.add(path)
            stack.extend(e.path for e in entries if e.is_dir())

    def is_payload(self, path):
        parent = os.path.dirname(path)
        while len(parent) >= len(self.root):
            if parent in self.set_dirs:
                return True
            if parent == os.path.dirname(parent):
                break
            parent = os.path.dirname(parent)
        return False


# --- the trace -------------------------------------------------------------------

def unescape(text):
    return codecs.escape_decode(text.encode("latin-1"))[0].decode("utf-8", "replace")


def join_lines(lines):
    """Yields complete call lines, joining <unfinished ...> with their resumption."""
    pending = {}
    for line in lines:
        line = line.rstrip("\n")
        m = UNFINISHED.match(line)
        if m:
            pending[m.group(1)] = m.group(2)
            continue
        m = RESUMED.match(line)
        if m and m.group(1) in pending:
            pid = m.group(1)
            yield pid + " " + pending.pop(pid) + m.group(3)
            continue
        yield line


class Trace:
    def __init__(self, cwd):
        self.cwd = cwd
        self.instances = {}          # (pid, fd) -> id of the open behind it
        self.instance_path = {}      # id -> path
        self.next_id = 0
        self.listed = set()          # ids of opens that got getdents64
        self.directory_opens = set()  # ids of opens with O_DIRECTORY
        self.descriptor_opens = collections.Counter()
        self.descriptor_misses = collections.Counter()   # by directory
        self.descriptor_reads = collections.Counter()
        self.path_stats = collections.Counter()
        self.fd_stats = 0
        self.stdout_writes = 0
        self.calls = collections.Counter()

    def resolve(self, dirfd, path):
        if not os.path.isabs(path):
            base = self.cwd
            m = FD_ARG.match(dirfd) if dirfd else None
            if m and m.group(2):
                base = m.group(2)
            path = os.path.join(base, path)
        return os.path.normpath(path)

    def new_instance(self, pid, fd, path):
        self.next_id += 1
        self.instances[(pid, fd)] = self.next_id
        self.instance_path[self.next_id] = path

    def fd_path(self, pid, argument):
        m = FD_ARG.match(argument.strip())
        if not m:
            return None, None
        return m.group(1), (os.path.normpath(m.group(2)) if m.group(2) else None)

    def feed(self, line):
        m = LINE.match(line)
        if not m:
            return
        pid = m.group(1) or "0"
        name, args, ret, ret_path = m.group(2), m.group(3), m.group(4), m.group(5)
        self.calls[name] += 1
        ok = ret != "?" and int(ret) >= 0
        if name in OPENS:
            self.on_open(pid, name, args, ok, ret, ret_path)
        elif name == "getdents64" or name == "getdents":
            fd, path = self.fd_path(pid, args)
            key = (pid, fd)
            if key not in self.instances:
                self.new_instance(pid, fd, path)
            self.listed.add(self.instances[key])
            if path:
                self.instance_path[self.instances[key]] = path
        elif name in PATH_STATS or name in AT_STATS:
            self.on_stat(pid, name, args)
        elif name in FD_STATS:
            self.fd_stats += 1
        elif name == "read":
            _, path = self.fd_path(pid, args)
            if path and os.path.basename(path).lower() == DESCRIPTOR.lower():
                self.descriptor_reads[path] += 1
        elif name == "write":
            fd, _ = self.fd_path(pid, args)
            if fd == "1":
                self.stdout_writes += 1

    def on_open(self, pid, name, args, ok, ret, ret_path):
        q = QUOTED.search(args)
        if not q:
            return
        dirfd = args[:q.start()].rstrip(", ") if name in ("openat", "openat2") else None
        path = self.resolve(dirfd, unescape(q.group(1)))
        if ret_path:
            path = os.path.normpath(ret_path)
        if ok:
            self.new_instance(pid, ret, path)
            if "O_DIRECTORY" in args[q.end():]:
                self.directory_opens.add(self.next_id)
        if os.path.basename(path).lower() == DESCRIPTOR.lower():
            if ok:
                self.descriptor_opens[path] += 1
            else:
                self.descriptor_misses[os.path.dirname(path)] += 1

    def on_stat(self, pid, name, args):
        q = QUOTED.search(args)
        if not q:
            return
        text = unescape(q.group(1))
        if text == "" and "AT_EMPTY_PATH" in args:
            self.fd_stats += 1
            return
        dirfd = args[:q.start()].rstrip(", ") if name in AT_STATS else None
        self.path_stats[self.resolve(dirfd, text)] += 1

    def listings(self):
        counts = collections.Counter()
        for instance in self.listed:
            counts[self.instance_path.get(instance)] += 1
        return counts


# --- figures ---------------------------------------------------------------------

def figures(ref, trace):
    listings = trace.listings()
    opens = [trace.descriptor_opens.get(p, 0) for p in ref.descriptors]
    reads = [trace.descriptor_reads.get(p, 0) for p in ref.descriptors]
    plain = [listings.get(d, 0) for d in ref.plain_dirs]
    other_case = [listings.get(d, 0) for d in ref.other_case_sets]
    exact_set_listings = sum(listings.get(d, 0) for d in ref.exact_sets)
    payload_listings = sum(c for p, c in listings.items()
                           if p and p not in ref.plain_dirs and p not in ref.set_dirs
                           and ref.is_payload(p))
    foreign_listings = sum(c for p, c in listings.items()
                           if not p or not (p == ref.root or p.startswith(ref.root + os.sep)))
    entry_stats = sum(c for p, c in trace.path_stats.items() if p in ref.entries)
    other_stats = sum(trace.path_stats.values()) - entry_stats
    stray_opens = sum(c for p, c in trace.descriptor_opens.items() if p not in ref.descriptors)
    sets = len(ref.descriptors)

    def mean(values):
        return sum(values) / len(values) if values else 0.0

    return {
        "sets": sets, "sets_other_case": len(ref.other_case_sets),
        "plain_dirs": len(ref.plain_dirs), "entries_listed": len(ref.entries),
        "opens_per_set": mean(opens), "opens_min": min(opens, default=0),
        "opens_max": max(opens, default=0), "stray_descriptor_opens": stray_opens,
        "reads_per_set": mean(reads),
        "misses_per_plain_dir": sum(trace.descriptor_misses.values()) / max(1, len(plain)),
        "listings_per_plain_dir": mean(plain), "listings_plain_max": max(plain, default=0),
        "plain_dirs_unlisted": sum(1 for c in plain if c == 0),
        "listings_exact_set_dirs": exact_set_listings,
        "listings_other_case_max": max(other_case, default=0),
        "listings_payload": payload_listings, "listings_elsewhere": foreign_listings,
        "directory_opens_unlisted": len(trace.directory_opens - trace.listed),
        "entry_stats": entry_stats,
        "entry_stats_per_entry": entry_stats / max(1, len(ref.entries)),
        "other_path_stats": other_stats, "fd_stats": trace.fd_stats,
        "stdout_writes": trace.stdout_writes,
        "calls": dict(trace.calls),
    }


def verdict(f):
    problems = []
    if not (f["opens_min"] == 1 and f["opens_max"] == 1) or f["stray_descriptor_opens"]:
        problems.append("descriptor opens %.3f/set (min %d, max %d, stray %d)"
                        % (f["opens_per_set"], f["opens_min"], f["opens_max"],
                           f["stray_descriptor_opens"]))
    if f["listings_plain_max"] > 1:
        problems.append("a directory without descriptor listed %d times" % f["listings_plain_max"])
    if f["plain_dirs_unlisted"]:
        problems.append("%d directories without descriptor never listed" % f["plain_dirs_unlisted"])
    if f["listings_exact_set_dirs"]:
        problems.append("%d listings of set directories" % f["listings_exact_set_dirs"])
    if f["listings_payload"]:
        problems.append("%d listings of payload directories" % f["listings_payload"])
    if f["entry_stats"]:
        problems.append("%d stat calls on listed entries" % f["entry_stats"])
    return problems


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--root", required=True, help="repository root given to the program")
    parser.add_argument("--trace", required=True, help="strace output file")
    parser.add_argument("--cwd", default=os.getcwd(), help="directory the program ran in")
    parser.add_argument("--n", type=int, default=0)
    parser.add_argument("--label", default="")
    parser.add_argument("--program", default="tool")
    parser.add_argument("--out", default=None, help="JSON lines file to append to")
    args = parser.parse_args(argv)

    ref = Reference(args.root)
    trace = Trace(os.path.abspath(args.cwd))
    with open(args.trace, encoding="latin-1") as f:
        for line in join_lines(f):
            trace.feed(line)
    result = figures(ref, trace)
    problems = verdict(result)
    record = {"kind": "strace", "n": args.n, "label": args.label, "program": args.program,
              "figures": result, "problems": problems}
    line = json.dumps(record)
    if args.out:
        with open(args.out, "a", encoding="utf-8") as f:
            f.write(line + "\n")
    else:
        print(line)
    print("  N=%-6d %-7s %-6s opens/set %.3f  listings/dir %.3f (max %d)  set-dir listings %d"
          "  entry stats/entry %.3f  %s"
          % (args.n, args.label, args.program, result["opens_per_set"],
             result["listings_per_plain_dir"], result["listings_plain_max"],
             result["listings_exact_set_dirs"], result["entry_stats_per_entry"],
             "; ".join(problems) if problems else "ok"), file=sys.stderr)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
