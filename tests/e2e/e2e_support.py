"""Shared pieces of the end-to-end suite: running the program under test, building
small trees on disk, and building the texts the program is expected to print and write.

One test serves both builds: every path the program is given or prints goes through
`ppath` (a Unix path as the platform under test writes it) or `rel`, and expected texts
are built from those platform paths.
"""
import os
import shutil
import subprocess
import tempfile
import unittest


class Config:
    exe = None
    platform = "native"


CONFIG = Config()


def configure(exe, platform):
    CONFIG.exe = exe
    CONFIG.platform = platform


def is_windows():
    return CONFIG.platform == "windows"


def native_only(reason="POSIX behaviour"):
    return unittest.skipIf(is_windows(), reason)


def windows_only(reason="needs the Windows build under Wine"):
    return unittest.skipUnless(is_windows(), reason)


def wine_launcher():
    """The command that starts a Windows program here: `wine`, or Wine's 64-bit loader on a
    machine that cannot run 32-bit programs (scripts/wine-launcher.sh finds which)."""
    return os.environ.get("HALVARD_WINE") or "wine"


# ---------------------------------------------------------------------------
# Paths as the platform under test writes them

def sep():
    return "\\" if is_windows() else "/"


def ppath(unix_path):
    """The text of an absolute Unix path on the platform under test (Wine maps / to Z:)."""
    if is_windows():
        return "Z:" + unix_path.replace("/", "\\")
    return unix_path


def rel(*parts):
    """A relative path made of parts, with the platform's separator."""
    return sep().join(parts)


def join(text, *parts):
    """Joins parts to a path text with one separator between each."""
    for part in parts:
        if not text.endswith(sep()):
            text += sep()
        text += part
    return text


# ---------------------------------------------------------------------------
# The Windows version catalogue: number -> (name, family, architecture type, arch)

CATALOGUE = {
    0: ("Win2000Server", "Win2000", "x86", "I386"),
    1: ("Win2003Server", "Win2003", "x86", "I386"),
    2: ("Win2000Pro", "Win2000", "x86", "I386"),
    3: ("WinXP", "WinXP", "x86", "I386"),
    4: ("Win2003Serverx64", "Win2003", "x64", "AMD64"),
    5: ("Win2008Server", "Win2008", "x86", "I386"),
    6: ("Win2008Serverx64", "Win2008", "x64", "AMD64"),
    7: ("WinPE21x86", "WinPE21", "x86", "I386"),
    8: ("WinPE21x64", "WinPE21", "x64", "AMD64"),
}


def version_name(number):
    return CATALOGUE.get(number, CATALOGUE[1])[0]


# ---------------------------------------------------------------------------
# Files on disk

def write_file(path, data):
    """Writes bytes (or text, encoded as UTF-8) to path, creating its directories."""
    os.makedirs(os.path.dirname(path), exist_ok=True)
    if isinstance(data, str):
        data = data.encode("utf-8", "surrogateescape")
    with open(path, "wb") as f:
        f.write(data)


def ini_text(section, pairs, eol="\r\n"):
    """An INI file of one section; pairs is a list of (key, value), or raw lines."""
    lines = ["[" + section + "]"]
    for pair in pairs:
        lines.append(pair if isinstance(pair, str) else pair[0] + "=" + pair[1])
    return eol.join(lines) + eol


DRVSET_KEYS = [
    ("version", "Windows Version"),
    ("systems", "Supported Systems"),
    ("kastrel", "Kastrel Version"),
    ("quillon", "Quillon Version"),
    ("date", "Creation Date"),
    ("time", "Creation Time"),
    ("build", "BuildID"),
]


class DriverSet:
    """One driver set of a test tree: where it is and what its DrvSet.ini says.
    A field left as None is not written to the file (and reads as empty)."""

    def __init__(self, where, version=None, systems=None, kastrel=None, quillon=None,
                 date=None, time=None, build=None, file_name="DrvSet.ini"):
        self.where = where  # directory below the tree's root, "/"-separated ("" = root)
        self.version = version
        self.systems = systems
        self.kastrel = kastrel
        self.quillon = quillon
        self.date = date
        self.time = time
        self.build = build
        self.file_name = file_name

    def ini_bytes(self):
        pairs = [(key, getattr(self, attr)) for attr, key in DRVSET_KEYS
                 if getattr(self, attr) is not None]
        return ini_text("Main", pairs).encode("utf-8", "surrogateescape")

    def write(self, root):
        parts = [p for p in self.where.split("/") if p]
        write_file(os.path.join(root, *parts, self.file_name), self.ini_bytes())

    def value(self, attr):
        return getattr(self, attr) or ""

    # Texts as the program builds them from a driver path typed as `root_text`.
    def ini_path(self, root_text):
        parts = [p for p in self.where.split("/") if p]
        return join(root_text, *parts, self.file_name)

    def dir_path(self, root_text):
        parts = [p for p in self.where.split("/") if p]
        return join(root_text, *parts) if parts else root_text.rstrip(sep())

    def rel_dir(self):
        return rel(*[p for p in self.where.split("/") if p])


# ---------------------------------------------------------------------------
# Expected console texts. A list of lines; a line may itself begin with "\n", as the
# program prints it. The banner's legal notice is matched by any one line.

LEGAL_NOTICE = "\x00<any legal notice>\x00"


def lines_text(lines):
    return "".join(line + "\n" for line in lines)


def program_name(exe):
    """The display name: the base name of the program, lower-cased, the first three
    characters upper-cased."""
    name = os.path.basename(exe)
    dot = name.rfind(".")
    if dot >= 0 and dot >= len(name) - 4:
        name = name[:dot]
    name = name.lower()
    return name[:3].upper() + name[3:]


START = ["\nHalvard Started..."]


def usage_lines():
    prog = program_name(CONFIG.exe)
    pad = " " * 17
    return [
        "Norvik (R) " + prog + " version 1.1",
        LEGAL_NOTICE,
        "Device Driver Search Tool",
        "Usage... ",
        "  " + prog + " driverpath [/W:n | /WP:nospath] [/M:machtype] [/B:batch] ",
        "Where...",
        "  driverpath      Fully qualified directory path to start searching for drivers",
        "                      i.e. F:\\kitroot\\drvs",
        "  /M:machinetype  Specifies the machine type to limit the search. Multiple",
        "                      machine types can be specified using",
        "                      a comma  as the delimiter. i.e. /M:6123,7340",
        "  /W:n            Windows version to prefer when searching device drivers",
        "                      0 = Windows 2000 Server",
        "                      1 = Windows 2003 Server (Default)",
        "                      2 = Windows 2000 Professional",
        "                      3 = Windows XP",
        "                      4 = Windows 2003 Server x64",
        "                      5 = Windows 2008 Server",
        "                      6 = Windows 2008 Server x64",
        "                      7 = WindowsPE 2.1 x86",
        "                      8 = WindowsPE 2.1 x64",
        "  /WP:[dir | filename] Fully qualified path to directory to start searching",
        "                      for Windows PRODSPEC.INI or idwbinfo.txt file.",
        "                      e.g. F:\\kitroot\\os\\w23_std ",
        "                      or F:\\kitroot\\os\\w23_std\\i386\\prodspec.ini",
        "                      or F:\\kitroot\\os\\Win2008_x86",
        "  /B:filename    Name of the batch file to place the environment variables",
        "                     Default = .\\DrvSet.bat.",
        pad + "Environment Variables are:",
        pad + "QL_NOS_Type\t (Win2000,Win2003,Win2008,WinPE21)",
        pad + "QL_NOS_Arch\t (I386,AMD64)",
        pad + "QL_NOS_Arch_Type(x86,x64)",
        pad + "QL_NOS_DDL_Type (Win2000Server,Win2003Server,Win2003Serverx64,Win2008Server,"
              "Win2008Serverx64,WinPE21x86,WinPE21x64)",
        pad + "QL_NOS_DDL_Path_# (number of drivers sets found)",
        pad + "QL_NOS_DDL_Path_1 (corresponding drivers set)",
        pad + "QL_NOS_DDL_Path_2 (corresponding drivers set)",
        pad + "QL_NOS_DDL_Path_3 (corresponding drivers set)",
        pad + "QL_NOS_All_DDL_Paths semicolon delimited list of drivers sets relative to the "
              "driverpath specified",
        " ",
        " Return Codes for " + prog + ":",
        "                      0 = Success:One or more driver library found",
        "                      1 = Success:Zero driver library found",
        "                      2 = Error:Command line syntax error",
        "                      3 = Error:Writing output batch file",
        "                      4 = Error:Driver Path not found",
        "                      5 = Error:NOS not found in path /WP:",
        "                      6 = Error:General application error",
    ]


def syntax_error(message):
    return ["", "Syntax Error", "", message]


def tabbed(items):
    return ["\t" + item for item in items]


def search_all(paths):
    return ["Searching for all Driver Sets..."] + tabbed(paths)


def search_version(name, paths):
    return ["Searching for " + name + " Driver Sets..."] + tabbed(paths)


def search_type(machine_type, paths):
    return ["Searching for MachineType=" + machine_type + " Driver Sets..."] + tabbed(paths)


def report_block(full_ini_path, s):
    """The report of one set: its path and descriptor values, labels padded to 25."""
    lines = ["\nDriverSet:" + full_ini_path,
             "%-25s= %s" % ("Windows Version", s.value("version"))]
    for attr, key in (("kastrel", "Kastrel Version"), ("quillon", "Quillon Version")):
        if s.value(attr):
            lines.append("%-25s= %s" % (key, s.value(attr)))
    for attr, key in (("date", "Creation Date"), ("time", "Creation Time"),
                      ("build", "BuildID")):
        lines.append("%-25s= %s" % (key, s.value(attr)))
    return lines


def report(root_text, sets):
    """The report of matching sets given with an absolute driver path text."""
    lines = ["\nAll matching DrvSet.ini files..."]
    for s in sets:
        lines += report_block(s.ini_path(root_text), s)
    return lines


LATEST = ["\nSearching for latest Driver Set..."]


def found(directory):
    return ["Driver Set Found!", "\tDriverSetPath:" + directory]


NOT_FOUND = ["Driver Set not Found"]


# ---------------------------------------------------------------------------
# The batch file

def escape_unquoted(value):
    """A SET value as cmd.exe must read it: ^ before & | < > ^, every % doubled."""
    out = []
    for ch in value:
        if ch in "&|<>^":
            out.append("^" + ch)
        elif ch == "%":
            out.append("%%")
        else:
            out.append(ch)
    return "".join(out)


class BatchVariables:
    """The variables of one batch file, in file order, each as (name, shown, written)."""

    def __init__(self, number, directories, relative_dirs=None, os_lines=None):
        name, family, arch_type, arch = CATALOGUE.get(number, CATALOGUE[1])
        if os_lines is not None:
            family, arch_type, arch, name = os_lines
        self.items = []
        self._add("QL_NOS_Type", family)
        self._add("QL_NOS_Arch_Type", arch_type)
        self._add("QL_NOS_Arch", arch)
        self._add("QL_NOS_DDL_Type", name)
        self._add("QL_NOS_DDL_Path_#", str(len(directories)))
        for k, directory in enumerate(directories, 1):
            self._add("QL_NOS_DDL_Path_%d" % k, directory)
        if relative_dirs is not None:
            shown = ";".join('"' + r + '"' for r in relative_dirs)
            written = ";".join('"' + r.replace("%", "%%") + '"' for r in relative_dirs)
            self.items.append(("QL_NOS_All_DDL_Paths", shown, written))

    def _add(self, name, value):
        self.items.append((name, value, escape_unquoted(value)))

    def echo_lines(self, batch_full_path):
        return (["Writing Batch File:" + batch_full_path] +
                ["\tSaving Environment Variable:%" + n + "%=" + v for n, v, _ in self.items])

    def file_text(self, batch_file_name):
        lines = ["@Echo off",
                 "rem " + "/" * 60,
                 "rem //",
                 "rem //  Norvik Kastrel Quillon",
                 "rem //  Device Driver Search Batch File",
                 "rem //  " + batch_file_name.replace("%", "%%"),
                 "rem //  Generated by Halvard version 1.1",
                 ""]
        lines += ["SET " + n + "=" + w for n, _, w in self.items]
        return "".join(line + "\r\n" for line in lines)

    def values(self):
        return {n: v for n, v, _ in self.items}


# ---------------------------------------------------------------------------
# Running the program

class Result:
    def __init__(self, rc, out, err):
        self.rc = rc
        self.out = out
        self.err = err


def run_command(command, cwd=None, timeout=None):
    """Runs a command and returns (exit code, stdout bytes, stderr bytes).

    Output goes through files, not pipes: Wine's server outlives the program it started
    and would keep a pipe open until it exits (seconds later) if it inherited one.
    """
    env = dict(os.environ)
    if is_windows():
        env["WINEDEBUG"] = "-all"
        command = [wine_launcher()] + list(command)
    if timeout is None:  # a first Wine run may have to create its prefix
        timeout = 180 if is_windows() else 20
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        rc = subprocess.run(command, cwd=cwd, env=env, stdin=subprocess.DEVNULL, stdout=out,
                            stderr=err, timeout=timeout).returncode
        out.seek(0)
        err.seek(0)
        return rc, out.read(), err.read()


def run_tool(args, cwd=None, timeout=None):
    rc, out, err = run_command([CONFIG.exe] + list(args), cwd=cwd, timeout=timeout)
    out = out.decode("utf-8", "surrogateescape")
    if is_windows():
        out = out.replace("\r\n", "\n")
    return Result(rc, out, err.decode("utf-8", "replace"))


def cmd_variables(batch_unix_path, cwd):
    """The QL_ variables that Wine's cmd.exe ends up with after calling a batch file, as a
    dict. The file is called under a plain name of its own, so that cmd does not expand
    what its name holds on the command line."""
    plain = os.path.join(cwd, "cmd-check.bat")
    shutil.copyfile(batch_unix_path, plain)
    try:
        _, out, _ = run_command(["cmd", "/c", "call " + ppath(plain) + " && set QL_"], cwd=cwd)
    finally:
        os.remove(plain)
    out = out.decode("utf-8", "surrogateescape").replace("\r\n", "\n")
    return dict(line.split("=", 1) for line in out.splitlines() if "=" in line)


class ToolTestCase(unittest.TestCase):
    """A test with a fresh temporary directory (`self.tmp`, a Unix path)."""

    maxDiff = None

    def setUp(self):
        self.tmp = os.path.realpath(tempfile.mkdtemp(prefix="hve2e"))
        self.addCleanup(shutil.rmtree, self.tmp, True)

    def u(self, *parts):
        """A Unix path below the temporary directory."""
        return os.path.join(self.tmp, *parts)

    def p(self, *parts):
        """The same path as the platform under test writes it."""
        return ppath(self.u(*parts))

    def make_sets(self, root_name, sets):
        for s in sets:
            s.write(self.u(root_name))
        return self.p(root_name)

    def run_tool(self, args, cwd=None):
        return run_tool(args, cwd=cwd or self.tmp)

    def assertRun(self, result, lines, rc):
        expected = lines_text(lines)
        actual = result.out
        if LEGAL_NOTICE in expected:
            exp_lines = expected.split("\n")
            act_lines = actual.split("\n")
            if len(exp_lines) == len(act_lines):
                for i, line in enumerate(exp_lines):
                    if line == LEGAL_NOTICE:
                        exp_lines[i] = act_lines[i]
                expected = "\n".join(exp_lines)
        self.assertEqual(actual, expected, "standard output differs")
        self.assertEqual(result.rc, rc, "exit code differs")
        if not is_windows():  # under Wine, Wine itself may write there
            self.assertEqual(result.err, "", "standard error should be empty")

    def assertBatch(self, unix_path, variables, file_name=None):
        self.assertTrue(os.path.isfile(unix_path), "no batch file at " + unix_path)
        with open(unix_path, "rb") as f:
            actual = f.read().decode("utf-8", "surrogateescape")
        name = file_name or os.path.basename(unix_path)
        self.assertEqual(actual, variables.file_text(name), "batch file differs")

    def assertNoFiles(self, directory, names):
        for name in names:
            self.assertFalse(os.path.lexists(os.path.join(directory, name)),
                             name + " should not have been written")
