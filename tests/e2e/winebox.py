"""A throwaway Wine prefix for the end-to-end scenarios and the demo.

A prefix is cloned from the build folder's template by scripts/wine-prefix
(which removes Z: and every link out of the prefix), gets sorvane.exe and
the e2e driver under C:\\sorvane, and is driven through the driver. The
caller provides the X display (scripts/run-e2e and scripts/demo start Xvfb
when there is none). Windows paths map to the prefix's drive_c.
"""
import os
import shutil
import subprocess
import tempfile
import time

import regfile

REPO = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
TOOL_DIR = "C:\\sorvane"
SCAN_RECORD = TOOL_DIR + "\\scan.txt"

def wine_arch():
    """win32, or win64 where the kernel refuses 32-bit programs (then the
    x86_64 builds run under wine64 through scripts/wine64)."""
    return subprocess.run([os.path.join(REPO, "scripts", "wine-arch")], check=True,
                          capture_output=True, text=True).stdout.strip()


WINE_ARCH = wine_arch()
# No Mono or Gecko installer prompts; and none of Wine's plug-and-play
# drivers (HID, USB, game controllers): no scenario uses a device, and their
# host process, winedevice.exe, crashed now and then at the start of a
# server session, its crash handler's console then writing HKCU\Console and
# a temporary file in C:\windows.
WINE_ENV = {
    "WINEARCH": WINE_ARCH,
    # Wine's own error messages are kept (in wine-stderr.log, and in the
    # message of a harness command that fails), so that such a failure says
    # why: twice in 35 runs a harness command exited 1 with nothing to say.
    "WINEDEBUG": os.environ.get("SORVANE_WINEDEBUG", "fixme-all"),
    "WINEDLLOVERRIDES": "mscoree,mshtml=;winebus.sys,winehid.sys,wineusb.sys,hidclass.sys=",
}
if WINE_ARCH == "win64":
    WINE_ENV["PATH"] = os.path.join(REPO, "scripts", "wine64") + os.pathsep + os.environ.get("PATH", "")


class Builds:
    """Where the built pieces are: the program, the driver, the helpers."""

    def __init__(self, build=None):
        build = os.path.abspath(build or os.path.join(REPO, os.environ.get("BUILD", "build")))
        self.build = build
        self.win32 = os.environ.get("SORVANE_WIN32_BUILD") or os.path.join(build, "win32")
        self.program = os.environ.get("SORVANE_EXE") or os.path.join(build, "program", "ui", "sorvane.exe")
        self.driver = os.path.join(self.win32, "tests", "e2e", "sorvane_e2e.exe")
        self.sleeper = os.path.join(self.win32, "tests", "wine", "sorvane_sleeper.exe")
        self.host = os.path.join(self.win32, "tests", "wine", "repair_host.exe")
        self.forge = os.path.join(build, "native", "tools", "forge", "forge")

    def missing(self):
        return [p for p in (self.program, self.driver, self.sleeper, self.host, self.forge)
                if not os.path.isfile(p)]


class WineError(Exception):
    pass


class Prefix:
    """One fresh prefix: BUILD/win32/wine/NAME."""

    def __init__(self, builds, name):
        self.builds = builds
        out = subprocess.run([os.path.join(REPO, "scripts", "wine-prefix"), "fresh", builds.win32, name],
                             check=True, stdout=subprocess.PIPE, text=True)
        self.path = out.stdout.strip()
        self.drive_c = os.path.join(self.path, "drive_c")
        if os.path.lexists(os.path.join(self.path, "dosdevices", "z:")):
            raise WineError("the prefix still maps Z: to the Unix root")
        self.env = dict(os.environ, WINEPREFIX=self.path, **WINE_ENV)
        # What every process of the prefix writes to stderr, Wine's crash
        # reports included (beside drive_c: no scan sees it).
        self.log = os.path.join(self.path, "wine-stderr.log")
        self.server = False
        tools = self.unix(TOOL_DIR)
        os.makedirs(tools, exist_ok=True)
        shutil.copy(builds.program, os.path.join(tools, "sorvane.exe"))
        shutil.copy(builds.driver, os.path.join(tools, "sorvane_e2e.exe"))
        # The driver's record of a scan: there before any listing, so that
        # the walk meets the same files as the listing.
        open(self.unix(SCAN_RECORD), "wb").close()

    # Paths ------------------------------------------------------------
    def unix(self, windows_path):
        """The host path of a C: path (letter case as written)."""
        assert windows_path[:3].upper() == "C:\\", windows_path
        rest = windows_path[3:].replace("\\", "/")
        return os.path.join(self.drive_c, rest) if rest else self.drive_c

    def write(self, windows_path, data):
        path = self.unix(windows_path)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)
        return path

    def exists(self, windows_path):
        return os.path.lexists(self.unix(windows_path))

    # Processes --------------------------------------------------------
    def start_server(self):
        subprocess.run(["wineserver", "-p"], env=self.env, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)
        self.server = True

    def stop_server(self):
        """Ends every process of the prefix and waits until the registry is
        saved. A Wine process that was starting while its server went down
        starts a server of its own (and with it a start-up of the prefix that
        the next session would then miss): that one is ended too, until
        `wineserver -k` finds none."""
        for _ in range(5):
            killed = subprocess.run(["wineserver", "-k"], env=self.env,
                                    stderr=subprocess.DEVNULL).returncode == 0
            subprocess.run(["wineserver", "-w"], env=self.env, stderr=subprocess.DEVNULL)
            if not killed:
                break
        self.server = False

    def log_errors(self, start=0, limit=20):
        """The last `err:` lines Wine wrote to the prefix's log after offset START."""
        try:
            with open(self.log, "rb") as f:
                f.seek(start)
                lines = f.read().decode(errors="replace").splitlines()
        except OSError:
            return []
        return [line for line in lines if ":err:" in line or line.startswith("err:")][-limit:]

    def log_size(self):
        try:
            return os.path.getsize(self.log)
        except OSError:
            return 0

    def wine(self, *args, timeout=120, check=False):
        """Runs `wine ARGS` from C:\\ and answers the CompletedProcess."""
        if not self.server:
            self.start_server()
        # Files, not pipes: the processes Wine starts in the background
        # inherit the handles and would hold a pipe open. Their stderr stays
        # the prefix's log, so a later crash of one of them is seen too.
        with tempfile.TemporaryFile() as out, open(self.log, "a+b") as err:
            start = err.seek(0, os.SEEK_END)
            code = subprocess.run(["wine", *args], env=self.env, cwd=self.drive_c, timeout=timeout,
                                  stdin=subprocess.DEVNULL, stdout=out, stderr=err).returncode
            out.seek(0)
            err.seek(start)
            done = subprocess.CompletedProcess(args, code, out.read(), err.read())
        if check and done.returncode != 0:
            raise WineError("wine %s exited %d: %s" % (" ".join(args), done.returncode,
                                                        done.stderr.decode(errors="replace")))
        return done

    def crashes(self):
        """Wine's reports of the processes of the prefix that crashed. Its
        crash handler opens a console, which adds HKCU\\Console and a
        temporary file in C:\\windows."""
        try:
            with open(self.log, encoding="latin-1") as f:
                return [line.rstrip("\n") for line in f if line.startswith("wine: Unhandled")]
        except FileNotFoundError:
            return []

    def driver(self, *args, timeout=120, check=True):
        return self.wine(TOOL_DIR + "\\sorvane_e2e.exe", *args, timeout=timeout, check=check)

    def spawn(self, exe, guard=False):
        """Starts EXE (a C: path) so that it keeps running; its process id."""
        args = ["spawn"] + (["--guard"] if guard else []) + [exe]
        return int(self.driver(*args).stdout.decode().strip())

    def alive(self, pid):
        return self.driver("alive", str(pid), check=False).returncode == 0

    def tree(self):
        """Every entry of C: in the walk's order: (attributes, size, path)."""
        out = TOOL_DIR + "\\tree.txt"
        self.driver("tree", "C:\\", out)
        with open(self.unix(out), encoding="latin-1") as f:
            rows = [line.rstrip("\n").split("\t") for line in f]
        os.remove(self.unix(out))
        rows = [(int(a, 16), int(s), unescape(p)) for a, s, p in rows]
        return [r for r in rows if r[2].lower() != out.lower()]

    def short(self, windows_path):
        return self.driver("short", windows_path).stdout.decode().strip()

    def scan(self, *options, timeout=240):
        """Runs sorvane.exe through the driver: the records it wrote, as (kind, fields)."""
        out = SCAN_RECORD
        started = time.monotonic()
        self.driver("scan", TOOL_DIR + "\\sorvane.exe", out, *options, timeout=timeout)
        with open(self.unix(out), encoding="latin-1") as f:
            records = [line.rstrip("\n").split("\t") for line in f]
        result = ScanResult([(r[0], [unescape(x) for x in r[1:]]) for r in records])
        result.wall_seconds = time.monotonic() - started
        return result

    def quiet(self, program, *args, twice=False, timeout=240):
        """An unattended run of PROGRAM ARGS through the driver (twice: a
        second one started while the first scans): its windows and exit codes."""
        out = SCAN_RECORD
        self.driver("quiet", out, program, *args, *(["--twice"] if twice else []), timeout=timeout)
        with open(self.unix(out), encoding="latin-1") as f:
            records = [line.rstrip("\n").split("\t") for line in f]
        return QuietResult(records)

    def text(self, windows_path):
        """A text file of the prefix as lines (CR LF ends), or None when missing."""
        try:
            with open(self.unix(windows_path), "rb") as f:
                return f.read().decode("latin-1").split("\r\n")
        except FileNotFoundError:
            return None

    # Registry ---------------------------------------------------------
    def seed(self, reg_text):
        """Loads REGEDIT4 text with regedit; the server is stopped after, so it is saved."""
        self.write(TOOL_DIR + "\\seed.reg", reg_text.replace("\n", "\r\n").encode("latin-1"))
        self.wine("regedit", "/s", TOOL_DIR + "\\seed.reg", check=True)
        os.remove(self.unix(TOOL_DIR + "\\seed.reg"))

    def registry(self):
        """The whole saved registry; stops the server first so that it is written."""
        self.stop_server()
        return regfile.load_prefix(self.path)

    def set_version(self, exe, version):
        self.seed('REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Wine\\AppDefaults\\%s]\n"Version"="%s"\n'
                  % (exe, version))

    def remove(self):
        subprocess.run([os.path.join(REPO, "scripts", "wine-prefix"), "remove", self.path],
                       stderr=subprocess.DEVNULL)


class ScanResult:
    """What the driver saw of one scan."""

    def __init__(self, records):
        self.records = records
        self.lines = [f[0] for k, f in records if k == "line"]
        self.prompts = [f for k, f in records if k == "prompt"]
        self.status = next((f[0] for k, f in records if k == "status"), None)
        self.exit_code = next((int(f[0]) for k, f in records if k == "exit"), None)
        self.seconds = next((float(f[0]) for k, f in records if k == "seconds"), None)
        self.running_after_answer = [f[0] == "1" for k, f in records if k == "running-after-answer"]
        self.cancelled_at = next((f[0] for k, f in records if k == "cancel"), None)

    def statistics(self):
        """(scanned, infected, removed) from the statistics block, or None."""
        numbers = []
        for label in ("Total files scanned", "Total files infected", "Total files removed"):
            found = [l for l in self.lines if l.startswith(label + "\t\t:  ")]
            if len(found) != 1:
                return None
            numbers.append(int(found[0].split(":  ", 1)[1]))
        return tuple(numbers)


class QuietResult:
    """What the driver saw of one or two unattended runs, by run number."""

    def __init__(self, records):
        self.windows = {1: [], 2: []}
        self.exit = {}
        self.first_running_at_second_end = None
        for r in records:
            if r[0] == "window":
                self.windows[int(r[1])].append(tuple(r[2:]))
            elif r[0] == "exit":
                self.exit[int(r[1])] = int(r[2])
            elif r[0] == "timeout":
                self.exit[int(r[1])] = "timeout"
            elif r[0] == "first-running-at-second-end":
                self.first_running_at_second_end = r[1] == "1"


def unescape(text):
    out, i = [], 0
    while i < len(text):
        c = text[i]
        if c == "\\" and i + 1 < len(text):
            out.append({"t": "\t", "r": "\r", "n": "\n", "\\": "\\"}.get(text[i + 1], text[i + 1]))
            i += 2
        else:
            out.append(c)
            i += 1
    return "".join(out)
