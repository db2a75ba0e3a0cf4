"""/WP:: the target Windows version read from PRODSPEC.INI or idwbinfo.txt."""
import os

from e2e_support import (NOT_FOUND, START, BatchVariables, DriverSet, ToolTestCase, found,
                         ini_text, is_windows, join, rel, report, search_all, search_version,
                         version_name, write_file)

PRODSPEC_SECTION = "Product Specification"


def prodspec(product, key="Product"):
    return ini_text(PRODSPEC_SECTION, [("Version", "5.2"), (key, product),
                                       ("Localization", "English")])


def idwbinfo(arch):
    return ini_text("BUILDINFO", [("BuildBranch", "lh_rtm"), ("BuildArch", arch),
                                  ("BuildType", "fre")])


def searching(name, media_full, hits=()):
    return ["Searching for " + name + " in " + media_full] + ["\t" + h for h in hits]


def determining(file_text, product=None):
    lines = ["\nDetermining OS Version from file:" + file_text]
    if product is not None:
        lines.append("Windows Version=" + product)
    return lines


def no_product_file(media_full):
    return ["\nNo PRODSPEC.INI or idwbinfo.txt file found in " + media_full]


class MediaDetection(ToolTestCase):

    def setUp(self):
        super().setUp()
        # One set for each of the versions media can select.
        self.sets = {n: DriverSet("v%d" % n, version=version_name(n), date="01 Jan 2009",
                                  time="00:00:00", build="b%d" % n) for n in range(7)}
        self.repo = self.make_sets("repo", self.sets.values())
        self.all = search_all(sorted(s.ini_path(self.repo) for s in self.sets.values()))

    def selected(self, number):
        """The output after the detection when the version of `number` was selected."""
        if number not in self.sets:
            return self.all + search_version(version_name(number), []) + NOT_FOUND
        s = self.sets[number]
        return (self.all + search_version(version_name(number), [s.ini_path(self.repo)]) +
                report(self.repo, [s]) + found(s.dir_path(self.repo)))

    def test_prodspec_below_i386(self):
        product = "Windows Server 2003, Standard x64 Edition"
        write_file(self.u("media", "i386", "PRODSPEC.INI"), prodspec(product))
        os.makedirs(self.u("media", "amd64", "empty"))
        os.makedirs(self.u("media", "docs"))
        media = self.p("media")
        hit = join(media, "i386", "PRODSPEC.INI")
        result = self.run_tool([self.repo, "/WP:" + media, "/B:" + self.p("m.bat")])
        batch = BatchVariables(4, [self.sets[4].dir_path(self.repo)], ["v4"])
        self.assertRun(result, START + searching("PRODSPEC.INI", media, [hit]) +
                       determining(hit, product) + self.selected(4) +
                       ["\nWriting Batch File..."] + batch.echo_lines(self.p("m.bat")), 0)
        self.assertBatch(self.u("m.bat"), batch)

    def test_idwbinfo_below_sources_with_relative_media_path(self):
        write_file(self.u("media", "w2008", "sources", "idwbinfo.txt"), idwbinfo("amd64"))
        write_file(self.u("media", "w2008", "boot", "bcd.txt"), "x")
        media = rel("media", "w2008")
        hit = join(media, "sources", "idwbinfo.txt")
        result = self.run_tool([self.repo, "/WP:" + media])
        full = self.p("media", "w2008")
        self.assertRun(result, START + searching("PRODSPEC.INI", full) +
                       searching("idwbinfo.txt", full, [hit]) + determining(hit) +
                       self.selected(6), 0)

    def test_product_decision_table(self):
        cases = [
            ("Microsoft Windows 2000 Server", 0, "PRODSPEC.INI", "Product"),
            ("Microsoft Windows 2000 Professional", 2, "prodspec.ini", "Product"),
            ("Microsoft Windows XP Professional", 3, "ProdSpec.Ini", "product"),
            ("Windows Server 2003, Enterprise x64 Edition", 4, "PRODSPEC.INI", "PRODUCT"),
            ("Windows Server 2003 for Itanium (IA64)", 10, "PRODSPEC.INI", "Product"),
            ("Windows Server 2003, Standard Edition", 1, "PRODSPEC.INI", "Product"),
        ]
        for i, (product, number, name, key) in enumerate(cases):
            with self.subTest(product=product):
                write_file(self.u("p%d" % i, name), prodspec(product, key))
                path = self.p("p%d" % i, name)
                result = self.run_tool([self.repo, "/WP:" + path])
                self.assertRun(result, START + determining(path, product) +
                               self.selected(number), 1 if number == 10 else 0)

    def test_build_architecture_decision_table(self):
        # The test is case-sensitive: AMD64 is neither x86 nor amd64, and the version
        # stays the default.
        for i, (arch, number) in enumerate([("x86", 5), ("amd64", 6), ("AMD64", 1)]):
            with self.subTest(arch=arch):
                write_file(self.u("a%d" % i, "idwbinfo.txt"), idwbinfo(arch))
                path = self.p("a%d" % i, "idwbinfo.txt")
                result = self.run_tool([self.repo, "/WP:" + path])
                self.assertRun(result, START + determining(path) + self.selected(number), 0)

    def test_itanium_media_selects_no_set(self):
        product = "Windows Server 2003, Enterprise Edition for 64-Bit Itanium-based (IA64)"
        write_file(self.u("ia64", "PRODSPEC.INI"), prodspec(product))
        path = self.p("ia64", "PRODSPEC.INI")
        result = self.run_tool([self.repo, "/WP:" + path, "/B:" + self.p("ia.bat")])
        batch = BatchVariables(10, [], [])
        self.assertRun(result, START + determining(path, product) + self.all +
                       search_version("Win2003Server", []) + ["Writing Batch File"] +
                       batch.echo_lines(self.p("ia.bat")) + NOT_FOUND, 1)
        self.assertBatch(self.u("ia.bat"), batch)

    def test_media_without_product_file(self):
        write_file(self.u("media", "sources", "install.txt"), "[BUILDINFO]\r\nBuildArch=x86\r\n")
        write_file(self.u("media", "i386", "txtsetup.sif"), "[Product Specification]\r\n")
        media = self.p("media")
        result = self.run_tool([self.repo, "/WP:" + media, "/B:" + self.p("no.bat")])
        self.assertRun(result, START + searching("PRODSPEC.INI", media) +
                       searching("idwbinfo.txt", media) + no_product_file(media), 5)
        self.assertFalse(os.path.exists(self.u("no.bat")))

    def test_product_files_without_a_value(self):
        # An empty value: the message names the media path given, not the file found.
        write_file(self.u("media", "i386", "PRODSPEC.INI"),
                   ini_text(PRODSPEC_SECTION, [("Product", "")]))
        media = self.p("media")
        hit = join(media, "i386", "PRODSPEC.INI")
        self.assertRun(self.run_tool([self.repo, "/WP:" + media]),
                       START + searching("PRODSPEC.INI", media, [hit]) + determining(hit) +
                       no_product_file(media), 5)
        # The key in another section.
        write_file(self.u("other", "idwbinfo.txt"), ini_text("BUILD", [("BuildArch", "x86")]))
        path = self.p("other", "idwbinfo.txt")
        self.assertRun(self.run_tool([self.repo, "/WP:" + path]),
                       START + determining(path) + no_product_file(path), 5)
        # A directory whose name has the extension of a product file is read as one.
        os.makedirs(self.u("cd.ini", "i386"))
        path = self.p("cd.ini")
        self.assertRun(self.run_tool([self.repo, "/WP:" + path]),
                       START + determining(path) + no_product_file(path), 5)

    def test_first_product_file_in_listing_order_wins(self):
        # A tree that holds a PRODSPEC.INI is never searched for idwbinfo.txt.
        first = "Windows Server 2003, Standard x64 Edition"
        write_file(self.u("media", "amd64", "PRODSPEC.INI"), prodspec(first))
        write_file(self.u("media", "i386", "PRODSPEC.INI"), prodspec("Windows Server 2003"))
        write_file(self.u("media", "sources", "idwbinfo.txt"), idwbinfo("x86"))
        media = self.p("media")
        hits = [join(media, d, "PRODSPEC.INI") for d in ("amd64", "i386")]
        result = self.run_tool([self.repo, "/WP:" + media])
        self.assertRun(result, START + searching("PRODSPEC.INI", media, hits) +
                       determining(hits[0], first) + self.selected(4), 0)

    def test_product_file_name_in_another_case(self):
        # Found whatever its case; on POSIX the path carries the name as on disk, on
        # Windows the name searched for.
        product = "Microsoft Windows XP Professional"
        write_file(self.u("media", "i386", "prodspec.ini"), prodspec(product))
        media = self.p("media")
        hit = join(media, "i386", "PRODSPEC.INI" if is_windows() else "prodspec.ini")
        result = self.run_tool([self.repo, "/WP:" + media])
        self.assertRun(result, START + searching("PRODSPEC.INI", media, [hit]) +
                       determining(hit, product) + self.selected(3), 0)
