#!/usr/bin/env python3
"""Checks the release packages and the installed program of one build.

    python3 tests/packaging/check_packages.py --build-dir DIR --platform native|windows
                                              [--arch win64|win32] [-v]

Makes the packages with cpack into a temporary directory, checks that each holds exactly
what it should, under the name and the version project() declares, then runs
the program from each package and from a `cmake --install` tree: its banner, and a search
on the example repository that travels with it. Windows programs must be static console
programs that import Windows' own DLLs only; they run under Wine (WINEPREFIX from the
environment) unless HALVARD_SKIP_WINE_RUN=1, for machines without 32-bit Wine.
"""
import argparse
import hashlib
import os
import platform
import re
import shutil
import struct
import subprocess
import sys
import tarfile
import tempfile
import unittest
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.dirname(os.path.dirname(HERE))

# DLLs that every Windows and WinPE has; anything else would have to ship beside the program.
SYSTEM_DLLS = {"kernel32.dll", "msvcrt.dll", "advapi32.dll", "user32.dll", "shell32.dll",
               "ntdll.dll", "ws2_32.dll", "ucrtbase.dll", "bcrypt.dll"}


class Config:
    build = None
    platform = "native"
    arch = None
    cache = {}


CONFIG = Config()


def is_windows():
    return CONFIG.platform == "windows"


def run(command, **kwargs):
    proc = subprocess.run(command, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                          stderr=subprocess.STDOUT, timeout=300, **kwargs)
    return proc.returncode, proc.stdout.decode("utf-8", "replace").replace("\r\n", "\n")


def read_cache(build):
    cache = {}
    with open(os.path.join(build, "CMakeCache.txt"), encoding="utf-8") as f:
        for line in f:
            match = re.match(r"([A-Za-z0-9_]+):[A-Z]+=(.*)$", line.rstrip("\n"))
            if match:
                cache[match.group(1)] = match.group(2)
    return cache


def tool_version():
    """The version that project() declares in CMakeLists.txt, the one place it is kept."""
    with open(os.path.join(SOURCE, "CMakeLists.txt"), encoding="utf-8") as f:
        match = re.search(r"^project\(halvard\s+VERSION\s+([0-9][0-9.]*)\s", f.read(), re.M)
    if not match:
        raise AssertionError("CMakeLists.txt declares no project(halvard VERSION ...)")
    return match.group(1)


def example_files():
    """Every file of the example repository, relative to example-repo/."""
    root = os.path.join(SOURCE, "example-repo")
    found = set()
    for directory, _, names in os.walk(root):
        for name in names:
            found.add(os.path.relpath(os.path.join(directory, name), root).replace(os.sep, "/"))
    return found


def expected_files():
    """What an installation holds, relative to its root."""
    if is_windows():
        files = {"halvard.exe", "README.md", "deploy-scripts/deploy.cmd"}
        return files | {"example-repo/" + name for name in example_files()}
    files = {"bin/halvard", "share/man/man1/halvard.1", "share/doc/halvard/README.md",
             "share/doc/halvard/deploy-scripts/deploy.sh"}
    return files | {"share/doc/halvard/example-repo/" + name for name in example_files()}


def files_below(root):
    found = set()
    for directory, _, names in os.walk(root):
        for name in names:
            found.add(os.path.relpath(os.path.join(directory, name), root).replace(os.sep, "/"))
    return found


def debian_arch():
    return subprocess.run(["dpkg", "--print-architecture"], stdout=subprocess.PIPE,
                          check=True).stdout.decode().strip()


def wine_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def elf_interpreter_present(path):
    """True when the ELF program asks for a dynamic loader (PT_INTERP)."""
    with open(path, "rb") as f:
        header = f.read(64)
        if header[:4] != b"\x7fELF" or header[4] != 2:
            raise AssertionError(path + " is no 64-bit ELF program")
        phoff, = struct.unpack_from("<Q", header, 0x20)
        phentsize, phnum = struct.unpack_from("<HH", header, 0x36)
        for index in range(phnum):
            f.seek(phoff + index * phentsize)
            p_type, = struct.unpack("<I", f.read(4))
            if p_type == 3:
                return True
    return False


class PackageTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.version = tool_version()
        cls.tmp = tempfile.mkdtemp(prefix="halvard-packages-")
        cls.out = os.path.join(cls.tmp, "packages")
        code, cls.cpack_log = run([CONFIG.cache["CMAKE_CPACK_COMMAND"], "--config",
                                   os.path.join(CONFIG.build, "CPackConfig.cmake"),
                                   "-B", cls.out])
        cls.cpack_code = code
        if is_windows():
            cls.stem = "halvard-%s-%s" % (cls.version, CONFIG.arch)
            cls.packages = [cls.stem + ".zip"]
        else:
            cls.stem = "halvard-%s-linux-%s" % (cls.version, platform.machine().lower())
            cls.packages = [cls.stem + ".tar.gz",
                            "halvard_%s_%s.deb" % (cls.version, debian_arch())]

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.tmp, ignore_errors=True)

    def setUp(self):
        self.assertEqual(0, self.cpack_code, self.cpack_log)

    # -- what the packages hold --------------------------------------------------------

    def test_package_names_and_checksums(self):
        made = sorted(name for name in os.listdir(self.out) if os.path.isfile(
            os.path.join(self.out, name)))
        self.assertEqual(sorted(self.packages + [p + ".sha256" for p in self.packages]), made)
        for package in self.packages:
            with open(os.path.join(self.out, package), "rb") as f:
                digest = hashlib.sha256(f.read()).hexdigest()
            with open(os.path.join(self.out, package + ".sha256")) as f:
                self.assertEqual(digest, f.read().split()[0], package)

    def test_archive_holds_exactly_the_release_files(self):
        archive = os.path.join(self.out, self.packages[0])
        top = self.stem + "/"
        if is_windows():
            with zipfile.ZipFile(archive) as z:
                names = {n for n in z.namelist() if not n.endswith("/")}
                script = z.read(top + "deploy-scripts/deploy.cmd")
            self.assertNotIn(b"\n", script.replace(b"\r\n", b""),
                             "deploy.cmd must have CR LF line ends for cmd.exe")
        else:
            with tarfile.open(archive) as t:
                members = [m for m in t.getmembers() if m.isfile()]
                names = {m.name for m in members}
                modes = {m.name: m.mode for m in members}
            for program in ("bin/halvard", "share/doc/halvard/deploy-scripts/deploy.sh"):
                self.assertTrue(modes[top + program] & 0o111, program + " is not executable")
        self.assertEqual({top + name for name in expected_files()}, names)

    def test_debian_package(self):
        if is_windows():
            self.skipTest("Linux package")
        deb = os.path.join(self.out, self.packages[1])
        code, fields = run(["dpkg-deb", "-f", deb, "Package", "Version", "Architecture"])
        self.assertEqual(0, code, fields)
        self.assertEqual("Package: halvard\nVersion: %s\nArchitecture: %s\n"
                         % (self.version, debian_arch()), fields)
        root = os.path.join(self.tmp, "deb")
        code, log = run(["dpkg-deb", "-x", deb, root])
        self.assertEqual(0, code, log)
        self.assertEqual({"usr/" + name for name in expected_files()}, files_below(root))
        self.check_program(os.path.join(root, "usr", "bin", "halvard"),
                           os.path.join(root, "usr", "share", "doc", "halvard", "example-repo"))

    # -- the program in the packages and installed --------------------------------------

    def test_packaged_program_runs(self):
        root = os.path.join(self.tmp, "unpacked")
        archive = os.path.join(self.out, self.packages[0])
        if is_windows():
            with zipfile.ZipFile(archive) as z:
                z.extractall(root)
            top = os.path.join(root, self.stem)
            self.check_windows_program(os.path.join(top, "halvard.exe"))
            self.check_program(os.path.join(top, "halvard.exe"), os.path.join(top, "example-repo"))
            self.check_deploy_script(os.path.join(top, "deploy-scripts", "deploy.cmd"),
                                     os.path.join(top, "example-repo"))
        else:
            with tarfile.open(archive) as t:
                if hasattr(tarfile, "data_filter"):
                    t.extractall(root, filter="data")
                else:
                    t.extractall(root)
            top = os.path.join(root, self.stem)
            self.check_program(os.path.join(top, "bin", "halvard"),
                               os.path.join(top, "share", "doc", "halvard", "example-repo"))
            self.check_deploy_script(
                os.path.join(top, "share", "doc", "halvard", "deploy-scripts", "deploy.sh"),
                os.path.join(top, "share", "doc", "halvard", "example-repo"),
                os.path.join(top, "bin"))

    def test_cmake_install(self):
        prefix = os.path.join(self.tmp, "prefix")
        code, log = run([CONFIG.cache["CMAKE_COMMAND"], "--install", CONFIG.build,
                         "--prefix", prefix])
        self.assertEqual(0, code, log)
        self.assertEqual(expected_files(), files_below(prefix))
        if is_windows():
            self.check_program(os.path.join(prefix, "halvard.exe"),
                               os.path.join(prefix, "example-repo"))
        else:
            program = os.path.join(prefix, "bin", "halvard")
            if CONFIG.cache.get("HALVARD_STATIC", "OFF").upper() in ("ON", "TRUE", "1"):
                self.assertFalse(elf_interpreter_present(program),
                                 "the static build asks for a dynamic loader")
            self.check_program(program, os.path.join(prefix, "share", "doc", "halvard",
                                                     "example-repo"))
            self.check_manual_page(os.path.join(prefix, "share", "man", "man1", "halvard.1"))

    # -- helpers ----------------------------------------------------------------------

    def check_program(self, program, example):
        """The banner names the version; the example repository gives its latest set."""
        if is_windows():
            if os.environ.get("HALVARD_SKIP_WINE_RUN") == "1":
                return
            command, repo = [os.environ.get("HALVARD_WINE") or "wine", program], wine_path(os.path.join(example, "repo"))
        else:
            command, repo = [program], os.path.join(example, "repo")
        code, out = run(command + ["/?"])
        self.assertEqual(2, code, out)
        self.assertRegex(out, r"\nNorvik \(R\) \w+ version %s\n" % re.escape(self.version))
        code, out = run(command + [repo, "/W:5", "/M:6123"])
        self.assertEqual(0, code, out)
        found = re.search(r"\n\tDriverSetPath:(.*)\n", out)
        self.assertTrue(found and found.group(1).startswith(repo), out)

    def check_deploy_script(self, script, example, bin_dir=None):
        """The packaged deployment script finds the packaged program by itself (deploy.cmd one
        folder up, deploy.sh on the PATH) and stages the example repository's latest set."""
        work = tempfile.mkdtemp(prefix="deploy-", dir=self.tmp)
        dest, batch = os.path.join(work, "dest"), os.path.join(work, "DrvSet.bat")
        env = dict(os.environ)
        env.pop("HALVARD", None)
        if is_windows():
            if os.environ.get("HALVARD_SKIP_WINE_RUN") == "1":
                return
            env.update(WINEDEBUG="-all", DRVSET_BAT=wine_path(batch))
            command = [os.environ.get("HALVARD_WINE") or "wine", "cmd", "/c", wine_path(script),
                       wine_path(os.path.join(example, "repo")), "5", wine_path(dest), "6123"]
        else:
            env.update(DRVSET_BAT=batch, PATH=bin_dir + os.pathsep + env.get("PATH", ""))
            command = ["/bin/sh", script, os.path.join(example, "repo"), "5", dest, "6123"]
        code, out = run(command, cwd=work, env=env)
        self.assertEqual(0, code, out)
        self.assertIn("deploy: driver set staged", out)
        copied = re.search(r"deploy: copying (.*) to ", out)
        self.assertTrue(copied and copied.group(1).endswith("Rel_2009_11"), out)
        self.assertTrue(os.path.isfile(os.path.join(dest, "DrvSet.ini")), out)

    def check_windows_program(self, program):
        """A static console program of the right architecture: Windows' own DLLs only."""
        code, dump = run([CONFIG.cache["CMAKE_OBJDUMP"], "-p", program])
        self.assertEqual(0, code, dump)
        if CONFIG.arch == "win32":
            self.assertRegex(dump, r"file format pei-i386")
            self.assertRegex(dump, r"Magic\s+010b\s+\(PE32\)")
        else:
            self.assertRegex(dump, r"file format pei-x86-64")
            self.assertRegex(dump, r"Magic\s+020b\s+\(PE32\+\)")
        self.assertRegex(dump, r"Subsystem\s+00000003\s+\(Windows CUI\)")
        dlls = {name.lower() for name in re.findall(r"DLL Name: (\S+)", dump)}
        self.assertTrue(dlls, dump)
        self.assertLessEqual(dlls, SYSTEM_DLLS, "imports DLLs beyond Windows' own")
        self.check_version_resource(program)

    def check_version_resource(self, program):
        """The version resource carries the project's version, as file and product version
        (the fixed numbers and the texts), with the product's name and description."""
        with open(program, "rb") as f:
            data = f.read()
        fixed = data.find(struct.pack("<I", 0xFEEF04BD))  # VS_FIXEDFILEINFO's signature
        self.assertGreaterEqual(fixed, 0, "no version resource")
        file_ms, file_ls, product_ms, product_ls = struct.unpack_from("<4I", data, fixed + 8)
        numbers = [int(n) for n in self.version.split(".")] + [0, 0]
        expected_ms = (numbers[0] << 16) | numbers[1]
        self.assertEqual((file_ms, product_ms), (expected_ms, expected_ms))

        def text(name):
            key = (name + "\0").encode("utf-16-le")
            at = data.find(key)
            self.assertGreaterEqual(at, 0, name + " missing from the version resource")
            at += len(key)
            at += (4 - at % 4) % 4  # the value starts on a 32-bit boundary
            end = data.find(b"\0\0", at)
            while (end - at) % 2:
                end = data.find(b"\0\0", end + 1)
            return data[at:end].decode("utf-16-le")

        for name, value in (("FileVersion", self.version), ("ProductVersion", self.version),
                            ("ProductName", "Halvard"),
                            ("FileDescription", "Device Driver Search Tool"),
                            ("OriginalFilename", "halvard.exe")):
            self.assertEqual(text(name), value, name)

    def check_manual_page(self, page):
        if not shutil.which("man"):
            self.skipTest("man is not installed")
        env = dict(os.environ, MANWIDTH="80", LC_ALL="C.UTF-8")
        proc = subprocess.run(["man", "--warnings", "-l", page], env=env, stdin=subprocess.DEVNULL,
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=60)
        self.assertEqual(0, proc.returncode)
        self.assertEqual("", proc.stderr.decode(), "warnings from the manual page")
        text = proc.stdout.decode("utf-8", "replace")
        for heading in ("NAME", "SYNOPSIS", "OPTIONS", "SEARCH AND CHOICE", "BATCH FILE",
                        "EXIT STATUS", "POSIX BEHAVIOUR", "EXAMPLES"):
            self.assertRegex(text, r"(?m)^%s$" % heading)
        for version in re.findall(r"Halvard version (\S+)", text):
            self.assertEqual(self.version, version, "the manual page shows another version")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build-dir", required=True)
    parser.add_argument("--platform", choices=("native", "windows"), default="native")
    parser.add_argument("--arch", choices=("win64", "win32"))
    parser.add_argument("-v", "--verbose", action="store_true")
    args = parser.parse_args()
    CONFIG.build = os.path.abspath(args.build_dir)
    CONFIG.platform = args.platform
    CONFIG.arch = args.arch
    CONFIG.cache = read_cache(CONFIG.build)
    if is_windows() and not CONFIG.arch:
        parser.error("--arch is needed with --platform windows")
    suite = unittest.defaultTestLoader.loadTestsFromTestCase(PackageTest)
    result = unittest.TextTestRunner(verbosity=2 if args.verbose else 1).run(suite)
    return 0 if result.wasSuccessful() and result.testsRun > 0 else 1


if __name__ == "__main__":
    sys.exit(main())
