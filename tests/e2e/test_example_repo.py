"""The example repository shipped in example-repo/: the choices a deployment script would get."""
import os

from e2e_support import (LATEST, START, BatchVariables, DriverSet, ToolTestCase, found, join,
                         ppath, report, search_all, search_type, search_version)

EXAMPLE = os.path.realpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..",
                                        "example-repo"))

# What the descriptors in example-repo/repo say.
SETS = {s.where.split("/")[-1]: s for s in [
    DriverSet("Kastrel/Win2003/x86/Rel_2008_06", "Win2003Server", "6123,7340", "7.10", "3.2",
              "12 Jun 2008", "10:05:00", "KQ-2008-0612"),
    DriverSet("Kastrel/Win2003/x64/Rel_2008_09", "Win2003Serverx64", "6123,7340,8872", "7.20",
              "3.4", "22 Sep 2008", "16:45:10", "KQ-2008-0922"),
    DriverSet("Kastrel/Win2008/x86/Rel_2008_12", "Win2008Server", "7340", "8.10", "4.0",
              "15 Dec 2008", "17:00:00", "KQ-2008-1215"),
    DriverSet("Kastrel/Win2008/x86/Rel_2009_03", "Win2008Server", "6123,7340", "8.20", "4.1",
              "05 Mar 2009", "14:30:05", "KQ-2009-0305"),
    DriverSet("Kastrel/Win2008/x86/Rel_2009_11", "Win2008Server", "6123,8872", "8.40", "4.3",
              "17 Nov 2009", "09:12:40", "KQ-2009-1117"),
    DriverSet("Kastrel/Win2008/x64/Rel_2009_05", "Win2008Serverx64", "7340,8872", "8.30", "4.2",
              "20 May 2009", "11:00:00", "KQ-2009-0520"),
    DriverSet("Kastrel/Win2008/x64/Rel_2010_02", "Win2008Serverx64", "8872", "8.50", "4.4",
              "08 Feb 2010", "08:15:30", "KQ-2010-0208"),
    DriverSet("Quillon/WinPE21/x86/Rel_2009_08", "WinPE21x86", "6123,7340,8872", None, "4.2",
              "03 Aug 2009", "13:20:00", "QP-2009-0803"),
]}


class ExampleRepository(ToolTestCase):

    def setUp(self):
        super().setUp()
        self.repo = ppath(os.path.join(EXAMPLE, "repo"))
        self.all = search_all(sorted(s.ini_path(self.repo) for s in SETS.values()))

    def paths(self, *names):
        return [SETS[n].ini_path(self.repo) for n in names]

    def test_latest_windows_2008_set_for_machine_6123(self):
        result = self.run_tool([self.repo, "/W:5", "/M:6123", "/B:" + self.p("setdrv.bat")])
        x86 = ["Rel_2008_12", "Rel_2009_03", "Rel_2009_11"]
        chosen, other = SETS["Rel_2009_11"], SETS["Rel_2009_03"]
        batch = BatchVariables(5, [chosen.dir_path(self.repo), other.dir_path(self.repo)],
                               [SETS[n].rel_dir() for n in x86])
        self.assertRun(result, START + self.all +
                       search_version("Win2008Server", self.paths(*x86)) +
                       search_type("6123", self.paths("Rel_2009_03", "Rel_2009_11")) +
                       report(self.repo, [other, chosen]) + LATEST +
                       found(chosen.dir_path(self.repo)) + ["\nWriting Batch File..."] +
                       batch.echo_lines(self.p("setdrv.bat")), 0)
        self.assertBatch(self.u("setdrv.bat"), batch)

    def test_version_from_windows_2003_x64_media(self):
        media = ppath(os.path.join(EXAMPLE, "media", "w23_x64"))
        hit = join(media, "i386", "PRODSPEC.INI")
        chosen = SETS["Rel_2008_09"]
        result = self.run_tool([self.repo, "/WP:" + media, "/M:8872", "/B:"])
        batch = BatchVariables(4, [chosen.dir_path(self.repo)], [chosen.rel_dir()])
        self.assertRun(result, START + ["Searching for PRODSPEC.INI in " + media, "\t" + hit,
                                        "\nDetermining OS Version from file:" + hit,
                                        "Windows Version=Windows Server 2003, Standard x64 "
                                        "Edition"] + self.all +
                       search_version("Win2003Serverx64", self.paths("Rel_2008_09")) +
                       search_type("8872", self.paths("Rel_2008_09")) +
                       report(self.repo, [chosen]) + found(chosen.dir_path(self.repo)) +
                       ["\nWriting Batch File..."] + batch.echo_lines(self.p("DrvSet.bat")), 0)
        self.assertBatch(self.u("DrvSet.bat"), batch)

    def test_version_from_windows_2008_media(self):
        media = ppath(os.path.join(EXAMPLE, "media", "w2008_x86"))
        hit = join(media, "sources", "idwbinfo.txt")
        older, chosen = SETS["Rel_2008_12"], SETS["Rel_2009_03"]
        result = self.run_tool([self.repo, "/WP:" + media, "/M:7340"])
        self.assertRun(result, START + ["Searching for PRODSPEC.INI in " + media,
                                        "Searching for idwbinfo.txt in " + media, "\t" + hit,
                                        "\nDetermining OS Version from file:" + hit] + self.all +
                       search_version("Win2008Server",
                                      self.paths("Rel_2008_12", "Rel_2009_03", "Rel_2009_11")) +
                       search_type("7340", self.paths("Rel_2008_12", "Rel_2009_03")) +
                       report(self.repo, [older, chosen]) + LATEST +
                       found(chosen.dir_path(self.repo)), 0)

    def test_descriptors_keep_windows_line_ends(self):
        for s in SETS.values():
            with open(os.path.join(EXAMPLE, "repo", *s.where.split("/"), "DrvSet.ini"), "rb") as f:
                self.assertEqual(f.read(), s.ini_bytes(), s.where)
