"""The repositories the shares suite serves, and the command lines it runs on each.

    python3 tests/shares/trees.py DIR     # builds every tree below DIR

A case is a list of arguments in which "{tree}" stands for the tree's root as the program is
given it (a local path, or the same tree through a mount); the suite runs it from a local
directory, so a batch file named without a directory lands there.
"""
import os
import shutil
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, os.path.join(SOURCE, "tests", "e2e"))

from e2e_support import DriverSet, ini_text, write_file  # noqa: E402

# smbnetfs shows a link as the directory it leads to, with an identity of its own (the SMB
# server follows links and says nothing of them): a loop has no end but the path limit and a
# second path to a directory is a second directory. That is how the share looks, not a fault
# of the walk, so trees with such links are left out for that client.
LINKS_AS_DIRECTORIES = "smbnetfs shows links as plain directories"


class Case:
    def __init__(self, tree, args, rc, skip=None, windows=True):
        self.tree = tree
        self.args = args
        self.rc = rc  # the exit code of the local run: a tree built wrong fails here
        self.skip = skip or {}  # client -> why this case is left out through it
        self.windows = windows  # also run with the Windows build

    def name(self):
        return self.tree + " " + " ".join(a.replace("{tree}", ".") for a in self.args)


def generated(root):
    # The benchmark's repository shape: payload trees, descriptors in other case, sets
    # without a version, empty groups, unfinished uploads.
    subprocess.run([sys.executable, os.path.join(SOURCE, "bench", "gen_repo.py"), "--sets",
                    "300", "--seed", "1", root], check=True, stdout=subprocess.DEVNULL)


def nested(root):
    sets = [
        DriverSet("Net/Gigabit/6123/v1", version="Win2008Server", systems="6123,7340",
                  date="03 Feb 2009", time="10:00:00", build="deep"),
        DriverSet("Net/Gigabit/6123/v2", version="Win2008Server", systems="6123",
                  kastrel="2.1.0", date="04 Feb 2009", time="10:00:00", build="deeper"),
        DriverSet("Net/Gigabit/7340/v1", version="Win2008Server", systems="7340, 6123",
                  quillon="1.02", date="04 Feb 2009", time="10:00:00", build="same stamp"),
        DriverSet("Storage/a/b/c/d/e/f", version="Win2003Server", systems="6123",
                  date="1 Mar 2008", time="23:59:59", build="far down"),
        DriverSet("Storage/lower", version="winxp", systems="7340", date="01 January 2007",
                  time="08:00:00", file_name="drvset.ini"),
        DriverSet("Storage/upper", version="WinXP", systems="7340", date="02 Jan 2007",
                  time="08:00:00", file_name="DRVSET.INI"),
        DriverSet("Storage/both", version="WinXP", build="exact", date="03 Jan 2007"),
        DriverSet("Storage/both", version="WinXP", build="other case", file_name="drvset.ini"),
        DriverSet("Video/B", version="Win2003Server", build="upper B"),
        DriverSet("Video/b", version="Win2003Server", build="lower b"),
        DriverSet("Video/Docs/set", version="Win2003Server"),  # no date
    ]
    for s in sets:
        s.write(root)
    for empty in ("Empty", "Net/Gigabit/9999", "Storage/a/b/side"):
        os.makedirs(os.path.join(root, empty), exist_ok=True)
    write_file(os.path.join(root, "Net", "Gigabit", "6123", "v1", "x86", "drv.sys"), b"\0")
    write_file(os.path.join(root, "readme.txt"), "not a set\r\n")


def links(root):
    DriverSet("real/set", version="Win2008Server", date="01 Jan 2009", time="00:00:00",
              build="real").write(root)
    DriverSet("real/deep/set2", version="Win2008Server", date="02 Jan 2009",
              time="00:00:00").write(root)
    os.symlink("..", os.path.join(root, "real", "back"))  # a loop
    os.symlink(".", os.path.join(root, "real", "deep", "self"))  # a loop on itself
    os.symlink("real", os.path.join(root, "again"))  # a second path to a directory
    os.symlink("real/set", os.path.join(root, "set-link"))  # and to a set


def linked_out(root):
    # A link out of the tree (to a directory inside the share): one path to it, so every
    # client sees it as the local disk does.
    DriverSet("here", version="Win2003Server", date="01 Jan 2009", time="00:00:00").write(root)
    outside = root + "-target"
    DriverSet("set", version="Win2003Server", date="02 Jan 2009",
              time="00:00:00").write(outside)
    os.makedirs(os.path.join(outside, "more", "empty"))
    os.symlink(os.path.join("..", os.path.basename(outside)), os.path.join(root, "elsewhere"))


def media(root):
    for number, version in enumerate(["Win2000Server", "Win2003Server", "WinXP",
                                      "Win2003Serverx64", "Win2008Server", "Win2008Serverx64"]):
        DriverSet("repo/v%d" % number, version=version, date="01 Jan 2009",
                  time="00:00:%02d" % number).write(root)
    product = "Windows Server 2003, Standard x64 Edition"
    write_file(os.path.join(root, "w23", "i386", "prodspec.ini"),
               ini_text("Product Specification", [("Version", "5.2"), ("Product", product)]))
    os.makedirs(os.path.join(root, "w23", "amd64", "empty"))
    write_file(os.path.join(root, "w2008", "sources", "idwbinfo.txt"),
               ini_text("BUILDINFO", [("BuildArch", "amd64"), ("BuildType", "fre")]))
    write_file(os.path.join(root, "w2008", "boot", "bootfix.txt"), "placeholder\r\n")
    os.makedirs(os.path.join(root, "blank", "sources"))


def example(root):
    shutil.copytree(os.path.join(SOURCE, "example-repo"), root, symlinks=True)


TREES = {"generated": generated, "nested": nested, "links": links, "linked-out": linked_out,
         "media": media, "example": example}

# Under Wine a walk of the generated tree through a mount takes seconds (Wine asks for each
# entry's attributes): the Windows build runs one command line of it, the native one all.
CASES = [
    Case("generated", ["{tree}", "/W:5", "/M:8677", "/B:narrow.bat"], 0),
    Case("generated", ["{tree}", "/W:5"], 0, windows=False),
    Case("generated", ["{tree}", "/W:6", "/M:4439,2674"], 0, windows=False),
    Case("generated", ["{tree}", "/W:2", "/M:8677"], 1, windows=False),
    Case("nested", ["{tree}"], 0),
    Case("nested", ["{tree}", "/W:5", "/M:6123,7340", "/B:types.bat"], 0),
    Case("nested", ["{tree}", "/W:3", "/M:7340"], 0),
    Case("nested", ["{tree}/Net", "/W:Win2008Server"], 0),
    Case("links", ["{tree}", "/W:5"], 0, {"smbnetfs": LINKS_AS_DIRECTORIES}),
    Case("linked-out", ["{tree}", "/B:out.bat"], 0),
    Case("media", ["{tree}/repo", "/WP:{tree}/w23", "/B:w23.bat"], 0),
    Case("media", ["{tree}/repo", "/WP:{tree}/w23/i386/prodspec.ini"], 0),
    Case("media", ["{tree}/repo", "/WP:{tree}/w2008"], 0),
    Case("media", ["{tree}/repo", "/WP:{tree}/blank"], 5),
    Case("media", ["{tree}/missing", "/W:1"], 4),
    Case("example", ["{tree}/repo", "/WP:{tree}/media/w2008_x86", "/M:6123"], 0),
]


def build(directory):
    for name, make in TREES.items():
        make(os.path.join(directory, name))


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit("usage: trees.py DIR")
    build(sys.argv[1])
