#!/usr/bin/env python3
"""Runs the end-to-end tests against a built halvard program.

    python3 tests/e2e/run.py --exe PATH --platform native|windows [-k PATTERN] [-v]

With --platform windows, PATH is halvard.exe and every run goes through Wine; paths given
to the program are written as Windows paths (Z:\\...). Exits non-zero when a test fails.
"""
import argparse
import os
import sys
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--exe", required=True, help="the program under test")
    parser.add_argument("--platform", choices=("native", "windows"), default="native")
    parser.add_argument("-k", dest="patterns", action="append",
                        help="run only tests whose name contains this text")
    parser.add_argument("-v", "--verbose", action="store_true")
    args = parser.parse_args()

    exe = os.path.abspath(args.exe)
    if not os.path.isfile(exe):
        print("e2e: program not found: " + exe, file=sys.stderr)
        return 2

    sys.path.insert(0, HERE)
    import e2e_support
    e2e_support.configure(exe, args.platform)

    loader = unittest.TestLoader()
    if args.patterns:
        loader.testNamePatterns = ["*%s*" % p for p in args.patterns]
    suite = loader.discover(HERE, pattern="test_*.py", top_level_dir=HERE)
    runner = unittest.TextTestRunner(verbosity=2 if args.verbose else 1)
    result = runner.run(suite)
    return 0 if result.wasSuccessful() and result.testsRun > 0 else 1


if __name__ == "__main__":
    sys.exit(main())
