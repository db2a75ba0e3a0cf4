"""Command line: usage screen, syntax errors, /W: values and the path checks."""
import os

from e2e_support import (NOT_FOUND, START, DriverSet, ToolTestCase, found, ini_text,
                         is_windows, ppath, report, search_all, search_version, syntax_error,
                         usage_lines, write_file)


class UsageAndSyntaxErrors(ToolTestCase):

    def setUp(self):
        super().setUp()
        self.repo = self.make_sets("repo", [DriverSet("a", version="Win2008Server")])
        self.usage = START + usage_lines()

    def test_no_arguments_asks_for_the_driver_path(self):
        result = self.run_tool([])
        self.assertRun(result, self.usage + syntax_error(
            "The 'driverpath' parameter is required."), 2)

    def test_help_switch_shows_the_usage_screen_only(self):
        for args in (["/?"], [self.repo, "/?", "/W:5"], ["/?", "/B:"]):
            with self.subTest(args=args):
                self.assertRun(self.run_tool(args), self.usage, 2)

    def test_arguments_that_match_no_option(self):
        # The parse stops there: a later /? is not seen.
        result = self.run_tool([self.repo, "extra", "/?"])
        self.assertRun(result, self.usage + syntax_error("The 'extra' parameter is invalid."), 2)
        # An undeclared option takes the place of the driver path.
        result = self.run_tool(["/X:foo", self.repo])
        self.assertRun(result, self.usage + syntax_error(
            "The '" + self.repo + "' parameter is invalid."), 2)

    def test_invalid_windows_version_numbers(self):
        # One character that is not a digit 0 to 8: usage screen, no syntax-error block,
        # and this is checked before the driver path is looked at.
        for args in ([self.repo, "/W:9"], [self.repo, "/W:a"], [self.repo, "/W:-"],
                     [self.p("missing"), "/W:9"]):
            with self.subTest(args=args):
                self.assertRun(self.run_tool(args), self.usage, 2)

    def test_version_number_and_media_path_exclude_each_other(self):
        result = self.run_tool([self.repo, "/W:5", "/WP:" + self.repo])
        self.assertRun(result, self.usage + syntax_error(
            "The '/W:' parameter cannot be used with the '/WP:' parameter."), 2)

    def test_media_path_must_not_be_empty(self):
        result = self.run_tool([self.repo, "/WP:"])
        self.assertRun(result, self.usage + syntax_error(
            "The value of the '/WP:' parameter must not be empty."), 2)

    def test_driver_path_after_a_multi_word_option_becomes_its_value(self):
        result = self.run_tool(["/M:6123", self.repo])
        self.assertRun(result, self.usage + syntax_error(
            "The 'driverpath' parameter is required."), 2)

    def test_missing_driver_path(self):
        missing = self.p("no", "such")
        self.assertRun(self.run_tool([missing, "/B:"]),
                       self.usage + ["\nDirectory " + missing + " Not Found:"], 4)
        # The driver path is tested before the media path.
        self.assertRun(self.run_tool([missing, "/WP:" + self.p("nomedia")]),
                       self.usage + ["\nDirectory " + missing + " Not Found:"], 4)
        # An undeclared option alone is taken as the driver path.
        self.assertRun(self.run_tool(["/X:foo"]),
                       self.usage + ["\nDirectory /X:foo Not Found:"], 4)
        self.assertNoFiles(self.tmp, ["DrvSet.bat"])

    def test_missing_media_path(self):
        missing = self.p("nomedia", "i386")
        result = self.run_tool([self.repo, "/WP:" + missing])
        self.assertRun(result, self.usage + ["\nFile " + missing + " Not Found:"], 5)

    def test_driver_path_that_is_no_directory_is_not_found(self):
        write_file(self.u("afile"), "x")
        cases = [self.p("afile"), "afile"]
        if not is_windows():
            cases.append("/dev/null")
        for path in cases:
            with self.subTest(path=path):
                self.assertRun(self.run_tool([path, "/W:5", "/B:"]),
                               self.usage + ["\nDirectory " + path + " Not Found:"], 4)
                self.assertNoFiles(self.tmp, ["DrvSet.bat"])

    def test_media_file_that_is_no_media_file_is_searched_quietly(self):
        # Neither .ini nor .txt: searched as a directory, which it is not, so it holds
        # nothing; no "cannot be read" line, as it is no directory that cannot be read.
        write_file(self.u("media.iso"), "x")
        full = self.p("media.iso")
        result = self.run_tool([self.repo, "/WP:media.iso", "/B:"])
        self.assertRun(result, START + ["Searching for PRODSPEC.INI in " + full,
                                        "Searching for idwbinfo.txt in " + full,
                                        "\nNo PRODSPEC.INI or idwbinfo.txt file found in " +
                                        full], 5)
        self.assertNoFiles(self.tmp, ["DrvSet.bat"])

    def test_paths_a_comma_list_cannot_carry_are_refused(self):
        # Found paths travel in comma lists that begin with the path as typed.
        s = DriverSet("a", version="Win2008Server")
        media = self.u("media", "w2008,x64")
        write_file(os.path.join(media, "idwbinfo.txt"),
                   ini_text("BUILDINFO", [("BuildArch", "amd64")]))
        cases = [
            ([self.make_sets("kit,v2", [s]), "/W:5"], 4,
             "Driver path with a comma in its name cannot be searched:" + self.p("kit,v2")),
            ([self.make_sets(" sp", [s]) and " sp", "/W:5"], 4,
             "Driver path that starts with white space cannot be searched: sp"),
            ([self.repo, "/WP:" + ppath(media)], 5,
             "Media path with a comma in its name cannot be searched:" + ppath(media)),
            ([self.repo, "/WP: sp"], 5,
             "Media path that starts with white space cannot be searched: sp"),
        ]
        for args, rc, line in cases:
            with self.subTest(args=args):
                self.assertRun(self.run_tool(args + ["/B:"]), START + [line], rc)
                self.assertNoFiles(self.tmp, ["DrvSet.bat"])


class WindowsVersionOption(ToolTestCase):
    """/W: takes a number or a catalogue name; anything else of two or more characters
    falls back to Win2003Server."""

    def setUp(self):
        super().setUp()
        self.s2003 = DriverSet("w2003", version="Win2003Server", date="01 Feb 2008",
                               time="10:00:00", build="B1")
        self.s2008 = DriverSet("w2008", version="Win2008Server", kastrel="8.20",
                               date="05 Mar 2009", time="14:30:05", build="B5")
        self.repo = self.make_sets("repo", [self.s2003, self.s2008])
        self.all = search_all([self.s2003.ini_path(self.repo), self.s2008.ini_path(self.repo)])

    def expect_one(self, name, s):
        return (START + self.all + search_version(name, [s.ini_path(self.repo)]) +
                report(self.repo, [s]) + found(s.dir_path(self.repo)))

    def test_option_and_version_name_ignore_case(self):
        result = self.run_tool([self.repo, "/w:wIN2008sERVER"])
        self.assertRun(result, self.expect_one("Win2008Server", self.s2008), 0)

    def test_number_selects_the_catalogue_row(self):
        self.assertRun(self.run_tool([self.repo, "/W:5"]),
                       self.expect_one("Win2008Server", self.s2008), 0)

    def test_unknown_texts_and_empty_value_select_the_default(self):
        # "10" and " 5" (the number as a separate argument) are two characters long and
        # no catalogue name; an empty value keeps the default.
        for args in ([self.repo, "/W:10"], [self.repo, "/W:", "5"], [self.repo, "/W:"],
                     [self.repo]):
            with self.subTest(args=args):
                self.assertRun(self.run_tool(args),
                               self.expect_one("Win2003Server", self.s2003), 0)

    def test_version_without_sets_ends_with_not_found(self):
        result = self.run_tool([self.repo, "/W:7"])
        self.assertRun(result, START + self.all + search_version("WinPE21x86", []) +
                       NOT_FOUND, 1)
        self.assertNoFiles(self.tmp, ["DrvSet.bat"])
