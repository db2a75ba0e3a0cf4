#!/usr/bin/env python3
"""Generates a realistic driver repository for the benchmark.

    gen_repo.py --sets N --seed S OUTDIR

Layout: OUTDIR/<family>/<group>/<machine type>/<release>/DrvSet.ini, every set
directory also holding a readme and a payload subtree of driver files (about ten
files in two or three subdirectories) that a search must not enter. Around the
sets: documentation and tool directories, empty group directories and release
directories whose upload never finished (payload, no descriptor).

Descriptors are written with CRLF line ends and vary the way hand-kept files do:
comment lines, [Files] and [Notes] sections, keys in other case and with blanks
around "=", section order, day and month spellings, equal timestamps. About one
set in a hundred names its descriptor in other case (drvset.ini, DRVSET.INI).

The same parameters always give the same tree. The run is skipped when
OUTDIR/.complete records the same parameters; a tree made with other parameters
is replaced. The tree is built in OUTDIR.partial and renamed when done.
"""

import argparse
import json
import os
import random
import shutil
import sys

GENERATOR_VERSION = 1

# The machine type the benchmark's narrow search (/M:) asks for; about two sets in
# a hundred support it. It never occurs inside another type of the catalogue.
NARROW_TYPE = "8677"

# Catalogue names and their share of the sets (per cent).
VERSION_WEIGHTS = [
    ("Win2000Server", 4),
    ("Win2003Server", 12),
    ("Win2000Pro", 3),
    ("WinXP", 8),
    ("Win2003Serverx64", 10),
    ("Win2008Server", 35),
    ("Win2008Serverx64", 18),
    ("WinPE21x86", 5),
    ("WinPE21x64", 5),
]

FAMILIES = [
    ("Network", 6), ("Storage", 6), ("Chipset", 3), ("Video", 3),
    ("Management", 2), ("Input Devices", 1), ("Audio", 1), ("Security", 1),
]
GROUP_WORDS_A = ["Gigabit", "Smart Array", "Fibre", "Ultra320", "NetFlex", "Integrated",
                 "Dual Port", "Quad Port", "Embedded", "Remote", "Serial", "iSCSI"]
GROUP_WORDS_B = ["Ethernet", "Controller", "HBA", "Adapter", "Lights-Out", "SAS", "SATA",
                 "Graphics", "Bridge", "Console", "Keyboard", "TPM"]
MONTHS = ["Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"]
MONTHS_LONG = ["January", "February", "March", "April", "May", "June", "July", "August",
               "September", "October", "November", "December"]
PAYLOAD_DIRS = ["x86", "amd64", "i386", "Docs", "Utils", "ia64", "Firmware"]
PAYLOAD_EXTS = [".sys", ".inf", ".cat", ".dll", ".exe", ".txt"]
DESCRIPTOR_NAMES_OTHER_CASE = ["drvset.ini", "DRVSET.INI", "DrvSet.INI"]


def parse_args(argv):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--sets", type=int, required=True, help="number of driver sets")
    parser.add_argument("--seed", type=int, default=1, help="random seed")
    parser.add_argument("outdir", help="repository root to create")
    args = parser.parse_args(argv)
    if args.sets < 1:
        parser.error("--sets must be at least 1")
    return args


def params_of(args):
    return {"generator": GENERATOR_VERSION, "sets": args.sets, "seed": args.seed,
            "narrow_type": NARROW_TYPE}


def read_complete(outdir):
    try:
        with open(os.path.join(outdir, ".complete"), encoding="utf-8") as f:
            return json.load(f)
    except (OSError, ValueError):
        return None


def write_file(path, data):
    with open(path, "wb") as f:
        f.write(data)


class Generator:
    def __init__(self, sets, seed, root):
        self.target = sets
        self.rng = random.Random(seed)
        self.root = root
        self.types = self.make_types(40)
        self.sets = 0
        self.stamps = []  # (date, time) of sets made so far, for equal timestamps
        self.stats = {"sets": 0, "sets_other_case_name": 0, "narrow_sets": 0,
                      "versions": {name: 0 for name, _ in VERSION_WEIGHTS},
                      "no_version": 0, "directories": 0, "files": 0}
        self.stats["versions"]["(missing)"] = 0

    def make_types(self, count):
        types = set()
        while len(types) < count:
            t = str(self.rng.randint(1000, 9999))
            if NARROW_TYPE not in t and t not in NARROW_TYPE:
                types.add(t)
        return sorted(types)

    def mkdir(self, path):
        os.mkdir(path)
        self.stats["directories"] += 1

    def put(self, path, data):
        write_file(path, data)
        self.stats["files"] += 1

    # --- the tree --------------------------------------------------------------

    def build(self):
        self.put(os.path.join(self.root, "README.txt"), b"Driver repository\r\n")
        self.make_tools_tree()
        families = {}
        group_counter = 0
        while self.sets < self.target:
            family = self.pick_weighted(FAMILIES)
            if family not in families:
                families[family] = os.path.join(self.root, family)
                self.mkdir(families[family])
                self.make_docs(families[family])
            group_counter += 1
            self.make_group(families[family], group_counter)

    def make_tools_tree(self):
        tools = os.path.join(self.root, "Tools")
        self.mkdir(tools)
        for sub in ("Scripts", "Bin", "Bin/x86", "Bin/x64", "Templates"):
            path = os.path.join(tools, sub)
            self.mkdir(path)
            for i in range(self.rng.randint(2, 5)):
                self.put(os.path.join(path, "tool%d%s" % (i, self.rng.choice([".cmd", ".exe"]))),
                         b"x" * self.rng.randint(10, 200))

    def make_docs(self, family_dir):
        docs = os.path.join(family_dir, "Docs")
        self.mkdir(docs)
        for i in range(self.rng.randint(2, 6)):
            self.put(os.path.join(docs, "notes%d.txt" % i), b"release notes\r\n")
        self.mkdir(os.path.join(docs, "Images"))

    def make_group(self, family_dir, counter):
        name = "%s %s %d" % (self.rng.choice(GROUP_WORDS_A), self.rng.choice(GROUP_WORDS_B),
                             counter)
        group_dir = os.path.join(family_dir, name)
        self.mkdir(group_dir)
        if self.rng.random() < 0.04:
            return  # an empty group, prepared and never filled
        for machine_type in self.rng.sample(self.types, self.rng.randint(4, 16)):
            if self.sets >= self.target:
                return
            type_dir = os.path.join(group_dir, machine_type)
            self.mkdir(type_dir)
            for release in range(self.rng.randint(1, 6)):
                if self.sets >= self.target:
                    break
                self.make_release(type_dir, machine_type, release)

    def make_release(self, type_dir, machine_type, number):
        major = self.rng.randint(1, 9)
        release_dir = os.path.join(type_dir, "v%d.%02d_R%d" % (major, self.rng.randint(0, 99),
                                                               number + 1))
        self.mkdir(release_dir)
        self.make_payload(release_dir)
        if self.rng.random() < 0.01:
            return  # upload never finished: payload without a descriptor
        name = "DrvSet.ini"
        if self.rng.random() < 0.01:
            name = self.rng.choice(DESCRIPTOR_NAMES_OTHER_CASE)
            self.stats["sets_other_case_name"] += 1
        self.put(os.path.join(release_dir, name), self.descriptor(machine_type))
        self.put(os.path.join(release_dir, "readme.txt"), b"See DrvSet.ini\r\n")
        self.sets += 1
        self.stats["sets"] += 1

    def make_payload(self, release_dir):
        for sub in self.rng.sample(PAYLOAD_DIRS, self.rng.randint(2, 3)):
            path = os.path.join(release_dir, sub)
            self.mkdir(path)
            self.make_files(path, self.rng.randint(3, 5))
            if self.rng.random() < 0.2:
                nested = os.path.join(path, "WinPE")
                self.mkdir(nested)
                self.make_files(nested, 2)

    def make_files(self, directory, count):
        for i in range(count):
            ext = self.rng.choice(PAYLOAD_EXTS)
            self.put(os.path.join(directory, "drv%02d%s" % (i, ext)),
                     b"\0" * self.rng.randint(0, 64))

    # --- descriptors -----------------------------------------------------------

    def pick_weighted(self, pairs):
        return self.rng.choices([p[0] for p in pairs], weights=[p[1] for p in pairs])[0]

    def supported_systems(self, machine_type):
        others = [t for t in self.types if t != machine_type]
        types = [machine_type] + self.rng.sample(others, self.rng.randint(0, 4))
        if self.rng.random() < 0.02:
            types.insert(self.rng.randint(0, len(types)), NARROW_TYPE)
            self.stats["narrow_sets"] += 1
        separator = ", " if self.rng.random() < 0.1 else ","
        return separator.join(types)

    def timestamp(self):
        if self.stamps and self.rng.random() < 0.03:
            return self.rng.choice(self.stamps)  # a set rebuilt in the same second
        day = self.rng.randint(1, 28)
        month = self.rng.randint(0, 11)
        year = self.rng.randint(2005, 2012)
        r = self.rng.random()
        if r < 0.1:
            date = "%d %s %d" % (day, MONTHS[month], year)
        elif r < 0.12:
            date = "%02d %s %d" % (day, MONTHS_LONG[month], year)
        else:
            date = "%02d %s %d" % (day, MONTHS[month], year)
        time = "%02d:%02d:%02d" % (self.rng.randint(0, 23), self.rng.randint(0, 59),
                                   self.rng.randint(0, 59))
        self.stamps.append((date, time))
        return date, time

    def key(self, name, value):
        r = self.rng.random()
        if r < 0.08:
            return "%s = %s" % (name.lower(), value)
        if r < 0.12:
            return "  %s  =  %s" % (name.upper(), value)
        return "%s=%s" % (name, value)

    def main_section(self, machine_type):
        version = self.pick_weighted(VERSION_WEIGHTS)
        date, time = self.timestamp()
        lines = ["[Main]"]
        if self.rng.random() < 0.01:
            self.stats["versions"]["(missing)"] += 1
            self.stats["no_version"] += 1
        else:
            self.stats["versions"][version] += 1
            shown = version.lower() if self.rng.random() < 0.05 else version
            lines.append(self.key("Windows Version", shown))
        lines.append(self.key("Supported Systems", self.supported_systems(machine_type)))
        if self.rng.random() < 0.7:
            lines.append(self.key("Kastrel Version", "%d.%d.%d" % (
                self.rng.randint(1, 9), self.rng.randint(0, 20), self.rng.randint(0, 999))))
        if self.rng.random() < 0.4:
            lines.append(self.key("Quillon Version", "%d.%02d" % (
                self.rng.randint(1, 5), self.rng.randint(0, 99))))
        if self.rng.random() < 0.3:
            lines.append("; rebuilt after review")
        lines.append(self.key("Creation Date", date))
        lines.append(self.key("Creation Time", time))
        lines.append(self.key("BuildID", "B%06d-%04d" % (self.rng.randint(0, 999999),
                                                          self.rng.randint(0, 9999))))
        return lines

    def files_section(self):
        lines = ["[Files]"]
        for i in range(self.rng.randint(3, 12)):
            lines.append("File%d=%s\\drv%02d%s" % (i + 1, self.rng.choice(PAYLOAD_DIRS), i,
                                                    self.rng.choice(PAYLOAD_EXTS)))
        return lines

    def notes_section(self):
        return ["[Notes]", "Text=Tested on the listed systems only.",
                "Owner=Deployment team", "; Windows Version=Win2000Server (old entry)"]

    def descriptor(self, machine_type):
        sections = [self.main_section(machine_type)]
        if self.rng.random() < 0.8:
            sections.append(self.files_section())
        if self.rng.random() < 0.4:
            sections.append(self.notes_section())
        self.rng.shuffle(sections)
        lines = ["; Driver set descriptor", "; keep [Main] up to date"]
        for section in sections:
            lines.extend(section)
            lines.append("")
        return ("\r\n".join(lines) + "\r\n").encode("ascii")


def main(argv):
    args = parse_args(argv)
    outdir = os.path.abspath(args.outdir)
    params = params_of(args)
    done = read_complete(outdir)
    if done is not None and done.get("params") == params:
        print("gen_repo: %s is up to date (%d sets)" % (outdir, args.sets))
        return 0
    if os.path.exists(outdir):
        if done is None and os.listdir(outdir):
            sys.exit("gen_repo: %s exists and was not made by gen_repo.py" % outdir)
        shutil.rmtree(outdir)
    partial = outdir + ".partial"
    if os.path.exists(partial):
        shutil.rmtree(partial)
    os.makedirs(partial)
    generator = Generator(args.sets, args.seed, partial)
    generator.build()
    with open(os.path.join(partial, ".complete"), "w", encoding="utf-8") as f:
        json.dump({"params": params, "stats": generator.stats}, f, indent=1, sort_keys=True)
    os.rename(partial, outdir)
    stats = generator.stats
    print("gen_repo: %s: %d sets (%d Win2008Server, %d narrow), %d directories, %d files"
          % (outdir, stats["sets"], stats["versions"]["Win2008Server"], stats["narrow_sets"],
             stats["directories"], stats["files"]))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
