"""Hostile repositories, media and batch targets: what other people's trees, often over a
network, can throw at the tool. Each test states the expected outcome: a clear message,
the right exit code, nothing lost, and no wrong result passed off as success.

Native-only cases (FIFOs, permissions, devices, symbolic links, memory limits, valgrind)
are skipped under --platform windows; descriptor contents, deep trees, long paths and
directories as batch targets run on both builds.
"""
import os
import pwd
import random
import shutil
import subprocess
import unittest

import e2e_support
from e2e_support import (CONFIG, LATEST, NOT_FOUND, START, BatchVariables, DriverSet, Result,
                         ToolTestCase, found, ini_text, is_windows, join, native_only, ppath,
                         report, search_all, search_version, sep, tabbed, usage_lines, version_name,
                         windows_only, write_file)


# ---------------------------------------------------------------------------
# Helpers

def latest_first(sets, stamps):
    """The order the latest-set choice leaves a list in: a selection sort, descending,
    where among equal timestamps the earliest position wins."""
    items, values = list(sets), list(stamps)
    for i in range(len(items)):
        best = i
        for j in range(i, len(items)):
            if values[j] > values[best]:
                best = j
        items[i], items[best] = items[best], items[i]
        values[i], values[best] = values[best], values[i]
    return items


def sort_by_bytes(sets, root):
    """The order of found paths: bytes, with every separator read as a backslash."""
    return sorted(sets, key=lambda s: s.ini_path(root).replace(sep(), "\\").encode(
        "utf-8", "surrogateescape"))


_SANITIZED = {}


def is_sanitized():
    """True when the program under test carries AddressSanitizer or ThreadSanitizer: it
    cannot run under an address-space limit or under valgrind."""
    if CONFIG.exe not in _SANITIZED:
        with open(CONFIG.exe, "rb") as f:
            data = f.read()
            _SANITIZED[CONFIG.exe] = b"__asan_init" in data or b"__tsan_init" in data
    return _SANITIZED[CONFIG.exe]


def is_static():
    """True when the program under test is a statically linked ELF file (no program
    interpreter): valgrind's memcheck cannot replace its allocator, so it would see no heap."""
    with open(CONFIG.exe, "rb") as f:
        header = f.read(64)
        if header[:4] != b"\x7fELF" or header[4] != 2:
            return False
        phoff = int.from_bytes(header[0x20:0x28], "little")
        entsize = int.from_bytes(header[0x36:0x38], "little")
        count = int.from_bytes(header[0x38:0x3a], "little")
        for i in range(count):
            f.seek(phoff + i * entsize)
            if int.from_bytes(f.read(4), "little") == 3:  # PT_INTERP
                return False
    return True


def platform_path_limit():
    """Longest absolute path the build under test can form, its NUL included."""
    return 260 if is_windows() else 4096


SKIPPED_TOO_LONG = "Skipping directory whose path is too long:"


def first_directory_too_long(typed_root, parts, full_root=None):
    """The first directory of the chain root, root/parts[0], ... whose DrvSet.ini would have
    an absolute path longer than the platform allows, as typed; None when all fit. The walk
    skips that directory with a message, since nothing in it could be reported."""
    full_root = full_root or typed_root
    for i in range(len(parts) + 1):
        full = join(full_root, *parts[:i])
        if len(full + sep() + "DrvSet.ini") + 1 > platform_path_limit():
            return join(typed_root, *parts[:i])
    return None


def open_directory(path):
    """A descriptor of a directory whose path may be longer than PATH_MAX."""
    fd = os.open("/", os.O_RDONLY)
    for part in [p for p in path.split("/") if p]:
        child = os.open(part, os.O_RDONLY, dir_fd=fd)
        os.close(fd)
        fd = child
    return fd


def make_directories(path):
    """os.makedirs for a path that may be longer than PATH_MAX."""
    fd = os.open("/", os.O_RDONLY)
    try:
        for part in [p for p in path.split("/") if p]:
            try:
                os.mkdir(part, dir_fd=fd)
            except FileExistsError:
                pass
            child = os.open(part, os.O_RDONLY, dir_fd=fd)
            os.close(fd)
            fd = child
    finally:
        os.close(fd)


def write_long(path, data):
    """Writes a file whose path may be longer than PATH_MAX."""
    directory, name = os.path.split(path)
    fd = open_directory(directory)
    try:
        f = os.open(name, os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o644, dir_fd=fd)
        os.write(f, data)
        os.close(f)
    finally:
        os.close(fd)


def list_long(path):
    fd = open_directory(path)
    try:
        return os.listdir(fd)
    finally:
        os.close(fd)


def long_directory(base, longer_than, step):
    """base joined with numbered names of step characters until the path is longer than
    longer_than characters (made with make_directories)."""
    path = base
    while len(path) <= longer_than:
        path += "/%03d" % (len(path) % 1000) + "d" * (step - 4)
    make_directories(path)
    return path


def unprivileged_user():
    """(uid, gid) of a user that file permissions apply to, or None. Root is exempt from
    them, so tests that run as root take "nobody" (or make a user of their own)."""
    if os.geteuid() != 0:
        return os.geteuid(), os.getegid()
    for name in ("nobody", "halvard-e2e"):
        try:
            entry = pwd.getpwnam(name)
            return entry.pw_uid, entry.pw_gid
        except KeyError:
            pass
    if shutil.which("useradd"):
        subprocess.run(["useradd", "--system", "--no-create-home", "--shell", "/usr/sbin/nologin",
                        "halvard-e2e"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            entry = pwd.getpwnam("halvard-e2e")
            return entry.pw_uid, entry.pw_gid
        except KeyError:
            pass
    return None


IN_FLIGHT = "HALVARD_IN_FLIGHT"


def environment(in_flight=None, more=None):
    """This process's environment, with the requests in flight set (None: as it is here,
    "": unset, the adaptive start) and more variables."""
    env = dict(os.environ)
    if in_flight is not None:
        env.pop(IN_FLIGHT, None)
        if in_flight:
            env[IN_FLIGHT] = in_flight
    env.update(more or {})
    return env


def latency_shim(directory):
    """bench/latency_shim.c built into directory, or None where it cannot be used: it delays
    opens, listings and stats, so that the walk finds them slow (LD_PRELOAD; a dynamically
    linked program without sanitizers only)."""
    source = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "bench",
                          "latency_shim.c")
    if is_static() or is_sanitized() or not shutil.which("cc") or not os.path.exists(source):
        return None
    shim = os.path.join(directory, "latency_shim.so")
    built = subprocess.run(["cc", "-shared", "-fPIC", "-O2", "-o", shim, source, "-ldl",
                            "-lpthread"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return shim if built.returncode == 0 else None


def run_program(command, cwd, timeout=120, preexec_fn=None, in_flight=None, more_env=None):
    proc = subprocess.run(command, cwd=cwd, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE, timeout=timeout, preexec_fn=preexec_fn,
                          env=environment(in_flight, more_env))
    return Result(proc.returncode, proc.stdout.decode("utf-8", "surrogateescape"),
                  proc.stderr.decode("utf-8", "replace"))


def garbage(size, seed, exclude=b""):
    data = random.Random(seed).randbytes(size)
    for byte in exclude:
        data = data.replace(bytes([byte]), b"")
    return data


def main_section(version=None, date=None, build=None, eol=b"\r\n"):
    lines = [b"[Main]"]
    for key, value in (("Windows Version", version), ("Creation Date", date),
                       ("BuildID", build)):
        if value is not None:
            lines.append(key.encode() + b"=" + value.encode())
    return eol.join(lines) + eol


# What the tool writes on standard error when an allocation fails.
MEMORY_REPORT = ("\n\nMemory Allocation Error\n\n"
                 "Not enough memory is available for this application.\n\n"
                 "Please close some programs to free up memory and try running\n"
                 "this application again.\n\n"
                 "CString::CreateCharString\n")


class HostileTestCase(ToolTestCase):

    def expected_success(self, repo, sets, stamps, batch_name=None, number=1, skipped=()):
        """Standard output of a run in which every set matches the Windows version; sets in
        the order found, skipped the directories the walk reports skipping. Returns (lines,
        batch variables or None)."""
        paths = [s.ini_path(repo) for s in sets]
        search = search_all(paths)
        search[1:1] = [SKIPPED_TOO_LONG + d for d in skipped]
        lines = (START + search + search_version(version_name(number), paths) +
                 report(repo, sets))
        order = latest_first(sets, stamps) if len(sets) > 1 else list(sets)
        if len(sets) > 1:
            lines += LATEST
        lines += found(order[0].dir_path(repo))
        batch = None
        if batch_name is not None:
            batch = BatchVariables(number, [s.dir_path(repo) for s in order],
                                   [s.rel_dir() for s in order])
            lines += ["\nWriting Batch File..."] + batch.echo_lines(self.p(batch_name))
        return lines, batch


# ---------------------------------------------------------------------------
# Descriptor contents (both builds)

class HostileDescriptors(HostileTestCase):

    def test_descriptors_of_every_shape(self):
        """Each descriptor reads as the text mode and the INI rules say: a very large file,
        binary garbage before or after the section, NUL bytes (dropped), no final line feed,
        a lone Ctrl-Z (empty), very long lines, bare CR line ends (one header line), and a
        file of NULs (empty). Unreadable values count as empty; the run succeeds."""
        repo_u = self.u("repo")
        files = {}
        filler = b"".join(b"key%06d=%s\r\n" % (i, b"v" * 30) for i in range(100000))
        files["a-big"] = b"[Filler]\r\n" + filler + main_section("Win2003Server", "01 Jan 2009",
                                                                 "big")
        self.assertGreater(len(files["a-big"]), 4 << 20)
        files["b-garbage-first"] = (garbage(65536, 1, exclude=b"\x1a") + b"\r\n" +
                                    main_section("Win2003Server", "02 Jan 2009", "garbage first"))
        files["c-garbage-after"] = (main_section("Win2003Server", "03 Jan 2009", "garbage after") +
                                    garbage(65536, 2))
        files["d-nul-bytes"] = (b"[Ma\0in]\r\nWin\0dows Version=Win2003\0Server\r\n"
                                b"Creation Date=04 Jan\0 2009\r\nBuildID=\0nul\0\r\n\0")
        files["e-no-final-lf"] = (b"[Main]\r\nWindows Version=Win2003Server\r\n"
                                  b"Creation Date=05 Jan 2009\r\nBuildID=no final line feed")
        files["f-ctrl-z-only"] = b"\x1a"
        files["g-long-lines"] = (b";" + b"c" * (1 << 20) + b"\r\n[Main]\r\nWindows Version" +
                                 b" " * 100000 + b"=" + b"\t" * 100000 + b"Win2003Server\r\n"
                                 b"Creation Date=06 Jan 2009\r\nBuildID=" + b"L" * (1 << 20) +
                                 b"\r\n")
        files["h-cr-only"] = b"[Main]\rWindows Version=Win2008Server\rBuildID=cr\r"
        files["i-nul-only"] = b"\0" * 65536
        for name, data in files.items():
            write_file(os.path.join(repo_u, name, "DrvSet.ini"), data)

        sets = [DriverSet("a-big", version="Win2003Server", date="01 Jan 2009", build="big"),
                DriverSet("b-garbage-first", version="Win2003Server", date="02 Jan 2009",
                          build="garbage first"),
                DriverSet("c-garbage-after", version="Win2003Server", date="03 Jan 2009",
                          build="garbage after"),
                DriverSet("d-nul-bytes", version="Win2003Server", date="04 Jan 2009",
                          build="nul"),
                DriverSet("e-no-final-lf", version="Win2003Server", date="05 Jan 2009",
                          build="no final line feed"),
                DriverSet("f-ctrl-z-only"),
                DriverSet("g-long-lines", version="Win2003Server", date="06 Jan 2009",
                          build="L" * (1 << 20)),
                DriverSet("h-cr-only"),
                DriverSet("i-nul-only")]
        stamps = [1, 2, 3, 4, 5, -1, 6, -1, -1]
        repo = self.p("repo")
        result = self.run_tool([repo, "/B:" + self.p("out.bat")])
        lines, batch = self.expected_success(repo, sets, stamps, "out.bat")
        self.assertRun(result, lines, 0)
        self.assertBatch(self.u("out.bat"), batch)
        self.assertEqual(result.err, "")

    def test_byte_order_mark_reads_as_without(self):
        """Descriptors and media files saved with a UTF-8 byte-order mark give exactly the
        output and batch file of the same files without it."""
        def build(top, mark):
            def put(path, data):
                write_file(os.path.join(top, *path.split("/")), mark + data)
            put("repo/s1/DrvSet.ini", ini_text("Main", [
                ("Windows Version", "WinXP"), ("Supported Systems", "6123"),
                ("Creation Date", "05 Mar 2009"), ("BuildID", "first")]).encode())
            put("repo/s2/DrvSet.ini", b"[main]\nwindows version = WinXP\nSupported Systems=6123"
                                      b"\nCreation Date=06 Mar 2009\nBuildID=second")
            put("repo/s3/DrvSet.ini", b"\r\n[Main]\r\nWindows Version=Win2008Server\r\n")
            put("repo/s4/DrvSet.ini", b"")
            put("repo/s5/DrvSet.ini", b"Windows Version=WinXP\r\n[Main]\r\nBuildID=fifth\r\n")
            put("xp/i386/PRODSPEC.INI", ini_text("Product Specification", [
                ("Product", "Microsoft Windows XP Professional")]).encode())
            put("w2008/x86/idwbinfo.txt", ini_text("BUILDINFO", [("BuildArch", "x86")]).encode())

        outcomes = {}
        for top, mark in (("plain", b""), ("marked", b"\xef\xbb\xbf")):
            build(self.u(top), mark)
            root = self.p(top)
            runs = []
            for args in ([join(root, "repo"), "/WP:" + join(root, "xp"), "/M:6123"],
                         [join(root, "repo"), "/WP:" + join(root, "xp", "i386", "PRODSPEC.INI")],
                         [join(root, "repo"), "/WP:" + join(root, "w2008")],
                         [join(root, "repo"), "/W:3"]):
                result = self.run_tool(args + ["/B:" + join(root, "out.bat")])
                with open(self.u(top, "out.bat"), "rb") as f:
                    batch = f.read().decode("utf-8", "surrogateescape")
                runs.append((result.rc, result.out.replace(root, "<root>"),
                             batch.replace(root, "<root>")))
            outcomes[top] = runs
        self.assertEqual(outcomes["marked"], outcomes["plain"])
        # And the plain runs found what they should.
        self.assertEqual([rc for rc, _, _ in outcomes["plain"]], [0, 0, 0, 0])
        self.assertIn("Windows Version=Microsoft Windows XP Professional",
                      outcomes["plain"][0][1])
        self.assertIn("\tDriverSetPath:" + join("<root>", "repo", "s2"), outcomes["plain"][0][1])
        self.assertIn("\tDriverSetPath:" + join("<root>", "repo", "s3"), outcomes["plain"][2][1])


# ---------------------------------------------------------------------------
# Tree shapes (both builds where the platform allows them)

class HostileTrees(HostileTestCase):

    def test_thousand_directories_deep(self):
        """A set 1,000 directories down is found natively (its path stays below 4,096
        characters); the Windows build skips, with a message, the first directory whose
        descriptor would be past 260 characters, and finds only the shallow set."""
        deep_where = "a/" + "/".join(["d"] * 1000)
        deep = DriverSet(deep_where, version="Win2003Server", date="02 Jan 2009", build="deep")
        shallow = DriverSet("b", version="Win2003Server", date="01 Jan 2009", build="shallow")
        make_directories(self.u("repo", *deep_where.split("/")))
        # Deeper than shutil.rmtree can recurse: removed first, with rm.
        self.addCleanup(subprocess.run, ["rm", "-rf", self.u("repo")])
        repo = self.make_sets("repo", [deep, shallow])
        result = self.run_tool([repo, "/B:" + self.p("deep.bat")])
        skipped = first_directory_too_long(repo, deep_where.split("/"))
        if skipped:
            self.assertTrue(is_windows())
            lines, batch = self.expected_success(repo, [shallow], [1], "deep.bat", 1, [skipped])
        else:
            lines, batch = self.expected_success(repo, [deep, shallow], [2, 1], "deep.bat")
        self.assertRun(result, lines, 0)
        self.assertBatch(self.u("deep.bat"), batch)

    def test_paths_beyond_the_platform_limit(self):
        """A set whose path is longer than the platform limit is out of reach: the walk says
        which directory it skips, and the sets within the limit are still found. A driver
        path beyond the limit does not exist (exit 4); a batch path beyond it cannot be
        opened (exit 3, nothing written)."""
        limit = platform_path_limit()
        near = DriverSet("near", version="Win2003Server", date="01 Jan 2009", build="near")
        repo = self.make_sets("repo", [near])
        step = 200 if limit > 1000 else 40
        far_u = long_directory(self.u("repo", "far"), limit + 50, step)
        write_long(far_u + "/DrvSet.ini", main_section("Win2003Server", "09 Jan 2009", "far"))
        skipped = first_directory_too_long(repo, far_u[len(self.u("repo")) + 1:].split("/"))
        result = self.run_tool([repo])
        lines, _ = self.expected_success(repo, [near], [1], skipped=[skipped])
        self.assertRun(result, lines, 0)

        far = ppath(far_u)
        result = self.run_tool([far])
        self.assertRun(result, START + usage_lines() + ["\nDirectory " + far + " Not Found:"], 4)

        batch = far + sep() + "out.bat"
        result = self.run_tool([repo, "/B:" + batch])
        self.assertEqual(result.rc, 3, result.out)
        expected = "".join(line + "\n" for line in lines + ["\nWriting Batch File..."])
        self.assertTrue(result.out.startswith(expected), result.out[-500:])
        rest = result.out[len(expected):]
        self.assertTrue(rest.startswith("Error opening file:  ") and rest.count("\n") == 1,
                        rest)
        self.assertNotIn("out.bat", list_long(far_u))

    def test_directory_first_met_through_a_path_too_long(self):
        """A link deep down leads to a set that the walk reaches later by a short path. Only
        the path that is too long is left out (with its line); the set is still found
        through the path that fits."""
        limit = platform_path_limit()
        step = 200 if limit > 1000 else 40
        target = DriverSet("z", version="Win2003Server", date="01 Jan 2009", build="z")
        repo = self.make_sets("repo", [target])
        # A directory whose descriptor still fits, holding a link whose descriptor would not.
        deep_u = long_directory(self.u("repo", "a"), limit - 120, step)
        fits = limit - 1 - len(ppath(deep_u)) - len(sep() + "DrvSet.ini")
        link_name = "l" * (fits + 5)
        if fits < 1 or len(link_name) > 250:
            self.skipTest("no room for the link's name at this temporary path")
        fd = open_directory(deep_u)
        try:
            os.symlink(self.u("repo", "z"), link_name, dir_fd=fd)
        finally:
            os.close(fd)
        too_long = join(ppath(deep_u), link_name)
        result = self.run_tool([repo])
        lines, _ = self.expected_success(repo, [target], [1], skipped=[too_long])
        self.assertRun(result, lines, 0)

    def test_relative_driver_path_whose_absolute_form_is_too_long(self):
        """Reached through a short relative path, a directory whose DrvSet.ini would have an
        absolute path longer than the limit is skipped with a message, so no set is ever
        reported or written with an empty directory: here none is left (exit 1)."""
        limit = platform_path_limit()
        step, name, margin = (200, 200, 450) if limit > 1000 else (40, 70, 160)
        cwd_u = long_directory(self.u("cwd"), limit - margin, step)
        # The descriptor ends 10 characters past the limit; every name stays short.
        rest = limit - len(ppath(cwd_u)) - len("/r/") - name - len("/DrvSet.ini") + 10
        parts = ["x" * name, "y" * rest]
        make_directories("/".join([cwd_u, "r"] + parts))
        write_long("/".join([cwd_u, "r"] + parts + ["DrvSet.ini"]),
                   main_section("Win2003Server", "01 Jan 2009", "deep"))
        result = e2e_support.run_tool(["r", "/B:out.bat"], cwd=cwd_u)
        skipped = first_directory_too_long("r", parts, join(ppath(cwd_u), "r"))
        self.assertIsNotNone(skipped)
        batch = BatchVariables(1, [], None)
        self.assertRun(result, START + ["Searching for all Driver Sets...",
                                        SKIPPED_TOO_LONG + skipped, "Writing Batch File"] +
                       batch.echo_lines(join(ppath(cwd_u), "out.bat")) + NOT_FOUND, 1)
        self.assertBatch(os.path.join(cwd_u, "out.bat"), batch)

    @native_only("names are bytes on POSIX; Wine maps them through a code page")
    def test_names_with_non_ascii_bytes(self):
        """UTF-8 and Latin-1 names are found, sorted byte by byte and written to the batch
        file as the bytes they are."""
        names = ["Tr\u00e4ger", "caf\udce9", "\u65e5\u672c", "zeta"]
        sets = [DriverSet(name, version="Win2003Server", date="0%d Jan 2009" % (i + 1),
                          build=name) for i, name in enumerate(names)]
        repo = self.make_sets("repo", sets)
        ordered = sort_by_bytes(sets, repo)
        stamps = [names.index(s.where) for s in ordered]
        result = self.run_tool([repo, "/B:" + self.p("n.bat")])
        lines, batch = self.expected_success(repo, ordered, stamps, "n.bat")
        self.assertRun(result, lines, 0)
        self.assertBatch(self.u("n.bat"), batch)

    @native_only("a POSIX file system tells names apart by case")
    def test_names_that_differ_only_in_case(self):
        """Directories SET, Set and set are three sets, in byte order. A directory holding
        DRVSET.INI and drvset.ini (no exact match) takes the one listed first, DRVSET.INI."""
        sets = [DriverSet(name, version="Win2003Server", date="0%d Jan 2009" % (i + 1),
                          build=name) for i, name in enumerate(["set", "Set", "SET"])]
        upper = DriverSet("x", version="Win2003Server", build="upper", file_name="DRVSET.INI")
        lower = DriverSet("x", version="Win2003Server", build="lower", file_name="drvset.ini")
        repo = self.make_sets("repo", sets + [upper, lower])
        ordered = sort_by_bytes(sets + [upper], repo)
        stamps = {"set": 1, "Set": 2, "SET": 3, "x": -1}
        result = self.run_tool([repo])
        lines, _ = self.expected_success(repo, ordered, [stamps[s.where] for s in ordered])
        self.assertRun(result, lines, 0)


# ---------------------------------------------------------------------------
# Permissions (native; as an unprivileged user)

UNREADABLE = "Skipping directory that cannot be read:"


@native_only("file permissions of POSIX")
class Unreadable(HostileTestCase):

    def setUp(self):
        super().setUp()
        user = unprivileged_user()
        if user is None:
            self.skipTest("no unprivileged user: not root to switch, no nobody, no useradd")
        self.uid, self.gid = user
        os.chmod(self.tmp, 0o755)
        # A copy of the program that the user can run wherever the build lives.
        os.makedirs(self.u("bin"))
        self.exe = self.u("bin", os.path.basename(CONFIG.exe))
        shutil.copy2(CONFIG.exe, self.exe)
        os.chmod(self.exe, 0o755)
        self.addCleanup(self.restore_modes)

    def restore_modes(self):
        for top, dirs, files in os.walk(self.tmp):
            for name in dirs + files:
                path = os.path.join(top, name)
                if not os.path.islink(path):
                    os.chmod(path, 0o755)

    def run_as_user(self, args, cwd=None, in_flight=None, more_env=None):
        def drop():
            if os.geteuid() == 0:
                os.setgroups([])
                os.setgid(self.gid)
                os.setuid(self.uid)
        return run_program([self.exe] + args, cwd or self.tmp, preexec_fn=drop,
                           in_flight=in_flight, more_env=more_env)

    def test_same_results_whatever_the_requests_in_flight(self):
        """One repository with everything the walk decides on (wide and deep directories,
        loops and links that reach one directory many times, unreadable directories and
        descriptors, a comma, descriptors in other case, a set below a set), searched alone
        and with 2, 8 and 64 requests in flight, and with the adaptive start (where the
        program can be run with bench/latency_shim.c, also with every round trip made slow,
        so that the workers start in the middle of the walk): standard output, the batch
        file and the exit code are the same bytes every time."""
        sets = []
        for family in range(3):
            for group in range(12):
                where = "f%d/g%02d" % (family, group)
                if group % 5 == 4:
                    where += "/deeper/still"
                sets.append(DriverSet(where, version="Win2003Server", systems=str(6000 + group),
                                      date="%02d Jan 2009" % (group + 1), build=where))
        sets.append(DriverSet("f0/g00/below", version="Win2003Server", build="hidden"))
        sets.append(DriverSet("v", version="Win2003Server", build="case",
                              file_name="drvset.ini"))
        sets.append(DriverSet("x,y/s", version="Win2003Server", build="comma"))
        sets.append(DriverSet("locked/s", version="Win2003Server", build="locked"))
        sets.append(DriverSet("blind/s", version="Win2003Server", build="blind"))
        sets.append(DriverSet("secret", version="Win2003Server", build="secret"))
        repo = self.make_sets("repo", sets)
        os.symlink("..", self.u("repo", "f1", "up"))
        os.symlink(self.u("repo"), self.u("repo", "f2", "top"))
        for name in ("a", "b", "c"):
            os.symlink("../f1", self.u("repo", "f0", "link-" + name))
        os.chmod(self.u("repo", "secret", "DrvSet.ini"), 0o000)
        os.chmod(self.u("repo", "locked"), 0o000)
        os.chmod(self.u("repo", "blind"), 0o644)

        os.makedirs(self.u("out"))
        os.chmod(self.u("out"), 0o777)  # for the user's batch files
        outcomes = {}
        batch = self.u("out", "s.bat")
        modes = [(n, None) for n in ("1", "2", "8", "64", "")]
        shim = latency_shim(self.u("bin"))
        if shim:
            modes.append(("", {"LD_PRELOAD": shim, "HALVARD_LATENCY_US": "300",
                               "HALVARD_LATENCY_PREFIX": self.u("repo")}))
        for in_flight, more_env in modes:
            result = self.run_as_user([repo, "/M:60", "/B:" + batch], in_flight=in_flight,
                                      more_env=more_env)
            with open(batch, "rb") as f:
                outcomes[in_flight or ("slow" if more_env else "")] = (
                    result.rc, result.out, result.err, f.read())
            os.remove(batch)
        for in_flight, outcome in outcomes.items():
            self.assertEqual(outcome, outcomes["1"], "in flight: %r" % in_flight)
        rc, out, err, _ = outcomes["1"]
        self.assertEqual((rc, err), (0, ""))
        for line in (UNREADABLE + self.p("repo", "locked"),
                     "Skipping directory with a comma in its name:" + self.p("repo", "x,y"),
                     "\t" + join(repo, "v", "drvset.ini"),
                     "\t" + join(repo, "f0", "link-a", "g11", "DrvSet.ini")):
            self.assertIn(line + "\n", out)
        self.assertNotIn("hidden", out)

    def test_unreadable_directories_and_descriptors(self):
        """A directory that cannot be listed, or listed but not entered, contributes nothing
        and is named in a skip line, so that nothing is lost in silence; a descriptor that
        cannot be read counts as an empty one (so it matches the default version with empty
        values and sorts last)."""
        sets = [DriverSet("open", version="Win2003Server", date="01 Jan 2009", build="open"),
                DriverSet("secret", version="Win2008Server", date="02 Jan 2009", build="secret")]
        repo = self.make_sets("repo", sets + [
            DriverSet("locked/inner", version="Win2003Server", build="locked"),
            DriverSet("blind/inner", version="Win2003Server", build="blind")])
        os.chmod(self.u("repo", "secret", "DrvSet.ini"), 0o000)
        os.chmod(self.u("repo", "locked"), 0o000)
        os.chmod(self.u("repo", "blind"), 0o644)  # listable, not searchable
        skipped = [UNREADABLE + self.p("repo", "blind", "inner"),
                   UNREADABLE + self.p("repo", "locked")]
        unreadable = DriverSet("secret")
        result = self.run_as_user([repo])
        lines, _ = self.expected_success(repo, [sets[0], unreadable], [1, -1])
        self.assertRun(result, lines[:2] + skipped + lines[2:], 0)
        # With another version the unreadable set does not match: its version reads empty.
        paths = [sets[0].ini_path(repo), unreadable.ini_path(repo)]
        result = self.run_as_user([repo, "/W:5"])
        self.assertRun(result, START + search_all([])[:1] + skipped + tabbed(paths) +
                       search_version("Win2008Server", []) + NOT_FOUND, 1)

    def test_descriptor_listed_in_a_directory_that_cannot_be_entered(self):
        """A directory that can be listed but not entered shows its DrvSet.ini: it is a set,
        read as empty since it cannot be opened, and nothing below it is searched."""
        below = DriverSet("blind/inner", version="Win2003Server", date="09 Jan 2009",
                          build="below")
        ok = DriverSet("ok", version="Win2003Server", date="01 Jan 2009", build="ok")
        repo = self.make_sets("repo", [below, ok, DriverSet("blind", version="Win2008Server")])
        os.chmod(self.u("repo", "blind"), 0o644)  # listable, not searchable
        blind = DriverSet("blind")
        result = self.run_as_user([repo])
        lines, _ = self.expected_success(repo, [blind, ok], [-1, 1])
        self.assertRun(result, lines, 0)

    def test_unreadable_driver_path_and_media(self):
        """A driver path that exists but cannot be read is an error, not a search that found
        nothing: a skip line names it and the run ends with exit 4, writing no batch file.
        Media that cannot be searched give no version (exit 5)."""
        repo = self.make_sets("repo", [DriverSet("s", version="Win2003Server")])
        write_file(self.u("media", "i386", "PRODSPEC.INI"),
                   ini_text("Product Specification", [("Product", "Windows Server 2003")]))
        os.chmod(self.u("repo"), 0o000)
        os.chmod(self.u("media"), 0o000)
        result = self.run_as_user([repo, "/B:" + self.p("out.bat")])
        self.assertRun(result, START + search_all([]) + [UNREADABLE + repo], 4)
        self.assertFalse(os.path.exists(self.u("out.bat")))
        os.chmod(self.u("repo"), 0o755)
        media = self.p("media")
        result = self.run_as_user([repo, "/WP:" + media])
        self.assertRun(result, START + ["Searching for PRODSPEC.INI in " + media,
                                        UNREADABLE + media,
                                        "Searching for idwbinfo.txt in " + media,
                                        UNREADABLE + media,
                                        "\nNo PRODSPEC.INI or idwbinfo.txt file found in " +
                                        media], 5)

    def test_batch_file_that_cannot_be_written(self):
        """A batch path in a directory the user cannot write, or an existing read-only batch
        file: "Error opening file:" with the absolute path, exit 3, the old file untouched."""
        s = DriverSet("s", version="Win2003Server", build="s")
        repo = self.make_sets("repo", [s])
        os.makedirs(self.u("ro"))
        os.chmod(self.u("ro"), 0o555)
        write_file(self.u("old.bat"), b"old contents\r\n")
        os.chmod(self.u("old.bat"), 0o444)
        head, _ = self.expected_success(repo, [s], [1])
        for target in (self.u("ro", "new.bat"), self.u("old.bat")):
            with self.subTest(target=target):
                result = self.run_as_user([repo, "/B:" + target])
                self.assertRun(result, head + ["\nWriting Batch File...",
                                               "Error opening file:  " + target], 3)
        self.assertEqual(os.listdir(self.u("ro")), [])
        with open(self.u("old.bat"), "rb") as f:
            self.assertEqual(f.read(), b"old contents\r\n")
        # The not-found path fails the same way, without "Driver Set not Found".
        result = self.run_as_user([repo, "/W:5", "/B:" + self.u("ro", "new.bat")])
        self.assertRun(result, START + search_all([s.ini_path(repo)]) +
                       search_version("Win2008Server", []) +
                       ["Writing Batch File", "Error opening file:  " + self.u("ro", "new.bat")],
                       3)


# ---------------------------------------------------------------------------
# Special files and links (native)

@native_only("FIFOs and symbolic links of POSIX")
class SpecialFilesAndLinks(HostileTestCase):

    def test_descriptor_that_is_a_fifo_directory_or_dangling_link(self):
        """A FIFO, a directory, or a link to a directory named DrvSet.ini reads as an empty
        descriptor without blocking; a dangling link is no descriptor, so the directory is
        searched further down."""
        real = DriverSet("e-real", version="Win2003Server", date="01 Jan 2009", build="real")
        below = DriverSet("c-dangling/below", version="Win2003Server", date="02 Jan 2009",
                          build="below")
        repo = self.make_sets("repo", [real, below])
        os.makedirs(self.u("repo", "a-fifo"))
        os.mkfifo(self.u("repo", "a-fifo", "DrvSet.ini"))
        os.makedirs(self.u("repo", "b-dir", "DrvSet.ini"))
        os.symlink("nowhere/DrvSet.ini", self.u("repo", "c-dangling", "DrvSet.ini"))
        os.makedirs(self.u("repo", "d-link"))
        os.symlink("../b-dir", self.u("repo", "d-link", "DrvSet.ini"))
        sets = [DriverSet("a-fifo"), DriverSet("b-dir"), below, DriverSet("d-link"), real]
        result = self.run_tool([repo, "/B:" + self.p("s.bat")])
        lines, batch = self.expected_success(repo, sets, [-1, -1, 2, -1, 1], "s.bat")
        self.assertRun(result, lines, 0)
        self.assertBatch(self.u("s.bat"), batch)

    def test_media_file_that_is_a_fifo_or_dangling_link(self):
        """A PRODSPEC.INI that is a FIFO is found and yields no version (exit 5); a dangling
        one is not there, so the search goes on to idwbinfo.txt."""
        os.makedirs(self.u("repo"))
        os.makedirs(self.u("m1", "i386"))
        os.mkfifo(self.u("m1", "i386", "PRODSPEC.INI"))
        m1 = self.p("m1")
        hit = join(m1, "i386", "PRODSPEC.INI")
        result = self.run_tool([self.p("repo"), "/WP:" + m1])
        self.assertRun(result, START + ["Searching for PRODSPEC.INI in " + m1, "\t" + hit,
                                        "\nDetermining OS Version from file:" + hit,
                                        "\nNo PRODSPEC.INI or idwbinfo.txt file found in " + m1],
                       5)
        os.makedirs(self.u("m2", "a"))
        os.symlink("missing", self.u("m2", "a", "PRODSPEC.INI"))
        write_file(self.u("m2", "b", "idwbinfo.txt"),
                   ini_text("BUILDINFO", [("BuildArch", "amd64")]))
        m2 = self.p("m2")
        hit = join(m2, "b", "idwbinfo.txt")
        result = self.run_tool([self.p("repo"), "/WP:" + m2])
        self.assertRun(result, START + ["Searching for PRODSPEC.INI in " + m2,
                                        "Searching for idwbinfo.txt in " + m2, "\t" + hit,
                                        "\nDetermining OS Version from file:" + hit] +
                       search_all([]) + NOT_FOUND, 1)

    def test_link_loops_at_the_top(self):
        """A driver path that is a link to itself does not exist (exit 4). A driver path
        that is a link to a directory holding a link back to it is walked once."""
        os.symlink("loop", self.u("loop"))
        loop = self.p("loop")
        self.assertRun(self.run_tool([loop]),
                       START + usage_lines() + ["\nDirectory " + loop + " Not Found:"], 4)
        s = DriverSet("s", version="Win2003Server", build="s")
        s.write(self.u("real"))
        os.symlink("real", self.u("repo"))
        os.symlink("../repo", self.u("real", "up"))
        os.symlink(".", self.u("real", "here"))
        repo = self.p("repo")
        lines, _ = self.expected_success(repo, [s], [1])
        self.assertRun(self.run_tool([repo]), lines, 0)

    def test_link_loops_deep_down(self):
        """Links back to the top, to an ancestor and between two siblings, 60 directories
        down: the walk enters every directory once, by the first path that reaches it, so it
        ends, and a set reached along two paths is reported once (here through x/to-y)."""
        chain = "/".join("l%02d" % i for i in range(60))
        bottom = DriverSet(chain + "/s", version="Win2003Server", date="03 Jan 2009",
                           build="bottom")
        shared = DriverSet("y/s", version="Win2003Server", date="01 Jan 2009", build="shared")
        repo = self.make_sets("repo", [bottom, shared])
        os.symlink(self.u("repo"), self.u("repo", *chain.split("/"), "top"))
        os.symlink("../../..", self.u("repo", *chain.split("/"), "up3"))
        os.makedirs(self.u("repo", "x"))
        os.symlink("../y", self.u("repo", "x", "to-y"))
        os.symlink("../x", self.u("repo", "y", "to-x"))
        via_x = DriverSet("x/to-y/s", version="Win2003Server", date="01 Jan 2009",
                          build="shared")
        result = self.run_tool([repo, "/B:" + self.p("l.bat")])
        lines, batch = self.expected_success(repo, [bottom, via_x], [3, 1], "l.bat")
        self.assertRun(result, lines, 0)
        self.assertBatch(self.u("l.bat"), batch)

    def test_links_that_multiply_paths_end_in_time(self):
        """Forty directories each holding two links to the next make 2**39 paths to the one
        set; each directory is walked once, by its first path, so the run ends at once and
        reports the set once."""
        levels = 40
        for i in range(levels):
            os.makedirs(self.u("repo", "d%02d" % i))
        for i in range(levels - 1):
            for name in ("a", "b"):
                os.symlink("../d%02d" % (i + 1), self.u("repo", "d%02d" % i, name))
        write_file(self.u("repo", "d%02d" % (levels - 1), "DrvSet.ini"),
                   main_section("Win2003Server", "01 Jan 2009", "end"))
        try:
            result = e2e_support.run_tool([self.p("repo", "d00")], cwd=self.tmp, timeout=10)
        except subprocess.TimeoutExpired:
            self.fail("the walk did not end")
        end = DriverSet("/".join(["a"] * (levels - 1)), version="Win2003Server",
                        date="01 Jan 2009", build="end")
        lines, _ = self.expected_success(self.p("repo", "d00"), [end], [1])
        self.assertRun(result, lines, 0)


# ---------------------------------------------------------------------------
# Batch targets (both builds)

class HostileBatchTargets(HostileTestCase):

    def test_batch_path_that_is_an_existing_directory(self):
        """A batch path naming a directory (with or without a trailing separator) cannot be
        opened: "Error opening file:" with the absolute path, exit 3, the directory as it
        was; on the not-found path too."""
        s = DriverSet("s", version="Win2003Server", build="s")
        repo = self.make_sets("repo", [s])
        os.makedirs(self.u("out", "keep"))
        head, _ = self.expected_success(repo, [s], [1])
        for typed in (self.p("out"), self.p("out") + sep()):
            with self.subTest(typed=typed):
                result = self.run_tool([repo, "/B:" + typed])
                self.assertRun(result, head + ["\nWriting Batch File...",
                                               "Error opening file:  " + typed], 3)
                result = self.run_tool([repo, "/W:5", "/B:" + typed])
                self.assertRun(result, START + search_all([s.ini_path(repo)]) +
                               search_version("Win2008Server", []) +
                               ["Writing Batch File", "Error opening file:  " + typed], 3)
        self.assertEqual(os.listdir(self.u("out")), ["keep"])


class ClosedStandardStreams(HostileTestCase):
    """Started without standard output, error or input (`halvard ... >&-`, or a parent that
    hands over no descriptors): the batch file is the one a normal run writes, byte for
    byte, and nothing of the console reaches it; the exit code is the run's own. A set
    named `a&echo INJECTED` shows why: console lines above `@Echo off` would run it."""

    def setUp(self):
        super().setUp()
        self.injected = DriverSet("a&echo INJECTED", version="Win2003Server", build="x")
        self.repo = self.make_sets("repo", [self.injected])
        _, self.batch = self.expected_success(self.repo, [self.injected], [1], "out.bat")
        self.none = BatchVariables(5, [], [])

    def run_closed(self, args, closed):
        def close():
            for fd in closed:
                os.close(fd)
        return subprocess.run([CONFIG.exe] + args, cwd=self.tmp, stdin=subprocess.DEVNULL,
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                              preexec_fn=close, timeout=20).returncode

    @native_only("Wine started with its own descriptors 0 and 1 closed stops before the "
                 "program runs (and exits 0); the Windows build's case is a parent without "
                 "standard handles")
    def test_closed_descriptors_never_reach_the_batch_file(self):
        for closed in ([1], [2], [1, 2], [0, 1, 2], [0]):
            with self.subTest(closed=closed):
                rc = self.run_closed([self.repo, "/B:" + self.p("out.bat")], closed)
                self.assertEqual(rc, 0)
                self.assertBatch(self.u("out.bat"), self.batch)
                os.remove(self.u("out.bat"))
                # The not-found path writes its batch file too.
                rc = self.run_closed([self.repo, "/W:5", "/B:" + self.p("none.bat")], closed)
                self.assertEqual(rc, 1)
                self.assertBatch(self.u("none.bat"), self.none)
                os.remove(self.u("none.bat"))

    @windows_only("a Windows parent that hands over no standard handles")
    def test_parent_that_hands_over_no_standard_handles(self):
        """Started by CreateProcess with no standard handles at all (no console, none
        inherited), as a service or a detached parent starts it."""
        launcher = no_standard_handles_launcher(self.tmp)
        if launcher is None:
            self.skipTest("no MinGW-w64 compiler to build the launcher")
        program = ppath(CONFIG.exe)
        rc, _, _ = e2e_support.run_command([launcher, program, self.repo,
                                            "/B:" + self.p("out.bat")], cwd=self.tmp)
        self.assertEqual(rc, 0)
        self.assertBatch(self.u("out.bat"), self.batch)
        rc, _, _ = e2e_support.run_command([launcher, program, self.repo, "/W:5",
                                            "/B:" + self.p("none.bat")], cwd=self.tmp)
        self.assertEqual(rc, 1)
        self.assertBatch(self.u("none.bat"), self.none)


class TimesDaylightSavingChanges(HostileTestCase):
    """Creation times in the hour that happens twice when daylight saving ends, or never when
    it starts, are read one way whatever was read before: a repeated time as its earlier
    instant, a skipped one with the offset before the change; so a later text is the later
    set, and removing an unrelated set changes nothing."""

    def run_in_zone(self, zone, args):
        if not is_windows():
            env = dict(os.environ, TZ=zone)
            proc = subprocess.run([CONFIG.exe] + args, cwd=self.tmp, env=env,
                                  stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                  stderr=subprocess.PIPE, timeout=20)
            return Result(proc.returncode, proc.stdout.decode("utf-8", "surrogateescape"),
                          proc.stderr.decode("utf-8", "replace"))
        # Wine takes the zone of the Windows side from TZ; the runtime would read TZ in its
        # own format, so the program runs without it, as on Windows.
        os.environ["TZ"] = zone
        try:
            command = ["cmd", "/c", "set TZ=&& " + " ".join([ppath(CONFIG.exe)] + args)]
            rc, out, err = e2e_support.run_command(command, cwd=self.tmp)
        finally:
            del os.environ["TZ"]
        return Result(rc, out.decode("utf-8", "surrogateescape").replace("\r\n", "\n"),
                      err.decode("utf-8", "replace"))

    def check(self, zone, sets, stamps):
        for s in sets:
            s.write(self.u(zone.replace("/", "-")))
        repo = self.p(zone.replace("/", "-"))
        lines, batch = self.expected_success(repo, sets, stamps, "dst.bat")
        result = self.run_in_zone(zone, [repo, "/B:" + self.p("dst.bat")])
        self.assertRun(result, lines, 0)
        self.assertBatch(self.u("dst.bat"), batch)

    def test_repeated_and_skipped_hours(self):
        for zone, repeated, skipped in (("America/New_York", "01 Nov 2009", "08 Mar 2009"),
                                        ("Europe/Berlin", "25 Oct 2009", "29 Mar 2009")):
            hour = "01" if zone.startswith("America") else "02"
            before = "01" if hour == "02" else "00"
            with self.subTest(zone=zone):
                # A winter and a summer set read between the two repeated times.
                winter = DriverSet("a-winter", version="Win2003Server", date="15 Jan 2009",
                                   time="12:00:00", build="winter")
                early = DriverSet("b-early", version="Win2003Server", date=repeated,
                                  time=hour + ":20:00", build="early")
                summer = DriverSet("c-summer", version="Win2003Server", date="15 Jul 2009",
                                   time="12:00:00", build="summer")
                late = DriverSet("d-late", version="Win2003Server", date=repeated,
                                 time=hour + ":40:00", build="late")
                self.check(zone, [winter, early, summer, late], [1, 3, 2, 4])
                # Without the summer set in between, the same order.
                shutil.rmtree(self.u(zone.replace("/", "-")))
                self.check(zone, [winter, early, late], [1, 3, 4])
                shutil.rmtree(self.u(zone.replace("/", "-")))
                # A skipped time is later than the time before the change.
                gap = DriverSet("e-gap", version="Win2003Server", date=skipped,
                                time="02:30:00", build="gap")
                edge = DriverSet("f-edge", version="Win2003Server", date=skipped,
                                 time=before + ":45:00", build="edge")
                self.check(zone, [gap, edge], [2, 1])
                shutil.rmtree(self.u(zone.replace("/", "-")))


def no_standard_handles_launcher(directory):
    """no_standard_handles.c built for the architecture of the program under test, or None
    where no MinGW-w64 compiler is installed."""
    with open(CONFIG.exe, "rb") as f:
        header = f.read(4096)
    pe = int.from_bytes(header[0x3c:0x40], "little")
    machine = int.from_bytes(header[pe + 4:pe + 6], "little")
    compiler = "x86_64-w64-mingw32-gcc" if machine == 0x8664 else "i686-w64-mingw32-gcc"
    if shutil.which(compiler) is None:
        return None
    source = os.path.join(os.path.dirname(os.path.abspath(__file__)), "no_standard_handles.c")
    launcher = os.path.join(directory, "no_standard_handles.exe")
    subprocess.run([compiler, "-O2", "-o", launcher, source], check=True)
    return launcher


# ---------------------------------------------------------------------------
# Memory and valgrind (native build without sanitizers)

@native_only("address-space limits of POSIX")
class OutOfMemory(HostileTestCase):

    def test_running_out_of_memory_mid_run(self):
        """A descriptor of 1 GiB (sparse: no disk used) under a 256 MiB address-space limit:
        the allocation fails in the middle of the search. The memory report naming
        CString::CreateCharString goes to standard error, the exit status is 6 (a general
        error: 1 would read as "no driver set found"), nothing is written and an existing
        batch file is left as it was."""
        if is_sanitized():
            self.skipTest("AddressSanitizer needs more address space than the limit allows")
        import resource
        ok = DriverSet("a", version="Win2003Server", build="a")
        repo = self.make_sets("repo", [ok])
        os.makedirs(self.u("repo", "b"))
        with open(self.u("repo", "b", "DrvSet.ini"), "wb") as f:
            f.truncate(1 << 30)
        write_file(self.u("old.bat"), b"old\r\n")

        def limit():
            resource.setrlimit(resource.RLIMIT_AS, (256 << 20, 256 << 20))

        result = run_program([CONFIG.exe, repo, "/B:" + self.u("old.bat")], self.tmp,
                             preexec_fn=limit)
        self.assertEqual(result.rc, 6)
        self.assertEqual(result.out, "".join(line + "\n" for line in START + [
            "Searching for all Driver Sets..."]))
        self.assertEqual(result.err, MEMORY_REPORT)
        with open(self.u("old.bat"), "rb") as f:
            self.assertEqual(f.read(), b"old\r\n")

    def test_running_out_of_memory_with_requests_in_flight(self):
        """Sixteen descriptors of 1 GiB each, read by sixteen workers at once under a 512 MiB
        limit: allocations fail in several threads together, and the run still ends with one
        memory report and exit status 6, as alone."""
        if is_sanitized():
            self.skipTest("the sanitizers need more address space than the limit allows")
        import resource
        repo = self.make_sets("repo", [DriverSet("a", version="Win2003Server", build="a")])
        for i in range(16):
            os.makedirs(self.u("repo", "big%02d" % i))
            with open(self.u("repo", "big%02d" % i, "DrvSet.ini"), "wb") as f:
                f.truncate(1 << 30)

        def limit():
            resource.setrlimit(resource.RLIMIT_AS, (512 << 20, 512 << 20))

        for in_flight in ("16", "1"):
            with self.subTest(in_flight=in_flight):
                result = run_program([CONFIG.exe, repo], self.tmp, preexec_fn=limit,
                                     in_flight=in_flight)
                self.assertEqual(result.rc, 6)
                self.assertEqual(result.out, "".join(line + "\n" for line in START + [
                    "Searching for all Driver Sets..."]))
                self.assertEqual(result.err, MEMORY_REPORT)


    def run_limited(self, args, megabytes, in_flight):
        import resource

        def limit():
            resource.setrlimit(resource.RLIMIT_AS, (megabytes << 20, megabytes << 20))

        return run_program([CONFIG.exe] + args, self.tmp, preexec_fn=limit, in_flight=in_flight)

    def test_requests_in_flight_need_no_more_memory_than_walking_alone(self):
        """Under an address-space limit that walking alone fits in, every number of requests
        in flight gives the same run: large descriptors are left to the walk rather than read
        by eight workers at once, thread stacks are small and threads share one heap, and
        workers start only where a reserve for them can be had."""
        if is_sanitized():
            self.skipTest("the sanitizers need more address space than the limits allow")
        large = [DriverSet("big%d" % i) for i in range(8)]
        for s in large:
            os.makedirs(self.u("big", s.where))
            with open(self.u("big", s.where, "DrvSet.ini"), "wb") as f:
                f.truncate(128 << 20)
        small = [DriverSet("d%04d" % i, version="Win2003Server", date="01 Jan 2009",
                           build=str(i)) for i in range(2000)]
        self.make_sets("small", small)
        for repo, megabytes in (("big", 400), ("small", 256), ("small", 48)):
            args = [self.p(repo), "/B:" + self.p(repo + ".bat")]
            alone = self.run_limited(args, megabytes, "1")
            self.assertEqual(alone.rc, 0, alone.err)
            with open(self.u(repo + ".bat"), "rb") as f:
                batch = f.read()
            for in_flight in ("8", "64", ""):
                with self.subTest(repo=repo, limit=megabytes, in_flight=in_flight):
                    os.remove(self.u(repo + ".bat"))
                    result = self.run_limited(args, megabytes, in_flight)
                    self.assertEqual((result.rc, result.err), (0, ""))
                    self.assertEqual(result.out, alone.out)
                    with open(self.u(repo + ".bat"), "rb") as f:
                        self.assertEqual(f.read(), batch)


@native_only("valgrind runs the native build")
class Valgrind(HostileTestCase):

    def test_typical_run_is_clean_under_valgrind(self):
        """The typical command (version, machine type, batch file) under valgrind: no invalid
        access, no uninitialised value used, no leak definitely lost."""
        reason = None
        if is_sanitized():
            reason = "valgrind cannot run a program built with AddressSanitizer"
        elif is_static():
            reason = "memcheck cannot follow the heap of a statically linked program"
        elif shutil.which("valgrind") is None:
            reason = "valgrind is not installed"
        if reason is not None:
            # scripts/test-sanitizers.sh runs this test on a build where it must not skip.
            if os.environ.get("HALVARD_E2E_REQUIRE_VALGRIND"):
                self.fail(reason)
            self.skipTest(reason)
        sets = [DriverSet("w2008/a", version="Win2008Server", systems="6123,7340",
                          kastrel="8.20", date="05 Mar 2009", time="14:30:05", build="A"),
                DriverSet("w2008/b", version="Win2008Server", systems="6123", quillon="2.1",
                          date="06 Mar 2009", time="09:00:00", build="B"),
                DriverSet("w2003", version="Win2003Server", systems="6123", build="C")]
        repo = self.make_sets("repo", sets)
        write_file(self.u("media", "x86", "idwbinfo.txt"),
                   ini_text("BUILDINFO", [("BuildArch", "x86")]))
        command = ["valgrind", "-q", "--error-exitcode=1", "--leak-check=full",
                   "--errors-for-leak-kinds=definite", "--track-origins=yes", CONFIG.exe]
        for args in ([repo, "/W:5", "/M:6123", "/B:" + self.u("setdrv.bat")],
                     [repo, "/WP:" + self.u("media"), "/M:6123,7340", "/B:" + self.u("x.bat")]):
            with self.subTest(args=args):
                result = run_program(command + args, self.tmp, timeout=300)
                self.assertEqual(result.err, "")
                self.assertEqual(result.rc, 0, result.out)
                self.assertIn("Driver Set Found!", result.out)
