"""The batch file: the not-found path, its name and place, and files that cannot be opened."""
import os

from e2e_support import (NOT_FOUND, START, BatchVariables, DriverSet, ToolTestCase,
                         cmd_variables, found, is_windows, report, rel, search_all,
                         search_version, write_file)


class NotFoundBatchFile(ToolTestCase):

    def test_no_descriptor_anywhere(self):
        # Neither /W: nor /WP:: the version filter never ran, yet the family and
        # architecture are the default target's, as with /W:1; no QL_NOS_All_DDL_Paths line.
        os.makedirs(self.u("repo", "a", "b"))
        write_file(self.u("repo", "a", "DrvSet.txt"), "[Main]\r\n")
        batch = BatchVariables(1, [], None)
        self.assertEqual(batch.values()["QL_NOS_Type"], "Win2003")
        for version in ([], ["/W:"]):
            with self.subTest(version=version):
                result = self.run_tool([self.p("repo")] + version + ["/B:" + self.p("none.bat")])
                self.assertRun(result, START + search_all([]) + ["Writing Batch File"] +
                               batch.echo_lines(self.p("none.bat")) + NOT_FOUND, 1)
                self.assertBatch(self.u("none.bat"), batch)

    def test_no_descriptor_with_version_number(self):
        os.makedirs(self.u("repo"))
        result = self.run_tool([self.p("repo"), "/W:6", "/B:" + self.p("none.bat")])
        batch = BatchVariables(6, [], None)
        self.assertRun(result, START + search_all([]) + ["Writing Batch File"] +
                       batch.echo_lines(self.p("none.bat")) + NOT_FOUND, 1)
        self.assertBatch(self.u("none.bat"), batch)

    def test_stopped_at_the_version_filter(self):
        s = DriverSet("x", version="Win2003Server")
        repo = self.make_sets("repo", [s])
        result = self.run_tool([repo, "/W:4", "/B:" + self.p("none.bat")])
        batch = BatchVariables(4, [], [])
        self.assertRun(result, START + search_all([s.ini_path(repo)]) +
                       search_version("Win2003Serverx64", []) + ["Writing Batch File"] +
                       batch.echo_lines(self.p("none.bat")) + NOT_FOUND, 1)
        self.assertBatch(self.u("none.bat"), batch)

    def test_without_batch_option_nothing_is_written(self):
        os.makedirs(self.u("repo"))
        os.makedirs(self.u("cwd"))
        result = self.run_tool([self.p("repo")], cwd=self.u("cwd"))
        self.assertRun(result, START + search_all([]) + NOT_FOUND, 1)
        self.assertEqual(os.listdir(self.u("cwd")), [])


class BatchFileNameAndPlace(ToolTestCase):

    def setUp(self):
        super().setUp()
        self.s = DriverSet("Win2008/x64/Rel", version="Win2008Serverx64", date="01 Jun 2009",
                           time="12:00:00", build="R")
        self.repo = self.make_sets("repo", [self.s])

    def expected(self, root_text, full_root, batch_full):
        batch = BatchVariables(6, [self.s.dir_path(full_root)], [self.s.rel_dir()])
        head = (START + search_all([self.s.ini_path(root_text)]) +
                search_version("Win2008Serverx64", [self.s.ini_path(root_text)]) +
                report(full_root, [self.s]) + found(self.s.dir_path(full_root)) +
                ["\nWriting Batch File..."])
        return head + batch.echo_lines(batch_full), batch, head

    def test_empty_name_writes_drvset_bat_in_the_current_directory(self):
        os.makedirs(self.u("cwd"))
        result = self.run_tool([self.repo, "/W:6", "/B:"], cwd=self.u("cwd"))
        lines, batch, _ = self.expected(self.repo, self.repo, self.p("cwd", "DrvSet.bat"))
        self.assertRun(result, lines, 0)
        self.assertBatch(self.u("cwd", "DrvSet.bat"), batch)

    def test_relative_driver_path_and_batch_name(self):
        # Lists hold the driver path as typed; the report and the batch file show
        # absolute paths. An existing batch file is overwritten.
        os.makedirs(self.u("out"))
        write_file(self.u("out", "set.bat"), "x" * 5000)
        result = self.run_tool(["repo", "/W:6", "/B:" + rel("out", "set.bat")])
        lines, batch, _ = self.expected("repo", self.repo, self.p("out", "set.bat"))
        self.assertRun(result, lines, 0)
        self.assertBatch(self.u("out", "set.bat"), batch)

    def test_percent_in_the_name_is_doubled_on_its_rem_line(self):
        # cmd.exe expands % on rem lines too: "%~" with no valid modifier would end the
        # batch file before its first SET.
        for name in ("set%~x.bat", "100%.bat", "%PATH%.bat"):
            with self.subTest(name=name):
                result = self.run_tool([self.repo, "/W:6", "/B:" + self.p(name)])
                lines, batch, _ = self.expected(self.repo, self.repo, self.p(name))
                self.assertRun(result, lines, 0)
                self.assertBatch(self.u(name), batch)
                with open(self.u(name), "rb") as f:
                    self.assertIn(b"\r\nrem //  " + name.replace("%", "%%").encode() + b"\r\n",
                                  f.read())
                if is_windows():
                    self.assertEqual(cmd_variables(self.u(name), self.tmp), batch.values())

    def test_control_characters_in_the_name_are_refused(self):
        # A line break or a Ctrl-Z would end the rem line for cmd.exe: nothing is written.
        for name in ("set\x1a.bat", "set\n.bat"):
            with self.subTest(name=repr(name)):
                result = self.run_tool([self.repo, "/W:6", "/B:" + self.p(name)])
                _, _, head = self.expected(self.repo, self.repo, self.p(name))
                self.assertRun(result, head + ["Error writing file:  " + self.p(name)], 3)
                self.assertEqual(sorted(os.listdir(self.tmp)), ["repo"])

    def test_batch_file_that_cannot_be_opened(self):
        bad = self.p("no", "such", "dir", "x.bat")
        result = self.run_tool([self.repo, "/W:6", "/B:" + bad])
        _, _, head = self.expected(self.repo, self.repo, bad)
        self.assertRun(result, head + ["Error opening file:  " + bad], 3)
        # On the not-found path: no "Driver Set not Found" after the error.
        result = self.run_tool([self.repo, "/W:5", "/B:" + bad])
        self.assertRun(result, START + search_all([self.s.ini_path(self.repo)]) +
                       search_version("Win2008Server", []) +
                       ["Writing Batch File", "Error opening file:  " + bad], 3)
        self.assertFalse(os.path.exists(self.u("no")))
        # A directory cannot be opened as the batch file either.
        result = self.run_tool([self.repo, "/W:6", "/B:" + self.p("repo")])
        self.assertRun(result, head + ["Error opening file:  " + self.p("repo")], 3)
