"""Behaviours of the POSIX build: name case, listing order, links, special files, and batch
values or files that cannot be written."""
import os
import subprocess

from e2e_support import (LATEST, NOT_FOUND, START, BatchVariables, DriverSet, ToolTestCase,
                         found, ini_text, join, native_only, report, search_all, search_type,
                         search_version, write_file)


@native_only()
class NamesAndPaths(ToolTestCase):

    def test_descriptor_name_in_another_case(self):
        # Found whatever its case, recorded with the name as on disk; an exact match wins.
        odd = DriverSet("a", version="Win2008Server", build="odd case", file_name="drvset.INI")
        exact = DriverSet("b", version="Win2008Server", build="exact", file_name="DrvSet.ini")
        lower = DriverSet("b", version="Win2008Server", build="lower", file_name="drvset.ini")
        repo = self.make_sets("repo", [odd, exact, lower])
        result = self.run_tool([repo, "/W:5"])
        paths = [odd.ini_path(repo), exact.ini_path(repo)]
        self.assertRun(result, START + search_all(paths) + search_version("Win2008Server", paths) +
                       report(repo, [odd, exact]) + LATEST + found(odd.dir_path(repo)), 0)

    def test_sibling_directories_differing_in_case_sort_by_bytes(self):
        lower = DriverSet("b", version="Win2003Server", build="lower")
        upper = DriverSet("B", version="Win2003Server", build="upper")
        repo = self.make_sets("repo", [lower, upper])
        paths = [upper.ini_path(repo), lower.ini_path(repo)]
        result = self.run_tool([repo])
        self.assertRun(result, START + search_all(paths) + search_version("Win2003Server", paths) +
                       report(repo, [upper, lower]) + LATEST + found(upper.dir_path(repo)), 0)

    def test_driver_path_typed_with_backslashes(self):
        # A Windows-style text works on POSIX too: lists keep the separator typed, absolute
        # paths use "/", the relative list keeps the inner backslash.
        deep = DriverSet("a/b", version="Win2003Server", date="02 Jan 2009", time="00:00:00")
        flat = DriverSet("c", version="Win2003Server", date="01 Jan 2009", time="00:00:00")
        self.make_sets("repo", [deep, flat])
        typed = self.u("repo").replace("/", "\\")
        paths = [typed + "\\a\\b\\DrvSet.ini", typed + "\\c\\DrvSet.ini"]
        full = self.u("repo")
        result = self.run_tool([typed, "/B:" + self.p("w.bat")])
        batch = BatchVariables(1, [deep.dir_path(full), flat.dir_path(full)], ["a\\b", "c"])
        self.assertRun(result, START + search_all(paths) + search_version("Win2003Server", paths) +
                       report(full, [deep, flat]) + LATEST + found(deep.dir_path(full)) +
                       ["\nWriting Batch File..."] + batch.echo_lines(self.p("w.bat")), 0)
        self.assertBatch(self.u("w.bat"), batch)

    def test_listing_order_folds_letters_to_upper_case(self):
        # The media search is not sorted: the first directory listed wins. Folded to
        # upper case, "amd64" comes before "I386" and letters before "_".
        write_file(self.u("m1", "I386", "PRODSPEC.INI"),
                   ini_text("Product Specification", [("Product", "Windows Server 2003")]))
        write_file(self.u("m1", "amd64", "PRODSPEC.INI"),
                   ini_text("Product Specification", [("Product", "Windows XP x64")]))
        write_file(self.u("m2", "_x86", "idwbinfo.txt"),
                   ini_text("BUILDINFO", [("BuildArch", "x86")]))
        write_file(self.u("m2", "amd64", "idwbinfo.txt"),
                   ini_text("BUILDINFO", [("BuildArch", "amd64")]))
        os.makedirs(self.u("repo"))
        m1 = self.p("m1")
        hits = [join(m1, "amd64", "PRODSPEC.INI"), join(m1, "I386", "PRODSPEC.INI")]
        self.assertRun(self.run_tool([self.p("repo"), "/WP:" + m1]), START +
                       ["Searching for PRODSPEC.INI in " + m1] + ["\t" + h for h in hits] +
                       ["\nDetermining OS Version from file:" + hits[0],
                        "Windows Version=Windows XP x64"] + search_all([]) + NOT_FOUND, 1)
        m2 = self.p("m2")
        hits = [join(m2, "amd64", "idwbinfo.txt"), join(m2, "_x86", "idwbinfo.txt")]
        result = self.run_tool([self.p("repo"), "/WP:" + m2, "/B:" + self.p("o.bat")])
        batch = BatchVariables(6, [], None)
        self.assertRun(result, START + ["Searching for PRODSPEC.INI in " + m2,
                                        "Searching for idwbinfo.txt in " + m2] +
                       ["\t" + h for h in hits] +
                       ["\nDetermining OS Version from file:" + hits[0]] + search_all([]) +
                       ["Writing Batch File"] + batch.echo_lines(self.p("o.bat")) + NOT_FOUND, 1)
        self.assertBatch(self.u("o.bat"), batch)


@native_only()
class LinksAndSpecialFiles(ToolTestCase):

    def test_symbolic_link_loops_end(self):
        a = DriverSet("a", version="Win2003Server", date="01 Jan 2009", time="00:00:00")
        y = DriverSet("x/y", version="Win2003Server", date="02 Jan 2009", time="00:00:00")
        outside = DriverSet("s", version="Win2003Server", date="03 Jan 2009", time="00:00:00")
        repo = self.make_sets("repo", [a, y])
        outside.write(self.u("outside"))
        os.symlink("..", self.u("repo", "x", "back"))
        os.symlink(".", self.u("repo", "x", "self"))
        os.makedirs(self.u("repo", "x", "z"))
        os.symlink(self.u("repo"), self.u("repo", "x", "z", "top"))
        # A link to a directory elsewhere is followed, as a junction is.
        os.symlink(self.u("outside"), self.u("repo", "link"))
        linked = DriverSet("link/s", **{k: getattr(outside, k) for k in
                                        ("version", "date", "time")})
        sets = [a, linked, y]
        paths = [s.ini_path(repo) for s in sets]
        result = self.run_tool([repo, "/B:" + self.p("l.bat")])
        order = [linked, y, a]
        batch = BatchVariables(1, [s.dir_path(repo) for s in order],
                               [s.rel_dir() for s in order])
        self.assertRun(result, START + search_all(paths) + search_version("Win2003Server", paths) +
                       report(repo, sets) + LATEST + found(linked.dir_path(repo)) +
                       ["\nWriting Batch File..."] + batch.echo_lines(self.p("l.bat")), 0)
        self.assertBatch(self.u("l.bat"), batch)

    def test_fifo_and_device_are_read_as_empty(self):
        ok = DriverSet("ok", version="Win2003Server", date="01 Jan 2009", time="00:00:00",
                       build="ok")
        repo = self.make_sets("repo", [ok])
        os.makedirs(self.u("repo", "fifo"))
        os.mkfifo(self.u("repo", "fifo", "DrvSet.ini"))
        os.makedirs(self.u("repo", "dev"))
        os.symlink("/dev/zero", self.u("repo", "dev", "DrvSet.ini"))
        dev, fifo = DriverSet("dev"), DriverSet("fifo")
        sets = [dev, fifo, ok]
        paths = [s.ini_path(repo) for s in sets]
        result = self.run_tool([repo])
        self.assertRun(result, START + search_all(paths) + search_version("Win2003Server", paths) +
                       report(repo, sets) + LATEST + found(ok.dir_path(repo)), 0)
        # A media file that is a FIFO gives no version.
        os.mkfifo(self.u("media.ini"))
        path = self.p("media.ini")
        result = self.run_tool([repo, "/WP:" + path])
        self.assertRun(result, START + ["\nDetermining OS Version from file:" + path,
                                        "\nNo PRODSPEC.INI or idwbinfo.txt file found in " + path],
                       5)


@native_only()
class MountsAndSeparators(ToolTestCase):

    def mount_tmpfs(self, *parts):
        path = self.u(*parts)
        os.makedirs(path)
        if os.geteuid() != 0 or subprocess.run(
                ["mount", "-t", "tmpfs", "-o", "size=1m", "halvard-e2e", path],
                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode != 0:
            self.skipTest("cannot mount a tmpfs here (needs root)")
        self.addCleanup(subprocess.run, ["umount", "-l", path])

    def test_file_systems_mounted_below_the_repository(self):
        # Two mounts of the same kind number their directories alike, and a mount point's
        # entry shows the number of the directory it covers: identities come from the
        # mounted file systems themselves. A mount reached again through a link is searched
        # once.
        self.mount_tmpfs("repo", "m1")
        self.mount_tmpfs("repo", "m2")
        sets = [DriverSet("m1/x/s", version="Win2003Server", date="01 Jan 2009", time="00:00:00"),
                DriverSet("m2/x/s", version="Win2003Server", date="03 Jan 2009", time="00:00:00"),
                DriverSet("m2/y", version="Win2003Server", date="02 Jan 2009", time="00:00:00")]
        repo = self.make_sets("repo", sets)
        os.symlink(self.u("repo", "m2"), self.u("repo", "link"))  # "link" is listed first
        seen = [DriverSet("link/x/s", **{k: getattr(sets[1], k) for k in ("version", "date",
                                                                           "time")}),
                DriverSet("link/y", **{k: getattr(sets[2], k) for k in ("version", "date",
                                                                         "time")}),
                sets[0]]
        paths = [s.ini_path(repo) for s in seen]
        result = self.run_tool([repo, "/B:" + self.p("m.bat")])
        order = [seen[0], seen[1], seen[2]]
        batch = BatchVariables(1, [s.dir_path(repo) for s in order], [s.rel_dir() for s in order])
        self.assertRun(result, START + search_all(paths) + search_version("Win2003Server", paths) +
                       report(repo, seen) + LATEST + found(seen[0].dir_path(repo)) +
                       ["\nWriting Batch File..."] + batch.echo_lines(self.p("m.bat")), 0)
        self.assertBatch(self.u("m.bat"), batch)

    def test_directory_with_a_backslash_in_its_name(self):
        # "a\\b" would read as a/b: left out with a line, and a/b is found once.
        real = DriverSet("a/b", version="Win2003Server", build="real")
        repo = self.make_sets("repo", [real, DriverSet("a\\b", version="Win2003Server"),
                                       DriverSet("c\\d/e", version="Win2003Server")])
        paths = [real.ini_path(repo)]
        skipped = [join(repo, "a\\b"), join(repo, "c\\d")]
        result = self.run_tool([repo])
        self.assertRun(result, START + ["Searching for all Driver Sets..."] +
                       ["Skipping directory with a backslash in its name:" + d for d in skipped] +
                       ["\t" + p for p in paths] + search_version("Win2003Server", paths) +
                       report(repo, [real]) + found(real.dir_path(repo)), 0)


@native_only()
class UnwritableBatchValues(ToolTestCase):

    def test_values_with_quote_or_line_break_are_refused(self):
        # Checked before the file is opened: an existing file stays as it was. A Ctrl-Z
        # may end a line for cmd.exe, as a line break does.
        for i, name in enumerate(('q"r', "line\nbreak", "car\rriage", "ctrl\x1az")):
            with self.subTest(name=name):
                self.tmp_case = self.u("case%d" % i)
                good = DriverSet("good", version="Win2008Server", systems="6123", build="g")
                bad = DriverSet(name, version="Win2008Server", systems="7340", build="b")
                repo_u = os.path.join(self.tmp_case, "repo")
                good.write(repo_u)
                bad.write(repo_u)
                repo = repo_u
                bat = os.path.join(self.tmp_case, "x.bat")
                write_file(bat, "old")
                sets = sorted([good, bad], key=lambda s: s.ini_path(repo))
                paths = [s.ini_path(repo) for s in sets]
                head = (START + search_all(paths) + search_version("Win2008Server", paths))
                # The chosen set is fine; the bad one is only in the list of all sets.
                result = self.run_tool([repo, "/W:5", "/M:6123", "/B:" + bat])
                self.assertRun(result, head + search_type("6123", [good.ini_path(repo)]) +
                               report(repo, [good]) + found(good.dir_path(repo)) +
                               ["\nWriting Batch File...", "Error writing file:  " + bat], 3)
                # The not-found path: no "Driver Set not Found" after the error.
                result = self.run_tool([repo, "/W:5", "/M:9999", "/B:" + bat])
                self.assertRun(result, head + search_type("9999", []) +
                               ["Writing Batch File", "Error writing file:  " + bat], 3)
                with open(bat, "rb") as f:
                    self.assertEqual(f.read(), b"old")

    def test_failed_writes_are_reported(self):
        s = DriverSet("s", version="Win2003Server", build="s")
        repo = self.make_sets("repo", [s])
        paths = [s.ini_path(repo)]
        batch = BatchVariables(1, [s.dir_path(repo)], [s.rel_dir()])
        head = (START + search_all(paths) + search_version("Win2003Server", paths) +
                report(repo, [s]) + found(s.dir_path(repo)) + ["\nWriting Batch File..."])
        self.check_full_device(self.run_tool([repo, "/B:/dev/full"]), head,
                               batch.echo_lines("/dev/full"))
        batch = BatchVariables(5, [], [])
        head = START + search_all(paths) + search_version("Win2008Server", []) + [
            "Writing Batch File"]
        self.check_full_device(self.run_tool([repo, "/W:5", "/B:/dev/full"]), head,
                               batch.echo_lines("/dev/full"))

    def check_full_device(self, result, head, echo):
        # The failure may show at any write or at the close: some of the echo lines may
        # come before the message, in order, and nothing after it.
        lines = result.out.split("\n")
        self.assertEqual(lines[-1], "")
        self.assertEqual(lines[-2], "Error writing file:  /dev/full", result.out)
        expected_head = "".join(line + "\n" for line in head + echo[:1])
        self.assertTrue(result.out.startswith(expected_head), result.out)
        middle = lines[len(expected_head.split("\n")) - 1:-2]
        self.assertEqual(middle, echo[1:1 + len(middle)], result.out)
        self.assertEqual(result.rc, 3)
