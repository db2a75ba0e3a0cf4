"""Successful runs: search, filters, report, latest choice and the batch file."""
import os

from e2e_support import (LATEST, NOT_FOUND, START, BatchVariables, DriverSet, ToolTestCase,
                         found, report, search_all, search_type, search_version, write_file)


class TypicalRun(ToolTestCase):

    def setUp(self):
        super().setUp()
        self.a = DriverSet("Kastrel/Win2008/x86/Rel_A", version="Win2008Server",
                           systems="6123,7340", kastrel="8.20", quillon="4.1",
                           date="05 Mar 2009", time="14:30:05", build="KQ-2009-0305")
        self.b = DriverSet("Kastrel/Win2008/x86/Rel_B", version="Win2008Server",
                           systems="7340,8872", date="17 Nov 2009", time="09:12:40",
                           build="KQ-2009-1117")
        # 6123 inside a five-digit number still passes the machine-type filter.
        self.c = DriverSet("Kastrel/Win2008/x86/Rel_C", version="Win2008Server",
                           systems="61234", quillon="4.2", date="01 Dec 2009",
                           time="08:00:00", build="KQ-2009-1201")
        self.w2003 = DriverSet("Kastrel/Win2003", version="Win2003Server", systems="6123")
        self.x64 = DriverSet("Quillon/Win2008x64", version="Win2008Serverx64", systems="6123")
        # Below a set directory nothing more is searched.
        self.nested = DriverSet("Kastrel/Win2008/x86/Rel_A/Network", version="Win2008Server",
                                systems="6123", date="01 Jan 2011", time="00:00:00")
        self.repo = self.make_sets("repo", [self.a, self.b, self.c, self.w2003, self.x64,
                                            self.nested])
        os.makedirs(self.u("repo", "Empty", "Deep", "Deeper"))
        self.all_sets = search_all(sorted(s.ini_path(self.repo) for s in
                                          (self.a, self.b, self.c, self.w2003, self.x64)))
        self.w2008 = [self.a, self.b, self.c]

    def paths(self, sets):
        return [s.ini_path(self.repo) for s in sets]

    def test_typical_run_with_machine_type_and_batch_file(self):
        result = self.run_tool([self.repo, "/W:5", "/M:6123", "/B:" + self.p("setdrv.bat")])
        batch = BatchVariables(5, [self.c.dir_path(self.repo), self.a.dir_path(self.repo)],
                               [s.rel_dir() for s in self.w2008])
        self.assertRun(result, START + self.all_sets +
                       search_version("Win2008Server", self.paths(self.w2008)) +
                       search_type("6123", self.paths([self.a, self.c])) +
                       report(self.repo, [self.a, self.c]) + LATEST +
                       found(self.c.dir_path(self.repo)) +
                       ["\nWriting Batch File..."] + batch.echo_lines(self.p("setdrv.bat")), 0)
        self.assertBatch(self.u("setdrv.bat"), batch)

    def test_without_batch_option_no_file_is_written(self):
        result = self.run_tool([self.repo, "/W:6"])
        self.assertRun(result, START + self.all_sets +
                       search_version("Win2008Serverx64", self.paths([self.x64])) +
                       report(self.repo, [self.x64]) + found(self.x64.dir_path(self.repo)), 0)
        self.assertNoFiles(self.tmp, ["DrvSet.bat", "setdrv.bat"])

    def test_every_machine_type_must_match_and_the_last_one_decides(self):
        result = self.run_tool([self.repo, "/W:5", "/M:6123,7340"])
        self.assertRun(result, START + self.all_sets +
                       search_version("Win2008Server", self.paths(self.w2008)) +
                       search_type("6123", self.paths([self.a, self.c])) +
                       search_type("7340", self.paths([self.a, self.b])) +
                       report(self.repo, [self.a, self.b]) + LATEST +
                       found(self.b.dir_path(self.repo)), 0)

    def test_one_machine_type_without_sets_ends_with_not_found(self):
        result = self.run_tool([self.repo, "/W:5", "/M:7340,9999", "/B:" + self.p("n.bat")])
        batch = BatchVariables(5, [], [s.rel_dir() for s in self.w2008])
        self.assertRun(result, START + self.all_sets +
                       search_version("Win2008Server", self.paths(self.w2008)) +
                       search_type("7340", self.paths([self.a, self.b])) +
                       search_type("9999", []) +
                       ["Writing Batch File"] + batch.echo_lines(self.p("n.bat")) + NOT_FOUND, 1)
        self.assertBatch(self.u("n.bat"), batch)


class LatestChoice(ToolTestCase):

    def test_selection_sort_order_and_tie_behaviour(self):
        # Timestamps in list order: none (-1), t1, t2, t2. The earliest of equal
        # timestamps wins; the selection sort leaves the order s2, s3, s1, s0.
        s0 = DriverSet("s0", version="Win2003Server", build="no date")
        s1 = DriverSet("s1", version="Win2003Server", kastrel="7.1", date="31 Dec 2009",
                       time="23:59:59", build="t1")
        s2 = DriverSet("s2", version="Win2003Server", quillon="3.3", date="01 Jan 2010",
                       time="00:00:00", build="t2")
        s3 = DriverSet("s3", version="Win2003Server", date="1 January 2010", time="00:00",
                       build="t2 too")
        other = DriverSet("s4", version="Win2008Server", date="01 Jan 2020", time="00:00:00")
        sets = [s0, s1, s2, s3]
        repo = self.make_sets("repo", sets + [other])
        result = self.run_tool([repo, "/B:" + self.p("latest.bat")])
        order = [s2, s3, s1, s0]
        batch = BatchVariables(1, [s.dir_path(repo) for s in order],
                               [s.rel_dir() for s in order])
        self.assertRun(result, START +
                       search_all([s.ini_path(repo) for s in sets + [other]]) +
                       search_version("Win2003Server", [s.ini_path(repo) for s in sets]) +
                       report(repo, sets) + LATEST + found(s2.dir_path(repo)) +
                       ["\nWriting Batch File..."] + batch.echo_lines(self.p("latest.bat")), 0)
        self.assertBatch(self.u("latest.bat"), batch)

    def test_three_sets_timestamps_one_two_two(self):
        sets = [DriverSet("s%d" % i, version="WinPE21x64", date=d, time="12:00:00",
                          build=str(i))
                for i, d in enumerate(["10 Apr 2009", "11 Apr 2009", "11 Apr 2009"], 1)]
        repo = self.make_sets("repo", sets)
        paths = [s.ini_path(repo) for s in sets]
        result = self.run_tool([repo, "/W:8", "/M:", "/B:" + self.p("o.bat")])
        order = [sets[1], sets[2], sets[0]]
        batch = BatchVariables(8, [s.dir_path(repo) for s in order],
                               [s.rel_dir() for s in order])
        self.assertRun(result, START + search_all(paths) + search_version("WinPE21x64", paths) +
                       report(repo, sets) + LATEST + found(sets[1].dir_path(repo)) +
                       ["\nWriting Batch File..."] + batch.echo_lines(self.p("o.bat")), 0)
        self.assertBatch(self.u("o.bat"), batch)


    def test_month_names_and_dates_out_of_range(self):
        # "mar" is no month name (case matters) and counts as January; dates before 1970
        # or after the year 3000 cannot be converted and sort behind every valid date.
        mar = DriverSet("a", version="Win2003Server", date="15 mar 2009", time="12:00:00")
        feb = DriverSet("b", version="Win2003Server", date="01 Feb 2009", time="12:00:00")
        late = DriverSet("c", version="Win2003Server", date="01 Jan 3001", time="12:00:00")
        early = DriverSet("d", version="Win2003Server", date="01 Jun 1969", time="12:00:00")
        sets = [mar, feb, late, early]
        repo = self.make_sets("repo", sets)
        paths = [s.ini_path(repo) for s in sets]
        result = self.run_tool([repo, "/B:" + self.p("d.bat")])
        order = [feb, mar, late, early]
        batch = BatchVariables(1, [s.dir_path(repo) for s in order],
                               [s.rel_dir() for s in order])
        self.assertRun(result, START + search_all(paths) + search_version("Win2003Server", paths) +
                       report(repo, sets) + LATEST + found(feb.dir_path(repo)) +
                       ["\nWriting Batch File..."] + batch.echo_lines(self.p("d.bat")), 0)
        self.assertBatch(self.u("d.bat"), batch)


class DescriptorReading(ToolTestCase):

    def test_windows_version_matching_rules(self):
        # Section and key names ignore case and blanks; a missing or unknown version
        # counts as Win2003Server.
        lower = DriverSet("lower")
        lower_text = b"[ main ]\r\n  windows version  =  win2008server  \r\nBuildID = L\r\n"
        missing = DriverSet("missing", build="M")
        unknown = DriverSet("unknown", version="Windows2003", build="U")
        exact = DriverSet("w2003", version="Win2003Server", build="W")
        x64 = DriverSet("x64", version="Win2008Serverx64")
        repo = self.make_sets("repo", [missing, unknown, exact, x64])
        write_file(self.u("repo", "lower", "DrvSet.ini"), lower_text)
        all_paths = sorted(s.ini_path(repo) for s in (lower, missing, unknown, exact, x64))

        default = [missing, unknown, exact]
        result = self.run_tool([repo])
        self.assertRun(result, START + search_all(all_paths) +
                       search_version("Win2003Server", [s.ini_path(repo) for s in default]) +
                       report(repo, default) + LATEST + found(missing.dir_path(repo)), 0)

        lower.version, lower.build = "win2008server", "L"
        result = self.run_tool([repo, "/W:5"])
        self.assertRun(result, START + search_all(all_paths) +
                       search_version("Win2008Server", [lower.ini_path(repo)]) +
                       report(repo, [lower]) + found(lower.dir_path(repo)), 0)

    def test_text_mode_line_ends_and_end_of_file_mark(self):
        # LF-only line ends read as CR LF do; a Ctrl-Z ends the file.
        lf = DriverSet("lf", version="Win2008Server", quillon="4.1", build="lf")
        cz = DriverSet("cz", version="Win2008Server", kastrel="8.2")
        repo = self.make_sets("repo", [])
        write_file(self.u("repo", "lf", "DrvSet.ini"), lf.ini_bytes().replace(b"\r\n", b"\n"))
        write_file(self.u("repo", "cz", "DrvSet.ini"),
                   cz.ini_bytes() + b"\x1a\r\nBuildID=hidden\r\n")
        paths = [cz.ini_path(repo), lf.ini_path(repo)]
        result = self.run_tool([repo, "/W:5"])
        self.assertRun(result, START + search_all(paths) + search_version("Win2008Server", paths) +
                       report(repo, [cz, lf]) + LATEST + found(cz.dir_path(repo)), 0)

    def test_set_at_the_driver_path_hides_everything_below(self):
        top = DriverSet("", version="Win2003Server", systems="6123", build="top")
        below = DriverSet("sub", version="Win2003Server", systems="6123")
        repo = self.make_sets("repo", [top, below])
        result = self.run_tool([repo, "/M:6123", "/B:" + self.p("top.bat")])
        batch = BatchVariables(1, [top.dir_path(repo)], [""])
        paths = [top.ini_path(repo)]
        self.assertRun(result, START + search_all(paths) +
                       search_version("Win2003Server", paths) + search_type("6123", paths) +
                       report(repo, [top]) + found(top.dir_path(repo)) +
                       ["\nWriting Batch File..."] + batch.echo_lines(self.p("top.bat")), 0)
        self.assertBatch(self.u("top.bat"), batch)
