"""The built-in infected machine: what the forge plants on C: and in the
registry of a prefix, and the results lines the scan must show for it.

Everything planted is synthetic and inert: forged backdoor copies (two of
them padded copies of the harmless sleeper, so they run), archive worms,
copies of a small real host exe infected by the three worm variants,
script pages, and the registry values and marker keys of several worm
rules beside entries that must stay.
"""
import os
import re
import subprocess
import sys

from winebox import REPO

SEP = "     "  # between a file's path and its detection name
SWEEP = "System Registry     %s removed"
RUN_ENTRY = SWEEP % "W32/Murkel.Backdoor"
MEMORY = "System Memory    W32/Murkel.Backdoor removed"
MEMORY_ROW = "W32/Murkel.Trojan"
READONLY, HIDDEN = 0x1, 0x2


def record_names(data_file):
    """Detection names of a generated record table, numbered from 1."""
    with open(os.path.join(REPO, "scanners", data_file)) as f:
        return re.findall(r'^\s*\{"([^"]+)",', f.read(), re.M)


BACKDOOR_NAMES = record_names("backdoor_signatures_data.cpp")
ARCHIVE_NAMES = record_names("archive_signatures_data.cpp")
SCRIPT_NAMES = record_names("script_signatures_data.cpp")


class Sample:
    """One planted file the scan must report: its path, the detection name
    and the outcome its line ends with."""

    def __init__(self, path, name, outcome, run_entries=0, sweeps=True):
        self.path, self.name, self.outcome = path, name, outcome
        self.run_entries = run_entries  # Run values that launch this file
        self.sweeps = sweeps  # its detection runs the worm registry sweep
        self.running = self.guard = False  # a process runs it; it refuses termination
        self.attributes = None  # DOS attributes planted


# The worm rules seeded (a subset of the 32), in the sweep's order, with
# the lines their removal writes; plus entries no rule may touch.
WORM_ENTRIES = r'''
[HKEY_CURRENT_USER\Software\Microsoft\Windows\CurrentVersion\Run]
"d3dupdate.exe"="C:\\WINDOWS\\SYSTEM32\\BBEAGLE.EXE"
"gouday.exe"="C:\\WINDOWS\\system32\\readme.exe"
"rate.exe"="C:\\WINDOWS\\system32\\i1ru74n4.exe"
"gigabit.exe"="C:\\WINDOWS\\system32\\gigabit.exe"
"sysformat"="%sysdir%\\sysformat.exe"
"ctfmon.exe"="C:\\WINDOWS\\system32\\ctfmon.exe"
"bbeagle"="C:\\Temp\\bbeagle.exe"

[HKEY_CURRENT_USER\Software\Microsoft\Windows\CurrentVersion\Ru1n]
"erthgdr"="%sysdir%\\windll.exe"

[HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\CurrentVersion\Run]
"winshost.exe"="C:\\WINDOWS\\system32\\winshost.exe"
"erthgdr"="C:\\WINDOWS\\system32\\windll.exe"

[HKEY_CURRENT_USER\Software\Microsoft\Params]
"TimeKey"="1146324562"
"riga"="73"
"Other"="kept"

[HKEY_CURRENT_USER\Software\DateTime2]
[HKEY_CURRENT_USER\Software\DateTime3]
[HKEY_CURRENT_USER\Software\DateTime4]
[HKEY_CURRENT_USER\Software\DateTime5]
[HKEY_CURRENT_USER\Software\Windows2004]
"Marker"="1"
'''
SWEEP_LINES = [SWEEP % n for n in (
    "W32/Bagle.A.Worm",
    "W32/Bagle.C.Worm", "W32/Bagle.C.Worm", "W32/Bagle.D.Worm",
    "W32/Bagle.E.Worm", "W32/Bagle.E.Worm",
    "W32/Bagle.U.Worm", "W32/Bagle.U.Worm",
    "W32/Bagle.Al.Worm",
    "W32/Bagle.Ax.Worm", "W32/Bagle.Ax.Worm", "W32/Bagle.Ay.Worm",
    "W32/Bagle.Be.Worm")]
# (key, value or None for the key itself) that the sweep removes.
SWEPT = [
    ("HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Run", "d3dupdate.exe"),
    ("HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Run", "gouday.exe"),
    ("HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Run", "rate.exe"),
    ("HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Run", "gigabit.exe"),
    ("HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Run", "sysformat"),
    ("HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Ru1n", "erthgdr"),
    ("HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Run", "winshost.exe"),
    ("HKCU\\Software\\Microsoft\\Params", "TimeKey"),
    ("HKCU\\Software\\Microsoft\\Params", "riga"),
    ("HKCU\\Software\\DateTime2", None),
    ("HKCU\\Software\\DateTime3", None),
    ("HKCU\\Software\\DateTime4", None),
    ("HKCU\\Software\\Windows2004", None),
]


def reg_string(text):
    return '"%s"' % text.replace("\\", "\\\\").replace('"', '\\"')


def expand_sz(text):
    """A REG_EXPAND_SZ value as REGEDIT4 hex(2) data (8-bit text)."""
    return "hex(2):" + ",".join("%02x" % b for b in text.encode("latin-1") + b"\0")


class Machine:
    """Plants samples and registry entries into `prefix` with the forge and
    knows what the scan must make of them."""

    def __init__(self, prefix, builds):
        self.prefix, self.builds = prefix, builds
        self.samples = []  # in the order planted
        self.registry = ["REGEDIT4", ""]
        self.swept = []  # registry entries the scan must remove
        self.sweep_lines = []
        self.hosts = []  # (repaired exe, host exe) pairs that must run alike
        self.pids = {}

    # Files ------------------------------------------------------------
    def forge(self, *args):
        subprocess.run([self.builds.forge, *args], check=True, stdout=subprocess.DEVNULL)

    def _target(self, path):
        target = self.prefix.unix(path)
        os.makedirs(os.path.dirname(target), exist_ok=True)
        return target

    def backdoor(self, path, record, run_entries=0, attributes=None):
        self.forge("backdoor", str(record), self._target(path))
        if attributes:
            self.attributes(path, attributes)
        sample = Sample(path, BACKDOOR_NAMES[record - 1], "removed", run_entries)
        sample.attributes = attributes
        self.samples.append(sample)
        return sample

    def running_backdoor(self, path, guard=False, run_entries=0, attributes=None):
        """A sleeper padded to a record, started before the scan. A guarded
        one refuses termination, so it stays and its removal is deferred."""
        record = int(subprocess.run([self.builds.forge, "find-record", self.builds.sleeper], check=True,
                                    stdout=subprocess.PIPE, text=True).stdout.split()[0])
        self.forge("backdoor", str(record), self._target(path), "--from", self.builds.sleeper)
        if attributes:
            self.attributes(path, attributes)
        sample = Sample(path, BACKDOOR_NAMES[record - 1], "Unable to remove" if guard else "removed",
                        run_entries)
        sample.running, sample.guard = True, guard
        sample.attributes = attributes
        self.samples.append(sample)
        return sample

    def zip_worm(self, path, variant):
        self.forge("zip-worm", variant, self._target(path))
        self.samples.append(Sample(path, "W32/Bagle.%s.Worm" % variant, "removed", sweeps=False))

    def rar_worm(self, path, variant):
        self.forge("rar-worm", variant, self._target(path))
        self.samples.append(Sample(path, "W32/Bagle.%s.Worm" % variant, "removed", sweeps=False))

    def archive_record(self, path, record):
        self.forge("archive-record", str(record), self._target(path))
        self.samples.append(Sample(path, ARCHIVE_NAMES[record - 1], "removed"))

    def worm(self, path, variant, host):
        self.forge("worm", variant, self.prefix.unix(host), self._target(path))
        self.samples.append(Sample(path, "W32/Bagle.%s.Worm" % variant, "Virus removed"))
        self.hosts.append((path, host))

    def script(self, path, record):
        self.forge("script", str(record), self._target(path))
        self.samples.append(Sample(path, SCRIPT_NAMES[record - 1], "Virus removed", sweeps=False))

    def host(self, path):
        with open(self.builds.host, "rb") as f:
            self.prefix.write(path, f.read())

    def clean_tree(self, path, count, seed):
        subprocess.run([sys.executable, os.path.join(REPO, "tools", "make_tree.py"), self.prefix.unix(path),
                        str(count), "--seed", str(seed)], check=True)

    def attributes(self, path, attributes):
        """Sets DOS attributes the way Wine keeps them: read-only as a file
        mode without write permission, the others in user.DOSATTRIB."""
        target = self.prefix.unix(path)
        if attributes & READONLY:
            os.chmod(target, os.stat(target).st_mode & ~0o222)
        os.setxattr(target, "user.DOSATTRIB", b"0x%x" % (attributes & ~READONLY))

    # Registry ---------------------------------------------------------
    def reg(self, text):
        self.registry.append(text.strip("\n"))
        self.registry.append("")

    def worm_entries(self):
        self.reg(WORM_ENTRIES)
        self.swept += SWEPT
        self.sweep_lines = list(SWEEP_LINES)

    def run_value(self, root, name, data, swept=True):
        key = "Software\\Microsoft\\Windows\\CurrentVersion\\Run"
        hive = {"HKCU": "HKEY_CURRENT_USER", "HKLM": "HKEY_LOCAL_MACHINE"}[root]
        self.reg("[%s\\%s]\n%s=%s" % (hive, key, reg_string(name), data))
        if swept:
            self.swept.append((root + "\\" + key, name))

    def seed(self):
        self.prefix.seed("\n".join(self.registry) + "\n")

    def start_processes(self):
        for sample in self.running():
            self.pids[sample.path] = self.prefix.spawn(sample.path, guard=sample.guard)

    def running(self):
        return [s for s in self.samples if s.running]

    # Expectations -----------------------------------------------------
    # On the NT family the memory scan meets the running copies first: it
    # ends and removes the one it can end (under the row's name, after the
    # "System Memory" line), and detects the guarded one without a line; the
    # walk then finds the guarded one again. On the 9x family Wine's Toolhelp
    # names processes without their folders, so the memory scan examines
    # nothing and the walk finds every running copy.
    def in_memory_pass(self, sample, nt):
        return nt and sample.running

    def expected_lines(self, tree, nt=True):
        """The results list before the statistics block, given the walk's order."""
        lines = []
        swept = [False]

        def sweep(detects):
            if detects and not swept[0]:
                swept[0] = True
                lines.extend(self.sweep_lines)

        for sample in self.samples:
            if self.in_memory_pass(sample, nt):
                sweep(True)
                lines.extend([RUN_ENTRY] * sample.run_entries)
                if not sample.guard:
                    lines += [MEMORY, sample.path + SEP + MEMORY_ROW + " removed"]
        by_path = {s.path.lower(): s for s in self.samples}
        for _, _, path in tree:
            sample = by_path.get(path.lower())
            if sample and not (self.in_memory_pass(sample, nt) and not sample.guard):
                sweep(sample.sweeps)
                lines.extend([] if self.in_memory_pass(sample, nt) else [RUN_ENTRY] * sample.run_entries)
                lines.append(sample.path + SEP + sample.name + " " + sample.outcome)
        return lines

    def expected_statistics(self, tree, nt=True, created=0):
        """(scanned, infected, removed) for the walk over `tree`, with
        `created` files that appear before the walk reaches them."""
        ended = {s.path.lower() for s in self.samples if self.in_memory_pass(s, nt) and not s.guard}
        scanned = sum(1 for a, _, p in tree if not a & 0x10 and p.lower() not in ended) + created
        infected = len(self.samples) + sum(1 for s in self.samples if self.in_memory_pass(s, nt) and s.guard)
        removed = sum(1 for s in self.samples if s.outcome.endswith("removed"))
        return scanned, infected, removed


def demo_infection(m):
    """The demo's machine: every kind of sample the scan handles, planted
    where users meet them, with the registry entries the worms leave."""
    m.worm_entries()
    # Running copies of the backdoor: one the memory scan ends and removes,
    # launched by a Run value; one whose process refuses termination.
    m.running_backdoor(r"C:\ProgramData\Svc\svchosts.exe", run_entries=1)
    m.run_value("HKCU", "Service Host", reg_string('"C:\\ProgramData\\Svc\\svchosts.exe" -service'))
    m.running_backdoor(r"C:\ProgramData\Updates\msupd.exe", guard=True)
    # Copies at rest: under Program Files (launched through a Run value that
    # names it with a variable), read-only and hidden in Downloads.
    m.backdoor(r"C:\Program Files\Common Files\Updater\winupdt.exe", 6, run_entries=1)
    m.run_value("HKLM", "Updater", expand_sz(r"%ProgramFiles%\Common Files\Updater\winupdt.exe /silent"))
    m.run_value("HKLM", "Updater (old)", reg_string(r"C:\Program Files\Common Files\Updater\winupdt.ex"),
                swept=False)
    m.backdoor(r"C:\users\Public\Downloads\holiday-photos.exe", 14, attributes=READONLY | HIDDEN)
    # Mail attachments: archive worms.
    mail = r"C:\users\Public\Documents\Mail"
    m.zip_worm(mail + r"\invoice.zip", "H")
    m.zip_worm(mail + r"\price-list.zip", "Aa")
    m.rar_worm(mail + r"\report.rar", "O")
    m.archive_record(mail + r"\photos.zip", 3)
    # A small program and three copies infected by the worm variants.
    tools = r"C:\Tools"
    m.host(tools + r"\calc.exe")
    for variant in "NOQ":
        m.worm(tools + r"\calc-%s.exe" % variant.lower(), variant, tools + r"\calc.exe")
    # Script files and a web page the worms leave.
    web = r"C:\users\Public\Documents\Web"
    m.script(web + r"\index.htm", 12)
    m.script(web + r"\greeting.vbs", 1)
    m.script(web + r"\menu.js", 9)
    # Ordinary files around them.
    m.clean_tree(r"C:\users\Public\Documents\Archive", 150, 7)
