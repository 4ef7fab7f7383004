#!/usr/bin/env python3
"""Integrity over real corpora: clean files that no one here wrote are
scanned and must come out untouched.

usage: integrity.py --native BUILD [--win32 BUILD --program BUILD]
                    [--reduced] [--work DIR] [--no-wine]

Copies real trees of this machine into a scratch folder: Wine's own
Windows DLLs and exes, the documentation and JavaScript libraries Debian
packages install, and a Debian source tree (GoogleTest's, from the
googletest package). Records every file's hash, mode, size, times and
extended attributes, scans, and compares. Expected: no detection, no line
but the statistics block ("Total files scanned" equal to the files
there), "Scanning completed", and every file and folder as before.
Natively with sorvane-offline over the scratch folder; under Wine with
sorvane.exe (driven through its window) over the whole C: drive of a
throwaway prefix, its Windows folder included. --reduced takes a fixed
subset of the corpora and only files every fresh machine has after
scripts/install-deps (the version make test runs, under a minute).
Exit code 0 when everything is untouched, 1 otherwise.
"""
import argparse
import hashlib
import os
import shutil
import stat
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import run_bench  # noqa: E402  (the Wine session and the run helper)

WINE_PE = "/usr/lib/i386-linux-gnu/wine/i386-windows"
DOCS = "/usr/share/doc"
JAVASCRIPT = "/usr/share/javascript"
SOURCE_TREE = "/usr/src/googletest"

STATISTICS = ["Scanning statistics", "-" * 30]


def log(*args):
    print("integrity:", *args, file=sys.stderr, flush=True)


def pick(files, limit):
    """A fixed, spread subset: every k-th of the sorted files."""
    files = sorted(files)
    if limit is None or len(files) <= limit:
        return files
    step = len(files) / float(limit)
    return [files[int(i * step)] for i in range(limit)]


def regular_files(root, keep=lambda path: True):
    found = []
    for folder, _, names in os.walk(root):
        for name in names:
            path = os.path.join(folder, name)
            if os.path.isfile(path) and not os.path.islink(path) and keep(path):
                found.append(path)
    return found


def corpora(reduced):
    """(label, source root, files) of every corpus present on this machine."""
    out = []
    pe = regular_files(WINE_PE)
    out.append(("Wine's Windows DLLs and exes", WINE_PE, pick(pe, 150 if reduced else None)))
    text_ext = (".txt", ".html", ".htm", ".md", ".js", ".css", ".xml", ".json", ".rst", ".gz")
    docs = regular_files(DOCS, lambda p: p.lower().endswith(text_ext) or "." not in os.path.basename(p))
    out.append(("package documentation", DOCS, pick(docs, 400 if reduced else None)))
    if not reduced and os.path.isdir(JAVASCRIPT):
        out.append(("JavaScript libraries", JAVASCRIPT, regular_files(JAVASCRIPT)))
    out.append(("a Debian source tree (googletest)", SOURCE_TREE, regular_files(SOURCE_TREE)))
    return [c for c in out if c[2]]


def copy_corpora(chosen, dest):
    """Copies each corpus below dest/NAME keeping modes and times."""
    total = 0
    for index, (label, root, files) in enumerate(chosen):
        base = os.path.join(dest, "corpus%d" % (index + 1))
        for path in files:
            target = os.path.join(base, os.path.relpath(path, root))
            os.makedirs(os.path.dirname(target), exist_ok=True)
            shutil.copy2(path, target)
        total += len(files)
        log("%s: %d files from %s" % (label, len(files), root))
    return total


def snapshot(root):
    """Every entry below root: content hash, mode, size, times, xattrs."""
    state = {}
    for folder, dirs, names in os.walk(root):
        for name in dirs + names:
            path = os.path.join(folder, name)
            st = os.lstat(path)
            try:
                attrs = {a: os.getxattr(path, a, follow_symlinks=False)
                         for a in os.listxattr(path, follow_symlinks=False)}
            except OSError:
                attrs = {}
            entry = {"mode": st.st_mode, "mtime": st.st_mtime_ns, "ctime": st.st_ctime_ns,
                     "xattrs": attrs}
            if stat.S_ISREG(st.st_mode):
                h = hashlib.sha256()
                with open(path, "rb") as f:
                    for block in iter(lambda: f.read(1 << 20), b""):
                        h.update(block)
                entry["size"] = st.st_size
                entry["sha256"] = h.hexdigest()
            elif stat.S_ISLNK(st.st_mode):
                entry["link"] = os.readlink(path)
            state[os.path.relpath(path, root)] = entry
    return state


def compare(before, after, ignore=()):
    problems = []
    for path in sorted(set(before) | set(after)):
        if any(path == i or path.startswith(i + os.sep) for i in ignore):
            continue
        if path not in after:
            problems.append("gone: " + path)
        elif path not in before:
            problems.append("new: " + path)
        else:
            for key in sorted(set(before[path]) | set(after[path])):
                if before[path].get(key) != after[path].get(key):
                    problems.append("%s changed: %s" % (key, path))
    return problems


def check_lines(lines, status, expected_files):
    """The results list must be the statistics block alone."""
    problems = []
    expect = STATISTICS + ["Total files scanned\t\t:  %d" % expected_files,
                           "Total files infected\t\t:  0", "Total files removed\t\t:  0"]
    if lines != expect:
        problems.append("results list:\n  " + "\n  ".join(lines[-40:]))
    if status != "Scanning completed":
        problems.append("final status: %r" % status)
    return problems


def native_check(args, chosen, work):
    scratch = os.path.join(work, "native")
    shutil.rmtree(scratch, ignore_errors=True)
    os.makedirs(scratch)
    count = copy_corpora(chosen, scratch)
    before = snapshot(scratch)
    offline = os.path.join(args.native, "tools", "sorvane-offline", "sorvane-offline")
    seconds, _, rc, out, err = run_bench.run([offline, "--drive", "C=" + scratch])
    lines = out.splitlines()
    problems = check_lines(lines[:-1], lines[-1] if lines else "", count)
    if rc != 0:
        problems.append("exit code %d: %s" % (rc, err.strip()[-300:]))
    problems += compare(before, snapshot(scratch))
    log("native: %d files scanned in %.2f s, %s" % (count, seconds,
                                                   "untouched" if not problems else "PROBLEMS"))
    return problems


def windows_view(session):
    """Names, sizes, attributes, creation and write times as Windows lists
    them for the whole C: drive."""
    view = []
    for switches in (("/a", "/s", "/t:c"), ("/a", "/s", "/t:w"), ("/a:r", "/s", "/b"),
                     ("/a:h", "/s", "/b"), ("/a:s", "/s", "/b")):
        out = session.wine("cmd", "/c", "dir", *switches, "C:\\")[3]
        view += [l for l in out.splitlines() if "bytes free" not in l]
    return view


def wine_check(args, chosen, work):
    session = run_bench.WineSession(args.win32, "integrity-%d" % os.getpid())
    try:
        tools = session.drive_c("sorvane-bench")
        os.makedirs(tools)
        shutil.copy(os.path.join(args.program, "ui", "sorvane.exe"), tools)
        shutil.copy(os.path.join(args.win32, "bench", "bench_driver.exe"), tools)
        copy_corpora(chosen, session.drive_c("corpus"))
        drive = session.drive_c()
        # Windows' view first: it starts the prefix's own processes, and what
        # Wine writes at its start (a driver host's crash report, say) is not
        # the scan's doing. The snapshot then holds what the scan meets.
        shown = windows_view(session)
        before = snapshot(drive)
        count = sum(1 for e in before.values() if "sha256" in e)
        seconds, _, rc, out, err = session.wine("C:\\sorvane-bench\\bench_driver.exe")
        lines = out.splitlines()
        problems = check_lines(lines[:-1], lines[-1] if lines else "", count)
        if rc != 0:
            problems.append("driver exit code %d: %s" % (rc, err.strip()[-300:]))
        # The worm disinfector resets every file's attributes to ARCHIVE and
        # puts them back, two real SetFileAttributesA calls that Wine carries
        # out on the host: the Unix change time (ctime) moves, nothing that
        # Windows shows does. Counted, checked through Windows' own view.
        after = snapshot(drive)
        moved = sum(1 for p in before if p in after and before[p]["ctime"] != after[p]["ctime"])
        for entry in list(before.values()) + list(after.values()):
            entry.pop("ctime", None)
        problems += compare(before, after)
        if len(shown) < count or windows_view(session) != shown:
            problems.append("the attributes or times Windows shows changed (dir /a /s /t:c and /t:w)")
        log("Wine: Unix ctime moved on %d of %d entries; Windows' view unchanged" % (moved, len(before)))
        log("Wine: %d files on C: (the Windows folder included) scanned in %.2f s, %s" % (
            count, seconds, "untouched" if not problems else "PROBLEMS"))
        return problems
    finally:
        session.close()


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--native", required=True)
    ap.add_argument("--win32")
    ap.add_argument("--program")
    ap.add_argument("--work")
    ap.add_argument("--reduced", action="store_true")
    ap.add_argument("--no-wine", action="store_true")
    args = ap.parse_args()
    args.native = os.path.abspath(args.native)
    work = os.path.abspath(args.work or os.path.join(args.native, "integrity"))
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    chosen = corpora(args.reduced)
    problems = native_check(args, chosen, work)
    if not args.no_wine:
        if not args.win32 or not args.program:
            raise SystemExit("integrity: --win32 and --program are needed for the Wine check")
        args.win32, args.program = os.path.abspath(args.win32), os.path.abspath(args.program)
        problems += wine_check(args, chosen, work)
    for p in problems[:200]:
        print("integrity: " + p)
    if problems:
        print("integrity: %d problems" % len(problems))
        return 1
    shutil.rmtree(work, ignore_errors=True)
    print("integrity: every file untouched, no detection")
    return 0


if __name__ == "__main__":
    sys.exit(main())
