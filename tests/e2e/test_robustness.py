"""Awkward trees and paths on both builds: trailing separators and roots, commas in names,
descriptors that are directories or carry a byte-order mark, names that cmd.exe would
otherwise misread in the batch file, and a standard output whose reader has gone."""
import os
import subprocess

from e2e_support import (CONFIG, LATEST, START, BatchVariables, DriverSet, ToolTestCase,
                         cmd_variables, found, ini_text, is_windows, join, report, search_all,
                         search_version, sep, windows_only, wine_launcher, write_file)


class TrailingSeparatorsAndRoots(ToolTestCase):

    def build_tree(self, root_unix):
        older = DriverSet("c", version="Win2003Server", date="01 Jan 2009", time="00:00:00",
                          build="older")
        deep = DriverSet("a/b", version="Win2003Server", date="02 Jan 2009", time="00:00:00",
                         build="deep")
        older.write(root_unix)
        deep.write(root_unix)
        write_file(os.path.join(root_unix, "i386", "PRODSPEC.INI"),
                   ini_text("Product Specification", [("Product", "Windows Server 2003")]))
        return [deep, older]

    def expected(self, root, media, media_full, sets, order, batch_full):
        """root and media as typed; found paths carry single separators."""
        hit = join(media, "i386", "PRODSPEC.INI")
        paths = [s.ini_path(root) for s in sets]
        batch = BatchVariables(1, [s.dir_path(root) for s in order],
                               [s.rel_dir() for s in order])
        lines = (START + ["Searching for PRODSPEC.INI in " + media_full, "\t" + hit,
                          "\nDetermining OS Version from file:" + hit,
                          "Windows Version=Windows Server 2003"] +
                 search_all(paths) + search_version("Win2003Server", paths) +
                 report(root, sets) + LATEST + found(order[0].dir_path(root)) +
                 ["\nWriting Batch File..."] + batch.echo_lines(batch_full))
        return lines, batch

    def test_paths_with_a_trailing_separator(self):
        sets = self.build_tree(self.u("repo"))
        root = self.p("repo") + sep()
        result = self.run_tool([root, "/WP:" + root, "/B:" + self.p("t.bat")])
        lines, batch = self.expected(root, root, root, sets, sets, self.p("t.bat"))
        self.assertRun(result, lines, 0)
        self.assertBatch(self.u("t.bat"), batch)

    @windows_only("a drive root needs a Wine drive letter")
    def test_drive_root(self):
        sets = self.build_tree(self.u("drive"))
        letter = self.map_drive(self.u("drive"))
        root = letter + ":\\"
        result = self.run_tool([root, "/WP:" + root, "/B:" + self.p("r.bat")])
        lines, batch = self.expected(root, root, root, sets, sets, self.p("r.bat"))
        self.assertRun(result, lines, 0)
        self.assertBatch(self.u("r.bat"), batch)

    @windows_only("a share root needs Wine's UNC folder")
    def test_share_root(self):
        # \\server\share, with and without the separator after it: the found paths, the
        # report and the relative list come out right below it.
        sets = self.build_tree(self.u("share"))
        share = self.map_share(self.u("share"))
        for root in (share, share + "\\"):
            with self.subTest(root=root):
                result = self.run_tool([root, "/WP:" + root, "/B:" + self.p("u.bat")])
                lines, batch = self.expected(root, root, root, sets, sets, self.p("u.bat"))
                self.assertRun(result, lines, 0)
                self.assertBatch(self.u("u.bat"), batch)

    def map_share(self, target):
        prefix = os.environ.get("WINEPREFIX") or os.path.expanduser("~/.wine")
        unc = os.path.join(prefix, "dosdevices", "unc", "halvard-e2e")
        if not os.path.isdir(os.path.join(prefix, "dosdevices")):
            self.skipTest("no Wine prefix at " + prefix)
        os.makedirs(unc, exist_ok=True)
        name = "share%d" % os.getpid()
        os.symlink(target, os.path.join(unc, name))
        self.addCleanup(os.remove, os.path.join(unc, name))
        return "\\\\halvard-e2e\\" + name

    def map_drive(self, target):
        prefix = os.environ.get("WINEPREFIX") or os.path.expanduser("~/.wine")
        devices = os.path.join(prefix, "dosdevices")
        if not os.path.isdir(devices):
            self.skipTest("no Wine prefix at " + prefix)
        for letter in "rstuvwxy":
            link = os.path.join(devices, letter + ":")
            if not os.path.lexists(link):
                os.symlink(target, link)
                self.addCleanup(os.remove, link)
                return letter.upper()
        self.skipTest("no free drive letter")


class OddTrees(ToolTestCase):

    def test_directories_with_a_comma_are_skipped(self):
        a = DriverSet("a", version="Win2008Server", build="a")
        g = DriverSet("g", version="Win2008Server", build="g")
        hidden = [DriverSet("b,c", version="Win2008Server"),
                  DriverSet("d,e/f", version="Win2008Server"),
                  DriverSet("x/y,z", version="Win2008Server")]
        repo = self.make_sets("repo", [a, g] + hidden)
        paths = [a.ini_path(repo), g.ini_path(repo)]
        skipped = [join(repo, "b,c"), join(repo, "d,e"), join(repo, "x", "y,z")]
        result = self.run_tool([repo, "/W:5"])
        self.assertRun(result, START + ["Searching for all Driver Sets..."] +
                       ["Skipping directory with a comma in its name:" + d for d in skipped] +
                       ["\t" + p for p in paths] + search_version("Win2008Server", paths) +
                       report(repo, [a, g]) + LATEST + found(a.dir_path(repo)), 0)

    def test_sets_sort_alike_on_both_builds(self):
        # Found paths sort by bytes with every separator read as "\\" (0x5C), on POSIX as on
        # Windows: "-" < "R" < separator < "_". So Win2008R2 comes before Win2008, and with
        # equal times it is chosen, on both builds.
        old = DriverSet("Win2008-old", version="Win2008Server", date="01 Jan 2009",
                        time="00:00:00", build="old")
        r2 = DriverSet("Win2008R2", version="Win2008Server", date="02 Jan 2009",
                       time="00:00:00", build="r2")
        plain = DriverSet("Win2008", version="Win2008Server", date="02 Jan 2009",
                          time="00:00:00", build="plain")
        sp2 = DriverSet("Win2008_SP2", version="Win2008Server", date="01 Jan 2009",
                        time="00:00:00", build="sp2")
        repo = self.make_sets("repo", [plain, sp2, old, r2])
        listed = [old, r2, plain, sp2]
        order = [r2, plain, old, sp2]
        paths = [s.ini_path(repo) for s in listed]
        batch = BatchVariables(5, [s.dir_path(repo) for s in order],
                               [s.rel_dir() for s in order])
        result = self.run_tool([repo, "/W:5", "/B:" + self.p("o.bat")])
        self.assertRun(result, START + search_all(paths) + search_version("Win2008Server", paths) +
                       report(repo, listed) + LATEST + found(r2.dir_path(repo)) +
                       ["\nWriting Batch File..."] + batch.echo_lines(self.p("o.bat")), 0)
        self.assertBatch(self.u("o.bat"), batch)

    def test_descriptor_that_is_a_directory_reads_as_empty(self):
        ok = DriverSet("ok", version="Win2003Server", date="01 Jan 2009", time="00:00:00",
                       build="ok")
        repo = self.make_sets("repo", [ok])
        os.makedirs(self.u("repo", "dir", "DrvSet.ini", "sub"))
        d = DriverSet("dir")
        paths = [d.ini_path(repo), ok.ini_path(repo)]
        result = self.run_tool([repo])
        self.assertRun(result, START + search_all(paths) + search_version("Win2003Server", paths) +
                       report(repo, [d, ok]) + LATEST + found(ok.dir_path(repo)), 0)

    def test_byte_order_mark_is_ignored(self):
        plain = DriverSet("plain", version="Win2008Server", systems="6123", kastrel="8.20",
                          date="05 Mar 2009", time="14:30:05", build="KQ")
        bom = DriverSet("bom", version="Win2008Server", systems="6123", kastrel="8.20",
                        date="05 Mar 2009", time="14:30:06", build="KQ")
        repo = self.make_sets("repo", [plain])
        write_file(self.u("repo", "bom", "DrvSet.ini"), b"\xef\xbb\xbf" + bom.ini_bytes())
        paths = [bom.ini_path(repo), plain.ini_path(repo)]
        result = self.run_tool([repo, "/W:5", "/M:6123"])
        self.assertRun(result, START + search_all(paths) + search_version("Win2008Server", paths) +
                       ["Searching for MachineType=6123 Driver Sets..."] +
                       ["\t" + p for p in paths] + report(repo, [bom, plain]) + LATEST +
                       found(bom.dir_path(repo)), 0)


class SpecialCharacters(ToolTestCase):
    """Directory names holding characters that cmd.exe treats specially. Windows names
    cannot hold < > |, so the Windows build is tested without them."""

    def setUp(self):
        super().setUp()
        self.older = DriverSet("A&B ^C/p%PATH%q!x", version="Win2008Serverx64",
                               date="01 Jan 2009", time="00:00:00", build="older")
        newer_dir = "x^y&z w" if is_windows() else "i<j>k|l m"
        self.newer = DriverSet(newer_dir, version="Win2008Serverx64", date="02 Jan 2009",
                               time="00:00:00", build="newer")
        self.repo = self.make_sets("repo", [self.older, self.newer])
        self.sets = sorted([self.older, self.newer], key=lambda s: s.ini_path(self.repo))
        self.order = [self.newer, self.older]
        self.batch = BatchVariables(6, [s.dir_path(self.repo) for s in self.order],
                                    [s.rel_dir() for s in self.order])

    def run_and_check(self):
        result = self.run_tool([self.repo, "/W:6", "/B:" + self.p("s.bat")])
        paths = [s.ini_path(self.repo) for s in self.sets]
        self.assertRun(result, START + search_all(paths) +
                       search_version("Win2008Serverx64", paths) + report(self.repo, self.sets) +
                       LATEST + found(self.newer.dir_path(self.repo)) +
                       ["\nWriting Batch File..."] + self.batch.echo_lines(self.p("s.bat")), 0)
        self.assertBatch(self.u("s.bat"), self.batch)

    def test_batch_values_are_escaped(self):
        self.run_and_check()
        if not is_windows():
            with open(self.u("s.bat"), "rb") as f:
                text = f.read()
            self.assertIn(b"SET QL_NOS_DDL_Path_1=" + self.u().encode() +
                          b"/repo/i^<j^>k^|l m\r\n", text)
            self.assertIn(b"SET QL_NOS_All_DDL_Paths=\"i<j>k|l m\";\"A&B ^C/p%%PATH%%q!x\"\r\n",
                          text)

    @windows_only("runs the batch file with Wine's cmd.exe")
    def test_cmd_reads_the_values_back(self):
        self.run_and_check()
        expected = {n: v for n, v in self.batch.values().items() if v}
        self.assertEqual(cmd_variables(self.u("s.bat"), self.tmp), expected)


class BrokenStandardOutput(ToolTestCase):
    """A pipe whose reader has gone (`halvard ... | head -1`) never ends the run: the lines
    are dropped, the batch file is still written and the exit code is the run's own."""

    def run_into_closed_pipe(self, args):
        reader, writer = os.pipe()
        os.close(reader)
        command = [CONFIG.exe] + args
        if is_windows():
            command = [wine_launcher()] + command
        try:
            return subprocess.run(command, cwd=self.tmp, stdin=subprocess.DEVNULL,
                                  stdout=writer, stderr=subprocess.DEVNULL,
                                  timeout=180 if is_windows() else 20).returncode
        finally:
            os.close(writer)

    def test_run_goes_on_to_its_own_exit_code(self):
        repo = self.make_sets("repo", [DriverSet("a", version="Win2008Server")])
        cases = [([repo, "/W:5", "/B:found.bat"], 0, "found.bat"),
                 ([repo, "/W:7", "/B:none.bat"], 1, "none.bat"),
                 ([self.p("missing"), "/B:error.bat"], 4, None)]
        for args, rc, batch in cases:
            with self.subTest(args=args):
                self.assertEqual(rc, self.run_into_closed_pipe(args))
                if batch:
                    self.assertTrue(os.path.isfile(self.u(batch)), batch + " not written")
        self.assertFalse(os.path.exists(self.u("error.bat")))
