"""scripts/wine-launcher.sh chooses by trying: `wine` where it starts, else Wine's 64-bit
loader; 32-bit runs only where a 32-bit program starts. Stand-in launchers play the machine
that cannot run 32-bit programs (its `wine` fails with "Exec format error")."""
import os
import subprocess
import sys
import tempfile
import unittest

SOURCE = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
PROBE = os.path.join(SOURCE, "scripts", "wine-launcher.sh")

STARTS = "#!/bin/sh\necho wine-8.0\n"
EXEC_FORMAT_ERROR = ("#!/bin/sh\necho \"$0: cannot execute binary file: Exec format error\" >&2\n"
                     "exit 126\n")


class WineLauncherTest(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix="halvard-wine-probe-")
        self.addCleanup(subprocess.run, ["rm", "-rf", self.tmp])

    def program(self, name, text):
        path = os.path.join(self.tmp, name)
        with open(path, "w") as f:
            f.write(text)
        os.chmod(path, 0o755)
        return path

    def probe(self, launchers, probe32):
        env = dict(os.environ, HALVARD_WINE_LAUNCHERS=" ".join(launchers),
                   HALVARD_WINE32_PROBE=probe32)
        done = subprocess.run(["bash", PROBE], env=env, capture_output=True, text=True)
        values = {}
        for line in done.stdout.splitlines():
            name, _, value = line.partition("=")
            values[name] = value
        return done.returncode, values, done.stderr

    def test_choices(self):
        wine = self.program("wine", STARTS)
        broken_wine = self.program("broken-wine", EXEC_FORMAT_ERROR)
        wine64 = self.program("wine64", STARTS)
        broken32 = self.program("wine32", EXEC_FORMAT_ERROR)
        missing32 = os.path.join(self.tmp, "no-wine32")
        cases = [
            # launchers, 32-bit probe, chosen launcher, loader, 32-bit, why mentions
            ([wine, wine64], wine, wine, None, "yes", None),
            ([broken_wine, wine64], broken32, wine64, wine64, "no", "Exec\\ format\\ error"),
            ([broken_wine, wine64], missing32, wine64, wine64, "no", "is\\ missing"),
            ([wine, wine64], broken32, wine, None, "no", "do\\ not\\ start"),
        ]
        for launchers, probe32, chosen, loader, runs32, why in cases:
            with self.subTest(launchers=launchers, probe32=probe32):
                code, values, err = self.probe(launchers, probe32)
                self.assertEqual(0, code, err)
                self.assertEqual(chosen, values["HALVARD_WINE"])
                self.assertEqual(loader, values.get("WINELOADER"))
                self.assertEqual(runs32, values["HALVARD_WINE32"])
                if why is None:
                    self.assertNotIn("HALVARD_WINE32_WHY", values)
                else:
                    self.assertIn(why, values["HALVARD_WINE32_WHY"])

    def test_no_launcher_starts(self):
        broken = self.program("wine", EXEC_FORMAT_ERROR)
        code, values, err = self.probe([broken, os.path.join(self.tmp, "no-wine64")], broken)
        self.assertEqual(1, code)
        self.assertEqual({}, values)
        self.assertIn("no Wine launcher starts here", err)
        self.assertIn("Exec format error", err)
        self.assertIn("no-wine64: not installed", err)


if __name__ == "__main__":
    result = unittest.main(exit=False, verbosity=1).result
    sys.exit(0 if result.wasSuccessful() and result.testsRun > 0 else 1)
