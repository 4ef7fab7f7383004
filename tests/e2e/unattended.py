"""End-to-end scenarios of the unattended run: sorvane.exe /quiet on a
planted machine, watched from outside through the window list, its exit
code, its log and its JSON report.
"""
import json
import re

import infection
import scenarios
import session
import winebox

PROGRAM = winebox.TOOL_DIR + "\\sorvane.exe"
DEFAULT_LOG = r"C:\windows\sorvane.log"
REPORT = winebox.TOOL_DIR + "\\report.json"
RESTART = ("Question: The system has to be restarted to remove the virus completely from your system. "
           "Restart now?")
RESTART_NEEDED = "Restart needed: the system has to be restarted to remove the virus completely"
MEMORY_QUESTION = ("Question: W32/Murkel.Backdoor found in memory! registry entries created by the worm are "
                   "removed. You must restart the computer and run this program to continue scanning. "
                   "Restart the computer now?")
ENDED_EARLY = ("The memory scan could not end an infected process; the scan ends here. "
               "Restart the computer and scan again.")
EXIT_LINES = {0: "Exit code: 0 (nothing found)", 1: "Exit code: 1 (found, everything cleaned)",
              2: "Exit code: 2 (found, something left)", 3: "Exit code: 3 (the scan could not be made)"}


def quiet(prefix, *args, twice=False):
    # The driver's record file is on C: from the start (see winebox), so the
    # walk meets the same files as the listing taken before.
    return prefix.quiet(PROGRAM, *args, twice=twice)


def expect_header(check, log, switches):
    """Title, date, machine name, version and the switches, then a blank line."""
    check.true(log is not None and len(log) > 6, "no log was written")
    if not log or len(log) <= 6:
        return []
    check.equal("Sorvane Ver 1.0 - unattended scan", log[0], "log title")
    check.true(re.fullmatch(r"Date:     \d{4}-\d\d-\d\d \d\d:\d\d:\d\d", log[1]), "log date line %r" % log[1])
    check.true(re.fullmatch(r"Machine:  \S.*", log[2]), "log machine line %r" % log[2])
    check.equal("Version:  1.0.0.0", log[3], "log version line")
    check.equal("Switches: " + switches, log[4], "log switches line")
    check.equal("", log[5], "blank line after the header")
    return log[6:]


def expect_log(check, log, switches, results, tail):
    """The header, the results list as the window shows it, the status and
    what follows it (questions, restart note, exit code)."""
    body = expect_header(check, log, switches)
    check.lines(results + [""] + tail + [""], body, "log after the header")


def created_count(tree, *paths):
    listed = {p.lower() for _, _, p in tree}
    return sum(1 for p in paths if p.lower() not in listed)


def quiet_cleaned(builds, prefix, check):
    """Removable copies only: no window, exit 1, the default log and the
    JSON report with the results, statistics, status and exit code."""
    m = infection.Machine(prefix, builds)
    m.backdoor(r"C:\Archive\old.exe", 15)
    setup = m.backdoor(r"C:\users\Public\Downloads\setup.exe", 16, run_entries=1)
    m.run_value("HKCU", "Setup", infection.reg_string(setup.path))
    m.clean_tree(r"C:\users\Public\Documents\Notes", 40, 5)
    session.prepare(prefix, m)
    tree = prefix.tree()
    q = quiet(prefix, "/quiet", "/report", REPORT)
    check.equal([], q.windows[1], "windows of the unattended run")
    check.equal({1: 1}, q.exit, "exit code")
    stats = m.expected_statistics(tree, created=created_count(tree, DEFAULT_LOG, REPORT))
    lines = m.expected_lines(tree)
    block = session.statistics_block(*stats)
    expect_log(check, prefix.text(DEFAULT_LOG), "/quiet /report " + REPORT, lines + block,
               ["Status: Scanning completed", "Report:   " + REPORT, EXIT_LINES[1]])
    for s in m.samples:
        check.true(not prefix.exists(s.path), "%s is still there" % s.path)
    with open(prefix.unix(REPORT), encoding="utf-8") as f:
        report = json.load(f)
    check.equal(lines, [r["line"] for r in report.get("results", [])], "report results")
    check.equal([(s.path, s.name, "removed") for s in m.samples],
                [(r["path"], r["detection"], r["outcome"]) for r in report.get("results", [])
                 if r["path"] != "System Registry"], "report files")
    registry = [r.get("registry") for r in report.get("results", []) if r["path"] == "System Registry"]
    check.equal([[{"hive": "", "key": "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Run",
                   "removed": "value", "value": "Setup"}]], registry, "report registry removals")
    check.equal({"files_scanned": stats[0], "files_infected": stats[1], "files_removed": stats[2],
                 "files_disinfected": 0}, report.get("statistics"), "report statistics")
    check.equal(("Scanning completed", [], 1), (report.get("status"), report.get("pending_renames"),
                                                report.get("exit_code")), "report status, renames, exit code")
    return "exit 1, %d lines, %d files scanned" % (len(lines), stats[0])


def quiet_left_and_restart(builds, prefix, check):
    """A running copy that refuses to end. While the window program asks its
    restart question, /quiet is refused (3). /quiet with /log: exit 2, No to
    the restart, the log says a restart is needed. /quiet /restart: Yes, the
    restart ends the prefix's processes, and the next start removes the file."""
    m = infection.Machine(prefix, builds)
    guarded = m.running_backdoor(r"C:\Program Files\Sync Agent\syncagent.exe", guard=True)
    m.clean_tree(r"C:\users\Public\Documents\Notes", 40, 6)
    session.prepare(prefix, m)
    m.start_processes()
    second_log = winebox.TOOL_DIR + "\\second.log"
    o = prefix.scan("--second", "/quiet /log " + second_log)
    seconds = [f[0] for k, f in o.records if k == "second"]
    check.equal(["3"], seconds, "exit code of /quiet while the window program scans")
    second = prefix.text(second_log) or []
    check.true("Not scanned: another scan is running (the program's window or another /quiet run)" in second,
               "the refused run's log: %r" % second)

    run_log = winebox.TOOL_DIR + "\\run.log"
    tree = prefix.tree()
    # Wine carries out a forced restart as "wineboot --kill" (which ends
    # nothing here: the guarded process refuses, and there is no desktop to
    # close); its start, traced, shows that the restart was asked for.
    prefix.env["WINEDEBUG"] += ",+process"
    logged = prefix.log_size()
    q = quiet(prefix, "/QUIET", "/log", run_log)
    check.equal([], q.windows[1], "windows of the unattended run")
    check.equal({1: 2}, q.exit, "exit code")
    stats = m.expected_statistics(tree, created=created_count(tree, run_log))
    expect_log(check, prefix.text(run_log), "/QUIET /log " + run_log,
               m.expected_lines(tree) + session.statistics_block(*stats),
               ["Status: Scanning completed", RESTART, "Answer:   No (no /restart)", RESTART_NEEDED,
                EXIT_LINES[2]])
    check.true(prefix.text(DEFAULT_LOG) is None, "the default log was written beside /log")
    check.true(prefix.alive(m.pids[guarded.path]), "the guarded process was ended without a restart")

    check.equal([], restarts(prefix, logged), "restarts asked for without /restart")
    tree = prefix.tree()
    logged = prefix.log_size()
    prefix.driver("quiet", winebox.SCAN_RECORD, PROGRAM, "/quiet", "/restart", check=False)
    prefix.env["WINEDEBUG"] = winebox.WINE_ENV["WINEDEBUG"]
    check.equal(1, len(restarts(prefix, logged)), "restarts asked for with /restart")
    stats = m.expected_statistics(tree, created=created_count(tree, DEFAULT_LOG))
    expect_log(check, prefix.text(DEFAULT_LOG), "/quiet /restart",
               m.expected_lines(tree) + session.statistics_block(*stats),
               ["Status: Scanning completed", RESTART, "Answer:   Yes (/restart given)", RESTART_NEEDED,
                EXIT_LINES[2]])
    scenarios.expect_next_start(check, prefix, [guarded.path])
    return "window scan + refused /quiet, /quiet exit 2, /quiet /restart"


def restarts(prefix, offset):
    """Wine's forced restarts started after OFFSET in the prefix's log."""
    with open(prefix.log, "rb") as f:
        f.seek(offset)
        text = f.read().decode("latin-1")
    return re.findall(r"CreateProcessInternalW app [^\n]*wineboot\.exe\" cmdline [^\n]*--kill", text)


def quiet_memory_question(builds, prefix, check):
    """On the NT 5 family (Windows XP) a running copy that refuses to end
    makes the memory scan ask its question and end the program, after it
    has ended and removed the copy it could end. /quiet answers as the
    restart question: Cancel without /restart, OK (a restart asked for)
    with it; either way exit 2, and the walk never runs."""
    m = infection.Machine(prefix, builds)
    tray = m.running_backdoor(r"C:\users\Public\tray\trayicon.exe", run_entries=1)
    m.run_value("HKCU", "Tray", infection.reg_string(tray.path))
    guarded = m.running_backdoor(r"C:\Program Files\Sync Agent\syncagent.exe", guard=True)
    rest = m.backdoor(r"C:\Archive\old.exe", 15)
    session.prepare(prefix, m, version="winxp")
    m.start_processes()
    # The lines the window shows when the question comes.
    shown = [infection.RUN_ENTRY, infection.MEMORY, tray.path + infection.SEP + infection.MEMORY_ROW + " removed"]
    prefix.env["WINEDEBUG"] += ",+process"
    logged = prefix.log_size()
    q = quiet(prefix, "/quiet")
    check.equal(([], {1: 2}), (q.windows[1], q.exit), "windows and exit code without /restart")
    log = prefix.text(DEFAULT_LOG)
    check.lines(shown + [MEMORY_QUESTION, "Answer:   Cancel (no /restart)", ENDED_EARLY, RESTART_NEEDED,
                         EXIT_LINES[2], ""], expect_header(check, log, "/quiet"), "log without /restart")
    check.equal([], restarts(prefix, logged), "restarts asked for without /restart")
    check.equal((False, True), (prefix.alive(m.pids[tray.path]), prefix.alive(m.pids[guarded.path])),
                "the ended copy and the guarded one running")
    check.equal((False, True, True), tuple(prefix.exists(s.path) for s in (tray, guarded, rest)),
                "files of the ended copy, the guarded one and the one the walk would meet")

    logged = prefix.log_size()
    q = quiet(prefix, "/quiet", "/restart", "/report", REPORT)
    prefix.env["WINEDEBUG"] = winebox.WINE_ENV["WINEDEBUG"]
    check.equal(([], {1: 2}), (q.windows[1], q.exit), "windows and exit code with /restart")
    check.equal(1, len(restarts(prefix, logged)), "restarts asked for with /restart")
    log = prefix.text(DEFAULT_LOG)
    check.lines([MEMORY_QUESTION, "Answer:   OK (/restart given)", ENDED_EARLY, RESTART_NEEDED,
                 "Report:   " + REPORT, EXIT_LINES[2], ""],
                expect_header(check, log, "/quiet /restart /report " + REPORT), "log with /restart")
    with open(prefix.unix(REPORT), encoding="utf-8") as f:
        report = json.load(f)
    check.equal(([], "", [], 2), (report.get("results"), report.get("status"), report.get("pending_renames"),
                                  report.get("exit_code")), "report results, status, renames, exit code")
    check.equal((True, True), (prefix.exists(guarded.path), prefix.exists(rest.path)), "files left")
    return "memory question: /quiet exit 2 (Cancel), /quiet /restart exit 2 (OK, one restart)"


def quiet_refused(builds, prefix, check):
    """Exit 3 without a window: an unknown switch (named in the log), a log
    or report that cannot be written, and a second run while one scans."""
    m = infection.Machine(prefix, builds)
    m.clean_tree(r"C:\Bulk", 1200, 7)
    session.prepare(prefix, m)
    cases = [
        (("/quiet", "/bogus"), "Not scanned: unknown switch: /bogus", DEFAULT_LOG),
        (("/restart",), "Not scanned: /restart, /log and /report need /quiet", DEFAULT_LOG),
        (("/quiet", "/log"), "Not scanned: /log needs a file name", DEFAULT_LOG),
        (("/quiet", "/log", r"C:\missing\x.log"), None, None),
        (("/quiet", "/report", r"C:\missing\r.json"), "Not scanned: the report cannot be written: "
         r"C:\missing\r.json", DEFAULT_LOG),
    ]
    for args, line, log in cases:
        q = quiet(prefix, *args)
        check.equal(({1: 3}, []), (q.exit, q.windows[1]), "exit code and windows of %s" % " ".join(args))
        if line:
            text = prefix.text(log) or []
            check.equal([line, EXIT_LINES[3], ""], text[6:], "log of %s" % " ".join(args))
    q = quiet(prefix, "/quiet", twice=True)
    check.equal({1: 0, 2: 3}, q.exit, "exit codes of two runs at once")
    check.equal(([], []), (q.windows[1], q.windows[2]), "windows of the two runs")
    check.true(q.first_running_at_second_end, "the first run had ended before the second was refused")
    check.equal(EXIT_LINES[0], (prefix.text(DEFAULT_LOG) or ["", ""])[-2], "the first run's log, end")
    return "%d refused command lines, a second run refused" % len(cases)


SCENARIOS = [
    ("quiet-cleaned", quiet_cleaned),
    ("quiet-left-and-restart", quiet_left_and_restart),
    ("quiet-refused", quiet_refused),
    ("quiet-memory-question", quiet_memory_question),
]
