#!/usr/bin/env python3
"""The demo: sorvane.exe under Wine on a built-in infected machine.

Makes a throwaway prefix (BUILD/win32/wine/demo), plants the synthetic
infection of infection.demo_infection, runs sorvane.exe, presses SCAN and
follows the scan to its end (the restart question is answered No, so the
prefix lives on), then prints what happened: the results list, the
registry entries removed, the pending renames, the restart question, the
repaired programs run beside their host, and what the next start removes.
Screenshots go to BUILD/demo/ (with --docs also to docs/screenshots/ for
the README). Needs an X display (scripts/demo gives one).
"""
import os
import shutil
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import infection  # noqa: E402
import regfile  # noqa: E402
import session  # noqa: E402
import winebox  # noqa: E402


def heading(text):
    print("\n== " + text)


def show_value(key, name, data):
    return "  %s  \"%s\" = %s" % (key, name, regfile.text_of(data))


def main(args):
    update_docs = "--docs" in args
    started = time.monotonic()
    builds = winebox.Builds()
    missing = builds.missing()
    if missing:
        print("demo: build first (make native win32 program); missing: %s" % ", ".join(missing))
        return 2
    out_dir = os.path.join(builds.build, "demo")
    shutil.rmtree(out_dir, ignore_errors=True)
    os.makedirs(out_dir)
    prefix = winebox.Prefix(builds, "demo")
    try:
        return run(builds, prefix, out_dir, started, update_docs)
    finally:
        prefix.stop_server()


def run(builds, prefix, out_dir, started, update_docs):
    if winebox.WINE_ARCH == "win64":
        print("demo: this machine runs no 32-bit Wine (its kernel refuses 32-bit programs or"
              " wine32 is not installed), so the demo runs the x86_64 build of sorvane.exe"
              " (the same sources) under wine64")
    m = infection.Machine(prefix, builds)
    infection.demo_infection(m)
    heading("The infected machine (prefix %s)" % os.path.relpath(prefix.path, winebox.REPO))
    for s in m.samples:
        what = "running, refuses termination" if s.guard else "running" if s.running else ""
        print("  %-52s %s%s" % (s.path, s.name, " (%s)" % what if what else ""))
    print("  and %d registry entries of worm rules and Run values, beside entries that must stay"
          % len(m.swept))

    o = session.run(prefix, m, options=("--shot", "demo"))
    ok = True

    heading("Results list of sorvane.exe (%.1f s from SCAN to the end)" % o.scan.seconds)
    for line in o.scan.lines:
        print("  " + line.expandtabs(8))
    print("  [status] %s" % o.scan.status)
    expected = m.expected_lines(o.tree) + session.statistics_block(*m.expected_statistics(o.tree))
    if o.scan.lines != expected:
        ok = False
        print("  !! the list differs from what this machine must give:")
        for line in expected:
            print("  !!   " + line.expandtabs(8))

    heading("Registry entries removed (saved registry before and after)")
    for key in o.removed_keys:
        print("  %s  (key)" % key)
    removed_keys = {k.lower() for k in o.removed_keys}
    for key, name, data in o.removed_values:
        if key.lower() not in removed_keys:
            print(show_value(key, name, data))
    if o.added_keys or o.changed_values:
        ok = False
        print("  !! also changed: %r %r" % (o.added_keys, o.changed_values))
    if sorted(session.removed_entries(o)) != sorted((k.lower(), n) for k, n in m.swept):
        ok = False
        print("  !! not exactly the planted entries")

    heading("Pending renames (PendingFileRenameOperations)")
    for source, target in o.pending or [("(none)", "")]:
        print("  %s -> %s" % (source, target or "(delete)"))

    heading("Restart question")
    if o.scan.prompts:
        title, text, buttons, count, status = o.scan.prompts[0]
        after = int(count) == len(o.scan.lines) and status == "Scanning completed"
        print("  asked%s: %r [%s]" % (" after the statistics" if after else "", text, buttons))
        print("  answered No (Yes would end every process of the prefix, as a restart does);"
              " program still running after the answer: %s"
              % ("yes" if all(o.scan.running_after_answer) else "NO"))
    else:
        print("  not asked")
    for path, running in o.alive.items():
        print("  %s: %s" % (path, "still running" if running else "ended"))

    heading("Repaired programs against their host")
    for repaired, host in m.hosts:
        with open(prefix.unix(repaired), "rb") as a, open(prefix.unix(host), "rb") as b:
            same = a.read() == b.read()
        ok = ok and same
        print("  %-24s %s %s" % (repaired, "byte for byte" if same else "!! DIFFERS from", host))
    if winebox.WINE_ARCH == "win32":
        hosts = sorted({h for _, h in m.hosts})
        for program in hosts + [r for r, _ in m.hosts]:
            done = prefix.wine(program)
            print("  %-24s exit %d, prints %r" % (program, done.returncode,
                                                   done.stdout.decode(errors="replace").strip()))
    else:
        print("  (not run: the host is a 32-bit program, and this Wine runs 64-bit ones only)")

    heading("Next start (a new Wine session: wineboot carries out the pending renames)")
    prefix.stop_server()
    prefix.driver("alive", "0", check=False)
    for source, _ in o.pending:
        path = source[4:] if source.startswith("\\??\\") else source
        print("  %s: %s" % (path, "still there" if prefix.exists(path) else "removed"))
    print("  pending renames left: %d" % len(session.pending_renames(prefix.registry())))

    heading("Screenshots")
    docs = os.path.join(winebox.REPO, "docs", "screenshots")
    for name in ("demo", "demo-list", "demo-restart"):
        bmp = prefix.unix(winebox.TOOL_DIR + "\\shots\\%s.bmp" % name)
        png = os.path.join(out_dir, "sorvane-%s.png" % name)
        if os.path.exists(bmp) and subprocess.run(["convert", bmp, "-strip", png]).returncode == 0:
            print("  " + os.path.relpath(png, winebox.REPO))
            if update_docs:
                shutil.copy(png, os.path.join(docs, "%s.png" % name))
                print("    copied to docs/screenshots/%s.png" % name)
        else:
            print("  %s: none taken" % name)

    print("\ndemo: %s in %.0f s" % ("done" if ok else "FAILED", time.monotonic() - started))
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
