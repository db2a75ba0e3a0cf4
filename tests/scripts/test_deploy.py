#!/usr/bin/env python3
"""Runs the deployment script examples against a built halvard, once for every exit path.

    python3 tests/scripts/test_deploy.py --exe PATH --platform native|windows [-v]

native:  examples/deploy.sh with /bin/sh and the native program.
windows: examples/deploy.cmd with Wine's cmd.exe and halvard.exe (WINEPREFIX from the
         environment). Both scripts print the same "deploy:" lines, so one set of
         expectations serves both. The README shows both scripts; they must be these files.
"""
import argparse
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.dirname(os.path.dirname(HERE))


class Config:
    exe = None
    platform = "native"


CONFIG = Config()


def is_windows():
    return CONFIG.platform == "windows"


def ppath(path):
    """A Unix path as the program under test writes it (Wine maps / to drive Z:)."""
    return "Z:" + path.replace("/", "\\") if is_windows() else path


def sep():
    return "\\" if is_windows() else "/"


def write(path, text):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "w", newline="\r\n") as f:
        f.write(text)


def drvset(version, systems, date, time):
    return ("[Main]\nWindows Version=%s\nSupported Systems=%s\nCreation Date=%s\n"
            "Creation Time=%s\nBuildID=%s-%s\n" % (version, systems, date, time, version, date))


class DeployScriptTest(unittest.TestCase):
    """One repository, two media trees; each test runs the script once."""

    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.mkdtemp(prefix="halvard-deploy-")
        repo = os.path.join(cls.tmp, "repo")
        write(os.path.join(repo, "w2008", "early", "DrvSet.ini"),
              drvset("Win2008Server", "6123,7340", "05 Mar 2009", "14:30:05"))
        write(os.path.join(repo, "w2008", "early", "net.inf"), "early\n")
        write(os.path.join(repo, "w2008", "late", "DrvSet.ini"),
              drvset("Win2008Server", "6123", "17 Nov 2009", "09:12:40"))
        write(os.path.join(repo, "w2008", "late", "net", "net.inf"), "late\n")
        write(os.path.join(repo, "w2003", "DrvSet.ini"),
              drvset("Win2003Server", "6123", "01 Jun 2008", "08:00:00"))
        write(os.path.join(cls.tmp, "media", "sources", "idwbinfo.txt"),
              "[BUILDINFO]\nBuildArch=x86\n")
        os.makedirs(os.path.join(cls.tmp, "blank-media", "sources"))
        cls.repo = repo

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.tmp, ignore_errors=True)

    def setUp(self):
        self.dest = os.path.join(self.tmp, "dest-" + self._testMethodName)
        self.batch = os.path.join(self.tmp, "DrvSet.bat")

    def tearDown(self):
        shutil.rmtree(self.dest, ignore_errors=True)

    def deploy(self, *args, halvard=None, batch=None):
        """Runs the script; returns (exit code, its "deploy:" lines, the whole output)."""
        env = dict(os.environ)
        env["HALVARD"] = ppath(halvard or CONFIG.exe)
        env["DRVSET_BAT"] = ppath(batch or self.batch)
        if is_windows():
            env["WINEDEBUG"] = "-all"
            script = ppath(os.path.join(SOURCE, "examples", "deploy.cmd"))
            command = ["wine", "cmd", "/c", script] + list(args)
        else:
            command = ["/bin/sh", os.path.join(SOURCE, "examples", "deploy.sh")] + list(args)
        proc = subprocess.run(command, cwd=self.tmp, env=env, stdin=subprocess.DEVNULL,
                              stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=120)
        out = proc.stdout.decode("utf-8", "replace").replace("\r\n", "\n")
        lines = [line for line in out.split("\n") if line.startswith("deploy:")]
        return proc.returncode, lines, out

    def set_dir(self, *parts):
        return ppath(os.path.join(self.repo, *parts))

    def assertDeploy(self, args, code, lines, **kwargs):
        result, got, out = self.deploy(*args, **kwargs)
        self.assertEqual((code, lines), (result, got), out)

    def test_media_and_machine_type_stage_the_latest_set(self):
        rel = '"%s";"%s"' % ("w2008" + sep() + "early", "w2008" + sep() + "late")
        self.assertDeploy(
            [ppath(self.repo), ppath(os.path.join(self.tmp, "media")), ppath(self.dest), "6123"],
            0,
            ["deploy: target Win2008Server - family Win2008, x86, I386",
             "deploy: 2 matching driver set(s), latest first:",
             "deploy:   " + self.set_dir("w2008", "late"),
             "deploy:   " + self.set_dir("w2008", "early"),
             "deploy: all driver sets of Win2008Server: " + rel,
             "deploy: copying %s to %s" % (self.set_dir("w2008", "late"), ppath(self.dest)),
             "deploy: driver set staged"])
        with open(os.path.join(self.dest, "net", "net.inf")) as f:
            self.assertEqual("late", f.read().strip())
        self.assertTrue(os.path.isfile(os.path.join(self.dest, "DrvSet.ini")))

    def test_version_by_name_with_one_set(self):
        result, lines, out = self.deploy(ppath(self.repo), "Win2003Server", ppath(self.dest))
        self.assertEqual(0, result, out)
        self.assertEqual(["deploy: target Win2003Server - family Win2003, x86, I386",
                          "deploy: 1 matching driver set(s), latest first:",
                          "deploy:   " + self.set_dir("w2003")], lines[:3])
        self.assertTrue(os.path.isfile(os.path.join(self.dest, "DrvSet.ini")))

    def test_no_set_for_the_machine_type(self):
        self.assertDeploy([ppath(self.repo), "5", ppath(self.dest), "9999"], 1,
                          ["deploy: no driver set for Win2008Server on this machine: "
                           "in-box drivers only"])
        self.assertFalse(os.path.exists(self.dest))

    def test_invalid_version_number_is_a_syntax_error(self):
        self.assertDeploy([ppath(self.repo), "9", ppath(self.dest)], 2,
                          ["deploy: %s did not accept its command line, see the usage above"
                           % ("halvard.exe" if is_windows() else "halvard")])

    def test_unwritable_batch_file(self):
        batch = os.path.join(self.tmp, "missing", "DrvSet.bat")
        self.assertDeploy([ppath(self.repo), "5", ppath(self.dest)], 3,
                          ["deploy: cannot write the batch file " + ppath(batch)], batch=batch)

    def test_missing_driver_repository(self):
        missing = ppath(os.path.join(self.tmp, "no-repo"))
        self.assertDeploy([missing, "5", ppath(self.dest)], 4,
                          ["deploy: driver repository %s not found" % missing])

    def test_media_without_a_version(self):
        media = ppath(os.path.join(self.tmp, "blank-media"))
        self.assertDeploy([ppath(self.repo), media, ppath(self.dest)], 5,
                          ["deploy: no Windows version found on the media " + media])

    def test_general_error_and_unknown_codes(self):
        if is_windows():
            self.skipTest("a stand-in program for these codes is a shell script")
        for code, line in ((6, "deploy: halvard failed with a general error"),
                           (7, "deploy: halvard ended with the unknown exit code 7")):
            fake = os.path.join(self.tmp, "fake-%d" % code)
            with open(fake, "w") as f:
                f.write("#!/bin/sh\nexit %d\n" % code)
            os.chmod(fake, 0o755)
            self.assertDeploy([ppath(self.repo), "5", ppath(self.dest)], code, [line],
                              halvard=fake)


class ReadmeTest(unittest.TestCase):
    """The README shows the scripts that these tests run, not a copy that drifts."""

    def test_readme_shows_both_scripts(self):
        with open(os.path.join(SOURCE, "README.md"), encoding="utf-8") as f:
            readme = f.read()
        for name, fence in (("deploy.cmd", "bat"), ("deploy.sh", "sh")):
            with open(os.path.join(SOURCE, "examples", name), encoding="utf-8") as f:
                script = f.read().replace("\r\n", "\n")
            blocks = re.findall(r"^```%s\n(.*?)^```$" % fence, readme, re.S | re.M)
            self.assertTrue(script in blocks, "README.md has no ```%s block equal to "
                            "examples/%s" % (fence, name))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--exe", required=True, help="the program under test")
    parser.add_argument("--platform", choices=("native", "windows"), default="native")
    parser.add_argument("-v", "--verbose", action="store_true")
    args = parser.parse_args()
    CONFIG.exe = os.path.abspath(args.exe)
    CONFIG.platform = args.platform
    suite = unittest.defaultTestLoader.loadTestsFromModule(sys.modules[__name__])
    result = unittest.TextTestRunner(verbosity=2 if args.verbose else 1).run(suite)
    return 0 if result.wasSuccessful() and result.testsRun > 0 else 1


if __name__ == "__main__":
    sys.exit(main())
