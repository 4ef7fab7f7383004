"""The end-to-end scenarios: the real sorvane.exe in a fresh Wine prefix
per scenario, checked from outside through the files, the registry and the
results list the driver reads from the window.
"""
import difflib
import hashlib
import os

import infection
import session
import winebox
from infection import SEP

TITLE = "Sorvane Ver 1.0"
RESTART = ("The system has to be restarted to remove the virus completely from your system. "
           "\n\n Restart now?")
TERMINATE = "Terminate the Scan now?"


class Check:
    def __init__(self):
        self.failures = []
        self.notes = []  # printed with the outcome, failed or not

    def equal(self, expected, actual, what):
        if expected != actual:
            self.failures.append("%s:\n  expected %r\n  actual   %r" % (what, expected, actual))

    def lines(self, expected, actual, what="results list"):
        if expected == actual:
            return
        diff = "\n".join("  " + l for l in difflib.unified_diff(expected, actual, "expected", "actual",
                                                                 lineterm="", n=1))
        self.failures.append("%s differs:\n%s" % (what, diff))

    def true(self, condition, what):
        if not condition:
            self.failures.append(what)


def expect_restart_question(check, o):
    """One restart question, after the statistics block and the final status;
    answered No, the program and the machine went on."""
    prompts = o.scan.prompts
    check.equal(1, len(prompts), "questions asked")
    if not prompts:
        return
    title, text, buttons, count, status = prompts[0]
    check.equal((TITLE, RESTART, "Yes,No"), (title, text, buttons), "restart question")
    check.equal(len(o.scan.lines), int(count), "results lines on screen when the question came")
    check.equal("Scanning completed", status, "status shown under the question")
    check.equal([True], o.scan.running_after_answer, "program still running after No")


def expect_files(check, prefix, machine):
    """Removed samples are gone; repaired ones and those left are there."""
    repaired = {r for r, _ in machine.hosts}
    for s in machine.samples:
        there = prefix.exists(s.path)
        if s.path in repaired or not s.outcome.endswith("removed"):
            check.true(there, "%s is gone" % s.path)
        else:
            check.true(not there, "%s is still there" % s.path)


def expect_repaired_hosts(check, prefix, machine):
    """Each repaired copy runs exactly as its host: same output, same exit
    code. Where this Wine runs 64-bit programs only, the 32-bit host cannot
    start (how it fails varies from run to run): the copy must then be the
    host byte for byte."""
    if winebox.WINE_ARCH != "win32":
        for repaired, host in machine.hosts:
            with open(prefix.unix(repaired), "rb") as a, open(prefix.unix(host), "rb") as b:
                check.true(a.read() == b.read(), "%s is %s byte for byte" % (repaired, host))
        return
    for repaired, host in machine.hosts:
        expected = prefix.wine(host)
        actual = prefix.wine(repaired)
        check.equal((expected.returncode, expected.stdout.replace(host.encode(), b"")),
                    (actual.returncode, actual.stdout.replace(repaired.encode(), b"")),
                    "%s runs as %s" % (repaired, host))


def expect_registry(check, o, machine):
    check.equal(sorted((k.lower(), n) for k, n in machine.swept), sorted(session.removed_entries(o)),
                "registry entries removed")
    check.equal([], o.added_keys, "registry keys added")
    check.equal([], o.changed_values, "registry values added or changed (besides the pending renames)")


def expect_untouched(check, o, machine, created=(), modified=()):
    """Every entry of the drive that is not a planted sample (or `modified`)
    keeps its attributes and size; only `created` entries are new."""
    planted = {s.path.lower() for s in machine.samples} | {winebox.SCAN_RECORD.lower()}
    planted |= {p.lower() for p in modified}
    before = {p.lower(): (a, n) for a, n, p in o.tree if p.lower() not in planted}
    after = {p.lower(): (a, n) for a, n, p in o.tree_after if p.lower() not in planted}
    new = sorted(set(after) - set(before))
    check.equal(sorted(c.lower() for c in created), new, "entries created by the scan")
    check.equal([], sorted(set(before) - set(after)), "entries gone besides the samples")
    changed = [p for p in before if p in after and before[p] != after[p]]
    check.equal([], changed, "entries whose attributes or size changed")


def summary(o):
    stats = o.scan.statistics() or ("?", "?", "?")
    return "%d lines, scanned/infected/removed %s/%s/%s, %d registry entries removed, %d pending" % (
        len(o.scan.lines), stats[0], stats[1], stats[2], len(session.removed_entries(o)), len(o.pending))


def expect_next_start(check, prefix, paths):
    """A new server session is Wine's next start: wineboot carries out the
    pending renames, so the deferred files go and the list is emptied.
    wineboot empties the list whether or not each operation succeeds, so a
    start after which the whole list is still there never reached it (seen
    once in CI): that start is noted, with what it printed, and made again
    once. A refused operation still fails: its file stays, the list goes."""
    before = session.pending_renames(prefix.registry())
    for attempt in (1, 2):
        logged = prefix.log_size()
        boot = prefix.driver("alive", "0", check=False)
        left = [path for path in paths if prefix.exists(path)]
        pending = session.pending_renames(prefix.registry())
        said = ("driver exit %d, stderr %r; Wine's errors: %s"
                % (boot.returncode, boot.stderr.decode(errors="replace")[-400:],
                   prefix.log_errors(logged) or "none"))
        if attempt == 1 and left and pending and pending == before:
            check.notes.append("the next start left the pending renames untouched (%s); started again" % said)
            continue
        break
    check.failures.extend("%s is still there after the next start" % path for path in left)
    check.equal([], pending, "pending renames after the next start")
    if left or pending:
        check.failures.append("the start: " + said)


def nt_family(builds, prefix, check):
    """The full demo infection on the NT family (Wine's default, Windows 7)."""
    m = infection.Machine(prefix, builds)
    infection.demo_infection(m)
    o = session.run(prefix, m)
    listed = {p: a for a, _, p in o.tree}
    for s in m.samples:
        if s.attributes:
            check.equal(s.attributes, listed.get(s.path, 0) & s.attributes, "attributes of %s" % s.path)
    stats = m.expected_statistics(o.tree)
    check.lines(m.expected_lines(o.tree) + session.statistics_block(*stats), o.scan.lines)
    check.equal("Scanning completed", o.scan.status, "final status")
    check.equal(0, o.scan.exit_code, "exit code after OK")
    expect_restart_question(check, o)
    guarded = [s.path for s in m.running() if s.guard]
    check.equal([("\\??\\" + p, "") for p in guarded], o.pending, "pending renames")
    check.equal({s.path: s.guard for s in m.running()}, o.alive, "planted processes still running")
    expect_files(check, prefix, m)
    expect_registry(check, o, m)
    expect_untouched(check, o, m)
    for repaired, host in m.hosts:
        with open(prefix.unix(repaired), "rb") as a, open(prefix.unix(host), "rb") as b:
            check.true(a.read() == b.read(), "%s is not byte-identical to its host" % repaired)
    expect_repaired_hosts(check, prefix, m)
    expect_next_start(check, prefix, guarded)
    return summary(o)


def refused_and_unkillable(builds, prefix, check):
    """A running copy whose process refuses termination: its deletion is
    refused, it is scheduled, the restart question follows the statistics,
    and No leaves the program and the machine running."""
    m = infection.Machine(prefix, builds)
    # Read-only: the removal at the next start must still be able to delete it.
    guarded = m.running_backdoor(r"C:\Program Files\Sync Agent\syncagent.exe", guard=True,
                                 attributes=infection.READONLY | infection.HIDDEN)
    m.clean_tree(r"C:\users\Public\Documents\Notes", 40, 3)
    o = session.run(prefix, m)
    line = guarded.path + SEP + guarded.name + " Unable to remove"
    check.lines([line] + session.statistics_block(*m.expected_statistics(o.tree)), o.scan.lines)
    # Infected counts the copy twice: the memory scan detects it (and cannot
    # end it), the walk detects it again.
    check.equal(2, (o.scan.statistics() or (0, 0, 0))[1], "files infected")
    expect_restart_question(check, o)
    check.equal([("\\??\\" + guarded.path, "")], o.pending, "pending renames")
    check.equal({guarded.path: True}, o.alive, "the guarded process runs on")
    check.true(prefix.exists(guarded.path), "the file is gone")
    after = {p: a for a, _, p in o.tree_after}
    check.equal(infection.HIDDEN, after.get(guarded.path, 0) & (infection.READONLY | infection.HIDDEN),
                "attributes of the file waiting for the next start")
    check.equal(0, o.scan.exit_code, "exit code after OK")
    expect_untouched(check, o, m)
    expect_next_start(check, prefix, [guarded.path])
    return summary(o)


def win9x_family(builds, prefix, check):
    """The demo infection with sorvane.exe set to Windows 98: removal through
    the Toolhelp route, wininit.ini rebuilt with the short path, and the
    entry carried out at the next start."""
    m = infection.Machine(prefix, builds)
    infection.demo_infection(m)
    guarded = [s for s in m.running() if s.guard]
    ini = "[rename]\r\nNUL=C:\\OLDSETUP.TMP\r\n[other]\r\nkept=1\r\n"
    short = []

    def plant_ini():
        # Wine's wineboot carries out wininit.ini (and renames it) at the
        # start of every server session: plant it inside the scan's session.
        prefix.write(r"C:\windows\wininit.ini", ini.encode())
        short.extend(prefix.short(s.path) for s in guarded)

    o = session.run(prefix, m, version="win98", before_scan=plant_ini)
    # wininit.ini is rebuilt through a copy in the temporary folder, which
    # the walk meets later (it lies under C:\users) and counts.
    created = [p for _, _, p in o.tree_after if p.lower().endswith("\\temp\\wininit.ini")]
    stats = m.expected_statistics(o.tree, nt=False, created=len(created))
    check.lines(m.expected_lines(o.tree, nt=False) + session.statistics_block(*stats), o.scan.lines)
    check.equal(1, len(created), "temporary copy of wininit.ini")
    expect_restart_question(check, o)
    check.equal([], o.pending, "pending renames (the 9x family has none)")
    with open(prefix.unix(r"C:\windows\wininit.ini"), "rb") as f:
        text = f.read().decode("latin-1")
    expected = ("[rename]\nNUL=C:\\OLDSETUP.TMP\n" + "".join("NUL=%s\r\n" % p for p in short)
                + "[other]\nkept=1\n")
    check.equal(expected, text, "wininit.ini")
    check.true(all(p != s.path and "~" in p for p, s in zip(short, guarded)), "short paths %r" % short)
    check.equal({s.path: s.guard for s in m.running()}, o.alive, "planted processes still running")
    expect_files(check, prefix, m)
    expect_registry(check, o, m)
    expect_untouched(check, o, m, created, [r"C:\windows\wininit.ini"])
    expect_repaired_hosts(check, prefix, m)
    # The next start: the first program of a new server session (the one
    # above where the hosts ran) starts the prefix, and wineboot carries
    # out the entries.
    prefix.wine("cmd", "/c", "exit")
    for s in guarded:
        check.true(not prefix.exists(s.path), "%s is still there after the next start" % s.path)
    check.true(prefix.exists(r"C:\windows\wininit.bak"), "wininit.ini was not carried out")
    return summary(o) + ", wininit.ini entries %r" % short


def memory_scan(builds, prefix, check):
    """A running infected process: found and ended by the memory scan, its
    image removed, and the drive walk goes on to the end."""
    m = infection.Machine(prefix, builds)
    running = m.running_backdoor(r"C:\users\Public\tray\trayicon.exe", run_entries=1)
    m.run_value("HKCU", "Tray", infection.reg_string(running.path))
    later = m.backdoor(r"C:\windows\Temp\later.exe", 17)
    m.clean_tree(r"C:\users\Public\Documents\Notes", 40, 4)
    o = session.run(prefix, m)
    expected = [infection.RUN_ENTRY, infection.MEMORY, running.path + SEP + infection.MEMORY_ROW + " removed",
                later.path + SEP + later.name + " removed"]
    check.lines(expected + session.statistics_block(*m.expected_statistics(o.tree)), o.scan.lines)
    check.equal({running.path: False}, o.alive, "the infected process runs")
    check.true(not prefix.exists(running.path), "its image is still there")
    check.true(not prefix.exists(later.path), "the walk did not remove the later copy")
    check.equal([], o.scan.prompts, "questions asked")
    check.equal([], o.pending, "pending renames")
    expect_registry(check, o, m)
    expect_untouched(check, o, m)
    return summary(o)


def cancel_during_walk(builds, prefix, check):
    """CANCEL in the middle of the walk: "Scanning terminated" and the
    statistics with the counts so far."""
    m = infection.Machine(prefix, builds)
    early = m.backdoor(r"C:\Archive\early.exe", 15)
    late = m.backdoor(r"C:\windows\Temp\late.exe", 16)
    # Thirty folders of notes; the second half's names tell the driver when
    # to press CANCEL (six hundred files, a wide mark for a 10 ms poll).
    for d in range(30):
        stem = "b-note" if d >= 15 else "a-note"
        for f in range(40):
            prefix.write(r"C:\Bulk\folder%02d\%s%02d.txt" % (d, stem, f), b"plain text %d %d\r\n" % (d, f))
    o = session.run(prefix, m, options=("--cancel-at", "\\b-note"))
    check.true(o.scan.cancelled_at is not None, "CANCEL was never pressed")
    prompts = o.scan.prompts
    check.equal(1, len(prompts), "questions asked")
    if not prompts:
        return
    check.equal((TITLE, TERMINATE, "Yes,No"), tuple(prompts[0][:3]), "cancel question")
    # The walk stops right after the entry shown when the question came.
    shown = prompts[0][4]
    paths = [p for _, _, p in o.tree]
    check.true(shown in paths, "the path shown at the question (%r) is an entry of the drive" % shown)
    upto = o.tree[:paths.index(shown) + 1] if shown in paths else []
    scanned = sum(1 for a, _, _ in upto if not a & 0x10)
    files = [p for a, _, p in o.tree if not a & 0x10]
    check.true(0 < scanned < len(files), "the walk stopped inside the drive")
    check.lines([early.path + SEP + early.name + " removed"] + session.statistics_block(scanned, 1, 1),
                o.scan.lines)
    check.equal("Scanning terminated", o.scan.status, "final status")
    check.true(not prefix.exists(early.path), "the copy before the cancel is still there")
    check.true(prefix.exists(late.path), "the copy after the cancel was removed")
    return summary(o) + " of %d files, stopped at %s" % (len(files), shown)


def clean_prefix(builds, prefix, check):
    """Nothing planted: only the statistics block, and every file of C:
    byte-identical afterwards, with the same attributes and times."""
    before = {}

    def fingerprint():
        before.update(drive_fingerprint(prefix))

    o = session.run(prefix, before_scan=fingerprint)
    after = drive_fingerprint(prefix)
    files = sum(1 for a, _, _ in o.tree if not a & 0x10)
    check.lines(session.statistics_block(files, 0, 0), o.scan.lines)
    check.equal("Scanning completed", o.scan.status, "final status")
    check.equal([], o.scan.prompts, "questions asked")
    changed = sorted(p for p in set(before) | set(after) if before.get(p) != after.get(p))
    check.equal([], changed, "files that changed")
    record = winebox.SCAN_RECORD.lower()
    listed = [{p: (a, n) for a, n, p in tree if p.lower() != record} for tree in (o.tree, o.tree_after)]
    differ = sorted(p for p in set(listed[0]) | set(listed[1]) if listed[0].get(p) != listed[1].get(p))
    check.equal([], differ, "entries whose attributes or size as Windows lists them changed")
    check.equal(([], [], [], []), (o.removed_keys, o.added_keys, o.removed_values, o.changed_values),
                "registry changes")
    return summary(o) + ", %d entries of C: compared" % len(before)


def drive_fingerprint(prefix):
    """Every file and folder of drive_c: content hash, mode, size, time and
    the stored DOS attributes. Left out: the driver's record of the scan,
    and the time of the driver's folder, where it writes its listings."""
    record = prefix.unix(winebox.SCAN_RECORD)
    tools = prefix.unix(winebox.TOOL_DIR)
    out = {}
    for folder, dirs, files in os.walk(prefix.drive_c):
        for name in dirs + files:
            path = os.path.join(folder, name)
            if path == record:
                continue
            st = os.lstat(path)
            try:
                dos = os.getxattr(path, "user.DOSATTRIB", follow_symlinks=False)
            except OSError:
                dos = None
            digest = None
            if name in files and not os.path.islink(path):
                h = hashlib.sha1()
                with open(path, "rb") as f:
                    for chunk in iter(lambda: f.read(1 << 20), b""):
                        h.update(chunk)
                digest = h.hexdigest()
            mtime = None if path == tools else st.st_mtime_ns
            out[os.path.relpath(path, prefix.drive_c)] = (digest, st.st_mode, st.st_size, mtime, dos)
    return out


SCENARIOS = [
    ("nt-family", nt_family),
    ("refused-and-unkillable", refused_and_unkillable),
    ("win9x-family", win9x_family),
    ("memory-scan", memory_scan),
    ("cancel-during-walk", cancel_during_walk),
    ("clean-prefix", clean_prefix),
]
