#!/usr/bin/env python3
"""Runs the deployment scripts against a built halvard, once for every exit path.

    python3 tests/scripts/test_deploy.py --exe PATH --platform native|windows [-v]

native:  deploy-scripts/deploy.sh with /bin/sh and the native program.
windows: deploy-scripts/deploy.cmd with Wine's cmd.exe and halvard.exe (WINEPREFIX from the
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
SCRIPTS = os.path.join(SOURCE, "deploy-scripts")


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

    def deploy(self, *args, halvard=None, batch=None, extra_env=None):
        """Runs the script; returns (exit code, its "deploy:" lines, the whole output).

        batch=False leaves DRVSET_BAT unset, so that the script picks its default."""
        env = dict(os.environ)
        env["HALVARD"] = ppath(halvard or CONFIG.exe)
        env.pop("DRVSET_BAT", None)
        if batch is not False:
            env["DRVSET_BAT"] = ppath(batch or self.batch)
        env.update(extra_env or {})
        if is_windows():
            env["WINEDEBUG"] = "-all"
            script = ppath(os.path.join(SCRIPTS, "deploy.cmd"))
            launcher = os.environ.get("HALVARD_WINE") or "wine"
            command = [launcher, "cmd", "/c", script] + list(args)
        else:
            command = ["/bin/sh", os.path.join(SCRIPTS, "deploy.sh")] + list(args)
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

    # Folder names that cmd would act on: (repository root, earlier set, latest set, destination,
    # whether the Windows leg runs it). Each set is a folder directly in the root. Both scripts
    # must print the paths as they are and copy the latest set. Without /M: the list of all
    # sets of the version is ordered latest first too.
    #
    # The Windows leg leaves out what Windows or Wine cannot carry:
    # - < > | cannot be in a Windows file name (Wine shows such Unix names as other characters).
    # - A % in a folder passed as an argument: Wine's cmd.exe expands % again inside a
    #   parameter's value (%~1), so "100%" reaches the script as "100" (cmd.exe keeps a lone %,
    #   though "cmd /c" itself expands %NAME% pairs in its command line). A % in the set folders
    #   comes through the batch file instead, and is tested there. (Wine's cmd.exe also expands
    #   a FOR variable's value again, so there a % before ~ or before a letter the script uses as
    #   a FOR variable would still go wrong; cmd.exe leaves such values alone.)
    # Every argument holding & or ^ also holds a blank: Wine (like Python's list2cmdline) quotes
    # only such arguments, and cmd takes an unquoted & or ^ as its own.
    SPECIAL_NAMES = (
        ("R&D 100%", "set0", "set1", "dest", False),  # the example
        ("R&D 100% <x|y> ^z !w", "1 a&b|c", "2 <p> ^q 5% !r", "dest & <co> | 100% ^!", False),
        ("R&D ^z !w", "1 a&b ^c", "2 late 5% off! ^^ %%", "dest & co!", True),
        ("drvs", "1 %PATH%", "2 ^&^ ! !PATH! x", "dest ^ co", True),  # nothing to expand
    )

    def test_folder_names_that_cmd_would_act_on(self):
        for number, (root, early, late, dest, windows) in enumerate(self.SPECIAL_NAMES):
            with self.subTest(root=root, early=early, late=late, dest=dest):
                if is_windows() and not windows:
                    continue
                repo = os.path.join(self.tmp, "special-%d" % number, root)
                write(os.path.join(repo, early, "DrvSet.ini"),
                      drvset("Win2008Server", "6123", "05 Mar 2009", "14:30:05"))
                write(os.path.join(repo, late, "DrvSet.ini"),
                      drvset("Win2008Server", "6123", "17 Nov 2009", "09:12:40"))
                write(os.path.join(repo, late, "net", "net.inf"), "late\n")
                target = os.path.join(self.tmp, "special-%d" % number, dest)
                self.assertDeploy(
                    [ppath(repo), "5", ppath(target)], 0,
                    ["deploy: target Win2008Server - family Win2008, x86, I386",
                     "deploy: 2 matching driver set(s), latest first:",
                     "deploy:   " + ppath(os.path.join(repo, late)),
                     "deploy:   " + ppath(os.path.join(repo, early)),
                     'deploy: all driver sets of Win2008Server: "%s";"%s"' % (late, early),
                     "deploy: copying %s to %s" % (ppath(os.path.join(repo, late)),
                                                   ppath(target)),
                     "deploy: driver set staged"])
                with open(os.path.join(target, "net", "net.inf")) as f:
                    self.assertEqual("late", f.read().strip())

    def test_messages_show_folder_names_as_they_are(self):
        # The characters of SPECIAL_NAMES that each leg can carry in an argument.
        name = "x & co ^y !z" + ("" if is_windows() else " 100% <a|b>")
        media = os.path.join(self.tmp, "media " + name)
        os.makedirs(os.path.join(media, "sources"), exist_ok=True)
        missing = os.path.join(self.tmp, "missing " + name)
        batch = os.path.join(missing, "DrvSet.bat")
        repo, dest = ppath(self.repo), ppath(self.dest)
        for args, code, line, named in (
                ([repo, "5", dest], 3, "deploy: cannot write the batch file " + ppath(batch),
                 batch),
                ([ppath(missing), "5", dest], 4,
                 "deploy: driver repository %s not found" % ppath(missing), None),
                ([repo, ppath(media), dest], 5,
                 "deploy: no Windows version found on the media " + ppath(media), None)):
            with self.subTest(code=code):
                self.assertDeploy(args, code, [line], batch=named)

    def test_default_batch_file_is_private_and_removed(self):
        """Without DRVSET_BAT, deploy.sh has the program write a new file from mktemp, not the
        fixed ${TMPDIR}/DrvSet.bat that another user could have made a link, and removes it
        however the script ends; a DRVSET_BAT the caller names stays."""
        if is_windows():
            self.skipTest("deploy.cmd keeps %TEMP%\\DrvSet.bat: %TEMP% is the user's own")
        # A stand-in for halvard: notes the kind of the /B: file it was given ("link", "missing"
        # or the mode that ls shows) and its path, then signals the script or runs the program.
        stand_in = os.path.join(self.tmp, "recording-halvard")
        with open(stand_in, "w") as f:
            f.write('#!/bin/sh\n'
                    'for a; do case $a in /B:*) b=${a#/B:}\n'
                    '    if [ -L "$b" ]; then echo link; elif [ ! -e "$b" ]; then echo missing\n'
                    '    else ls -ld "$b" | cut -c1-10; fi\n'
                    '    echo "$b";; esac; done >"$RECORD"\n'
                    'if [ -n "${SIGNAL:-}" ]; then kill -s "$SIGNAL" "$PPID"; exit 0; fi\n'
                    'exec "$REAL_HALVARD" "$@"\n')
        os.chmod(stand_in, 0o755)
        repo, media, dest = self.repo, os.path.join(self.tmp, "media"), self.dest
        # (case, arguments, exit code, signal for the script, batch file named by the caller)
        cases = (
            ("staged", [repo, media, dest, "6123"], 0, None, False),
            ("none found", [repo, "5", dest, "9999"], 1, None, False),
            ("syntax error", [repo, "9", dest], 2, None, False),
            ("no repository", [os.path.join(self.tmp, "no-repo"), "5", dest], 4, None, False),
            ("terminated", [repo, "5", dest], 143, "TERM", False),
            ("interrupted", [repo, "5", dest], 130, "INT", False),
            ("hung up", [repo, "5", dest], 129, "HUP", False),
            ("named by the caller", [repo, "5", dest], 0, None, True),
        )
        for case, args, code, signal, named in cases:
            with self.subTest(case=case):
                tmpdir = tempfile.mkdtemp(prefix="tmpdir-", dir=self.tmp)
                victim = os.path.join(self.tmp, "victim-" + os.path.basename(tmpdir))
                with open(victim, "w") as f:
                    f.write("not yours\n")
                planted = os.path.join(tmpdir, "DrvSet.bat")
                os.symlink(victim, planted)
                record = os.path.join(self.tmp, "record-" + os.path.basename(tmpdir))
                named_batch = os.path.join(self.tmp, "named-" + os.path.basename(tmpdir))
                env = {"TMPDIR": tmpdir, "RECORD": record, "REAL_HALVARD": CONFIG.exe}
                if signal:
                    env["SIGNAL"] = signal
                result, lines, out = self.deploy(
                    *args, halvard=stand_in, batch=named_batch if named else False,
                    extra_env=env)
                self.assertEqual(code, result, out)
                if code == 0:
                    self.assertEqual("deploy: driver set staged", lines[-1], out)
                with open(victim) as f:
                    self.assertEqual("not yours\n", f.read(), "the planted link was followed")
                self.assertEqual(victim, os.readlink(planted))
                self.assertEqual(["DrvSet.bat"], os.listdir(tmpdir), "files left in TMPDIR")
                with open(record) as f:
                    kind, given = f.read().splitlines()
                if named:
                    self.assertEqual(("missing", named_batch), (kind, given))
                    self.assertTrue(os.path.isfile(named_batch), "DRVSET_BAT was removed")
                else:
                    self.assertEqual("-rw-------", kind)
                    self.assertEqual(tmpdir, os.path.dirname(given))
                    self.assertNotEqual(planted, given)

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
            with open(os.path.join(SCRIPTS, name), encoding="utf-8") as f:
                script = f.read().replace("\r\n", "\n")
            blocks = re.findall(r"^```%s\n(.*?)^```$" % fence, readme, re.S | re.M)
            self.assertTrue(script in blocks, "README.md has no ```%s block equal to "
                            "deploy-scripts/%s" % (fence, name))


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
