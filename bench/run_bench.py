#!/usr/bin/env python3
"""The benchmark: speed and peak memory of the scan against the I/O floors
and a peer scanner, natively and under Wine, printed as one table.

usage: run_bench.py --native BUILD --win32 BUILD --program BUILD [--work DIR]
                    [--tree big|small|both] [--files N] [--small-files N]
                    [--wine-files N] [--runs N] [--cold-runs N] [--clam-runs N]
                    [--wine-runs N] [--no-wine] [--no-native] [--no-peer]

Natively, over two generated trees (bench/make_tree.py), each with one
forged sample of every kind: today's tree (`big`, 100,000 files of up to
a few MB) and the compact one (`small`, 50,000 files of a few KB in deep
folders); --files N gives both trees N files, --small-files the compact
one alone. On each: the floors (bench_floor: one thread, then one walker
handing files to 1, 16 and 64 reading threads), sorvane-offline (the
default and, when its --help lists --jobs, --jobs 1) and without its
read-ahead; on today's tree also clamscan -r with the backdoor records
converted to its logical signatures. Warm, each figure is the median of
several runs after a warm-up. Cold, where the page cache can be dropped
(root; the table says why not otherwise), each round drops it before
every run, and each figure is the median over the rounds. The table gives
warm the one-thread floor's time over the scan's, cold the best floor's
over the scan's, and the load average at the start and end. Under Wine,
over a smaller tree (default 3,000 files) on the C: drive of a throwaway
prefix: the floor cross-compiled, sorvane.exe driven through its window,
and the engine as a console exe. Results go to WORK/results.json and
WORK/table.md as well.
"""
import argparse
import hashlib
import json
import os
import re
import shutil
import statistics
import struct
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
MIB = 1024.0


def log(*args):
    print("bench:", *args, file=sys.stderr, flush=True)


PEAK = None  # the peak-memory wrapper of the native build, once known


def run(cmd, env=None, cwd=None, timeout=None):
    """Runs cmd to its end: (seconds, peak RSS in KiB, exit code, stdout, stderr).
    The peak comes from the peak-memory wrapper when it is known (wait4 of a
    child forked from Python would count Python's own pages)."""
    if PEAK:
        cmd = [PEAK] + list(cmd)
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        start = time.perf_counter()
        p = subprocess.Popen(cmd, stdout=out, stderr=err, env=env, cwd=cwd)
        _, status, usage = os.wait4(p.pid, 0)
        seconds = time.perf_counter() - start
        p.returncode = os.waitstatus_to_exitcode(status)
        out.seek(0)
        err.seek(0)
        stdout = out.read().decode("latin-1").replace("\r\n", "\n")
        stderr = err.read().decode("latin-1").replace("\r\n", "\n")
        peak = usage.ru_maxrss
        if PEAK:
            head, _, last = stderr.rstrip("\n").rpartition("\n")
            if last.startswith("peak_kib "):
                peak, stderr = int(last.split()[1]), head + ("\n" if head else "")
        return seconds, peak, p.returncode, stdout, stderr


def stats_of(text):
    """The statistics block of a results list: (scanned, infected, removed)."""
    found = {}
    for key in ("scanned", "infected", "removed"):
        m = re.search(r"^Total files %s\t\t:  (-?\d+)$" % key, text, re.M)
        found[key] = int(m.group(1)) if m else None
    return found


def detection_lines(text):
    keep = []
    for line in text.splitlines():
        if line.startswith(("Total files", "Scanning ", "------")) or line.strip() == "":
            continue
        keep.append(line)
    return keep


# ---- the trees and the samples ----

# The two kinds of native tree: today's (large files, up to 6 deep) and the
# compact one (small files, deep folders).
TREES = {
    "big": {"dir": "tree-native", "seed": 1, "files": 100000, "compact": False,
            "title": "today's tree"},
    "small": {"dir": "tree-compact", "seed": 3, "files": 50000, "compact": True,
              "title": "compact tree"},
}


def ensure_tree(work, name, files, seed, sizes, compact=False):
    """The generated tree, made once per generator version, kind, size and seed."""
    generator = os.path.join(HERE, "make_tree.py")
    stamp_text = "%s files=%d seed=%d sizes=%s%s" % (
        hashlib.sha256(open(generator, "rb").read()).hexdigest()[:16], files, seed,
        hashlib.sha256(open(sizes, "rb").read()).hexdigest()[:16], " compact" if compact else "")
    tree = os.path.join(work, name)
    stamp = tree + ".stamp"
    if os.path.isdir(tree) and os.path.exists(stamp) and open(stamp).read() == stamp_text:
        return tree
    log("writing %s (%d files, seed %d%s)" % (tree, files, seed, ", compact" if compact else ""))
    shutil.rmtree(tree, ignore_errors=True)
    subprocess.run([sys.executable, generator, tree, "--files", str(files), "--seed", str(seed),
                    "--sizes", sizes] + (["--compact"] if compact else []),
                   check=True, stdout=subprocess.DEVNULL)
    open(stamp, "w").write(stamp_text)
    return tree


def peer_visible(path):
    """Turns a forged backdoor sample into a PE image that the peer parses
    too ("MZ" and the i386 machine type), keeping every byte we match."""
    b = bytearray(open(path, "rb").read())
    pe = struct.unpack_from("<H", b, 0x3C)[0]
    b[0:2] = b"MZ"
    struct.pack_into("<H", b, pe + 4, 0x14C)
    open(path, "wb").write(b)


def write_samples(forge, folder, host):
    """One forged sample of every kind into folder (replacing what a scan
    left there); returns their number."""
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    jobs = [["backdoor", "1", "backdoor.exe"], ["backdoor", "4", "backdoor-pe.exe"]]
    jobs += [["archive-record", str(n), "record%d.zip" % n] for n in range(1, 10)]
    jobs += [["zip-worm", v, "worm-%s.zip" % v] for v in ("H", "K", "J", "N", "O", "Aa")]
    jobs += [["rar-worm", v, "worm-%s.rar" % v] for v in ("N", "O")]
    jobs += [["worm", v, host, "infected-%s.exe" % v] for v in ("N", "O", "Q")]
    ext = {1: "vbs", 2: "vbs", 9: "js", 12: "htm", 13: "htm"}
    jobs += [["script", str(n), "script%d.%s" % (n, ext.get(n, "txt"))] for n in range(1, 14)]
    for job in jobs:
        job[-1] = os.path.join(folder, job[-1])
        subprocess.run([forge] + job, check=True, stdout=subprocess.DEVNULL)
    peer_visible(os.path.join(folder, "backdoor-pe.exe"))
    return len(jobs)


# ---- native figures ----

def median_runs(label, runs, once, before=None, warm_up=True):
    """Calls once() after before() for a warm-up (unless warm_up is false)
    and `runs` times; the median seconds and the largest peak memory."""
    results = []
    first = 0 if warm_up else 1
    for i in range(first, runs + 1):
        if before:
            before()
        r = once()
        log("%s run %d: %.3f s, %d KiB" % (label, i, r["seconds"], r["peak_kib"]))
        if i > 0:
            results.append(r)
    return summary(results)


def summary(results):
    """The median seconds, every run's seconds and the largest peak memory."""
    out = dict(results[-1])
    out["seconds"] = statistics.median(r["seconds"] for r in results)
    out["runs"] = [round(r["seconds"], 3) for r in results]
    out["peak_kib"] = max(r["peak_kib"] for r in results)
    return out


def cached_bytes():
    """The page cache's size from /proc/meminfo (None where unknown)."""
    try:
        for line in open("/proc/meminfo"):
            if line.startswith("Cached:"):
                return int(line.split()[1]) * 1024
    except OSError:
        pass
    return None


def drop_page_cache():
    """Writes the dirty pages and drops the clean ones, dentries and inodes.
    None when done, else why it cannot be done here (not root, or a
    container whose /proc/sys is read-only)."""
    os.sync()
    try:
        with open("/proc/sys/vm/drop_caches", "w") as f:
            f.write("3\n")
        return None
    except OSError as e:
        who = "not root (uid %d)" % os.geteuid() if os.geteuid() != 0 else "root, but refused"
        return "the page cache cannot be dropped here: %s, %s" % (who, e.strerror or e)


def prepare(work, forge, sigexp):
    """The record sizes for the generator, the peer's database and the
    host executable the worm samples infect."""
    with open(os.path.join(work, "record-sizes.txt"), "w") as f:
        subprocess.run([sigexp, "sizes"], check=True, stdout=f)
    with open(os.path.join(work, "sorvane-records.ldb"), "w") as f:
        subprocess.run([sigexp, "clamav"], check=True, stdout=f)
    subprocess.run([forge, "worm-host", os.path.join(work, "worm-host.exe")], check=True,
                   stdout=subprocess.DEVNULL)


def offline_has_jobs(offline):
    """Whether this sorvane-offline takes --jobs (its --help lists it)."""
    p = subprocess.run([offline, "--help"], capture_output=True, text=True, errors="replace")
    return re.search(r"--jobs\b", p.stdout + p.stderr) is not None


# The floors: the walk reading every file itself, then one walker handing
# files to 1, 16 or 64 reading threads; each reads the same bytes.
FLOORS = (("floor", 0), ("floor1", 1), ("floor16", 16), ("floor64", 64))


def scan_variants(jobs):
    """(key, extra arguments, read-ahead) of each sorvane-offline figure:
    the default, --jobs 1 where the program takes it, and the read-ahead off."""
    out = [("sorvane", [], True)]
    if jobs:
        out.append(("sorvane_jobs1", ["--jobs", "1"], True))
    out.append(("sorvane_plain", [], False))
    return out


def native_figures(args, work, forge, offline, floor, kind, jobs):
    """Every native figure over one kind of tree (TREES)."""
    shape = TREES[kind]
    sizes = os.path.join(work, "record-sizes.txt")
    database = os.path.join(work, "sorvane-records.ldb")
    host = os.path.join(work, "worm-host.exe")
    files_wanted = (args.small_files if kind == "small" else None) or args.files or shape["files"]

    tree = ensure_tree(work, shape["dir"], files_wanted, shape["seed"], sizes, shape["compact"])
    samples_dir = os.path.join(tree, "Samples")
    count = write_samples(forge, samples_dir, host)
    total = sum(len(f) for _, _, f in os.walk(tree))
    folders = sum(1 for _ in os.walk(tree))
    size = sum(os.path.getsize(os.path.join(d, n)) for d, _, fs in os.walk(tree) for n in fs)
    depth = max(os.path.relpath(d, tree).count(os.sep) + 1 for d, _, _ in os.walk(tree))
    log("%s: %d files (%d samples), %d folders, %.2f GB" % (shape["title"], total, count, folders,
                                                            size / 1e9))
    figures = {"kind": kind, "load_before": os.getloadavg(), "jobs_option": jobs,
               "tree": {"files": total, "samples": count, "folders": folders, "bytes": size,
                        "depth": depth}}

    def floor_once(threads=0):
        s, peak, rc, out, _ = run([floor] + (["--threads", str(threads)] if threads else []) + [tree])
        m = re.search(r"files (\d+) bytes (\d+)", out)
        return {"seconds": s, "peak_kib": peak, "files": int(m.group(1)), "rc": rc}

    def sorvane_once(path, extra=(), read_ahead=True):
        env = dict(os.environ, SORVANE_READ_AHEAD="1" if read_ahead else "0")
        s, peak, rc, out, err = run([offline] + list(extra) + ["--drive", "C=" + path], env=env)
        st = stats_of(out)
        return {"seconds": s, "peak_kib": peak, "files": st["scanned"], "infected": st["infected"],
                "removed": st["removed"], "rc": rc, "lines": detection_lines(out)}

    def clam_once():
        s, peak, rc, out, _ = run(["clamscan", "-r", "-i", "-d", database, tree])
        scanned = re.search(r"^Scanned files: (\d+)", out, re.M)
        infected = re.search(r"^Infected files: (\d+)", out, re.M)
        return {"seconds": s, "peak_kib": peak, "files": int(scanned.group(1)) if scanned else None,
                "infected": int(infected.group(1)) if infected else None, "rc": rc}

    onces = [(key, lambda t=threads: floor_once(t)) for key, threads in FLOORS]
    onces += [(key, lambda e=extra, r=ra: sorvane_once(tree, e, r)) for key, extra, ra in scan_variants(jobs)]
    reset = lambda: write_samples(forge, samples_dir, host)
    for key, once in onces:
        figures[key] = median_runs("%s %s" % (kind, key), args.runs, once, reset)
    if args.cold_runs:
        figures["cold"] = cold_figures(kind, args.cold_runs, reset, onces)
    if kind == "big" and not args.no_peer:
        # One run, no warm-up: clamscan is bound by its own work, and the
        # runs above left the tree in memory.
        figures["clamscan"] = median_runs("clamscan", args.clam_runs, clam_once, reset, warm_up=False)
        figures["clamscan"]["version"] = subprocess.run(["clamscan", "--version"], capture_output=True,
                                                        text=True).stdout.strip()
    if kind == "big":
        # The same scan over the Wine half's tree: peak memory must not grow with the tree.
        small = ensure_tree(work, "tree-wine", args.wine_files, 2, sizes)
        figures["sorvane_wine_tree"] = median_runs("sorvane-offline on the Wine half's tree", 2,
                                                   lambda: sorvane_once(small))
    figures["load_after"] = os.getloadavg()
    return figures


def cold_figures(kind, rounds, reset, onces):
    """Every figure of onces per round, each run after the page cache was
    dropped, so that all of them meet the same cold tree in one run."""
    before = cached_bytes()
    why = drop_page_cache()
    if why:
        log("%s: cold figures skipped: %s" % (kind, why))
        return {"skipped": why}
    after = cached_bytes()
    if before is not None and after is not None:
        log("%s: page cache dropped: %.2f GB cached before, %.2f GB after" % (kind, before / 1e9,
                                                                               after / 1e9))
    results = {key: [] for key, _ in onces}
    for i in range(rounds):
        for key, once in onces:
            reset()
            drop_page_cache()
            r = once()
            log("%s cold %s round %d: %.3f s, %d KiB" % (kind, key, i + 1, r["seconds"], r["peak_kib"]))
            results[key].append(r)
    return {key: summary(runs) for key, runs in results.items()}


# ---- Wine figures ----

class WineSession:
    """A throwaway prefix cloned from the build's template, an X display and
    a persistent wineserver; close() stops and removes them."""

    def __init__(self, win32_build, name):
        arch = subprocess.run([os.path.join(ROOT, "scripts", "wine-arch")], check=True,
                              capture_output=True, text=True).stdout.strip()
        self.env = dict(os.environ, WINEARCH=arch, WINEDEBUG="-all",
                        WINEDLLOVERRIDES="mscoree,mshtml=;winebus.sys,winehid.sys,wineusb.sys,hidclass.sys=")
        if arch == "win64":  # x86_64 builds under wine64 (scripts/wine-arch)
            self.env["PATH"] = os.path.join(ROOT, "scripts", "wine64") + os.pathsep + self.env["PATH"]
        self.xvfb = None
        self.prefix = None
        if not self.display_ok():
            self.start_xvfb()
        out = subprocess.run([os.path.join(ROOT, "scripts", "wine-prefix"), "fresh", win32_build, name],
                             check=True, capture_output=True, text=True, env=self.env).stdout
        self.prefix = out.strip().splitlines()[-1]
        if os.path.lexists(os.path.join(self.prefix, "dosdevices", "z:")):
            raise SystemExit("bench: the prefix still maps Z: to the Unix root")
        self.env["WINEPREFIX"] = self.prefix
        subprocess.run(["wineserver", "-p"], env=self.env)

    def display_ok(self):
        display = self.env.get("DISPLAY")
        if not display:
            return False
        return subprocess.run(["xdpyinfo"], env=self.env, capture_output=True).returncode == 0

    def start_xvfb(self):
        """A private Xvfb on the first free display from :80 on (away from
        the low numbers other runs on this machine take)."""
        for n in range(80, 200):
            if os.path.exists("/tmp/.X%d-lock" % n) or os.path.exists("/tmp/.X11-unix/X%d" % n):
                continue
            self.xvfb = subprocess.Popen(["Xvfb", ":%d" % n, "-nolisten", "tcp", "-screen", "0",
                                          "1280x1024x24"], stdout=subprocess.DEVNULL,
                                         stderr=subprocess.DEVNULL)
            self.env["DISPLAY"] = ":%d" % n
            for _ in range(100):
                if self.xvfb.poll() is not None:
                    break
                if self.display_ok():
                    return
                time.sleep(0.05)
            self.xvfb.terminate()
            self.xvfb.wait()
            self.xvfb = None
        raise SystemExit("bench: Xvfb did not start")

    def drive_c(self, *parts):
        return os.path.join(self.prefix, "drive_c", *parts)

    def wine(self, program, *args, timeout=None):
        return run(["wine", program] + list(args), env=self.env, cwd=self.drive_c())

    def close(self):
        if self.prefix:
            subprocess.run(["wineserver", "-k"], env=self.env, stderr=subprocess.DEVNULL)
            subprocess.run(["wineserver", "-w"], env=self.env, stderr=subprocess.DEVNULL)
            if not os.environ.get("SORVANE_KEEP_PREFIX"):
                shutil.rmtree(self.prefix, ignore_errors=True)
        if self.xvfb:
            self.xvfb.terminate()
            self.xvfb.wait()


def self_timed(err):
    m = re.search(r"seconds ([\d.]+) peak_kib (\d+)", err)
    return (float(m.group(1)), int(m.group(2))) if m else (None, None)


def wine_figures(args, work, forge):
    sizes = os.path.join(work, "record-sizes.txt")
    small = ensure_tree(work, "tree-wine", args.wine_files, 2, sizes)
    host = os.path.join(work, "worm-host.exe")
    exes = {name: os.path.join(args.win32, "bench", name + ".exe")
            for name in ("bench_floor", "bench_engine", "bench_driver")}
    exes["sorvane"] = os.path.join(args.program, "ui", "sorvane.exe")
    for path in exes.values():
        if not os.path.exists(path):
            raise SystemExit("bench: missing %s (make win32 program)" % path)
    session = WineSession(args.win32, "bench-%d" % os.getpid())
    try:
        tools = session.drive_c("sorvane-bench")
        os.makedirs(tools)
        for path in exes.values():
            shutil.copy(path, tools)
        shutil.copytree(small, session.drive_c("bench-tree"))
        samples_dir = session.drive_c("bench-tree", "Samples")
        count = write_samples(forge, samples_dir, host)
        reset = lambda: write_samples(forge, samples_dir, host)
        figures = {"tree": {"generated": args.wine_files, "samples": count}}

        def floor_once():
            _, _, rc, out, _ = session.wine("C:\\sorvane-bench\\bench_floor.exe", "C:\\")
            m = re.search(r"files (\d+) bytes \d+ seconds ([\d.]+) peak_kib (\d+)", out)
            return {"seconds": float(m.group(2)), "peak_kib": int(m.group(3)),
                    "files": int(m.group(1)), "rc": rc}

        def scan_once(exe):
            wall, _, rc, out, err = session.wine("C:\\sorvane-bench\\%s.exe" % exe)
            seconds, peak = self_timed(err)
            if seconds is None:
                log("%s failed (exit %d): %s" % (exe, rc, err.strip()[-400:]))
            st = stats_of(out)
            return {"seconds": seconds if seconds is not None else wall, "peak_kib": peak or 0,
                    "files": st["scanned"], "infected": st["infected"], "removed": st["removed"],
                    "rc": rc, "lines": detection_lines(out), "status": out.strip().splitlines()[-1:]}

        figures["floor"] = median_runs("wine floor", args.wine_runs, floor_once, reset)
        figures["program"] = median_runs("wine sorvane.exe", args.wine_runs,
                                         lambda: scan_once("bench_driver"), reset)
        figures["engine"] = median_runs("wine engine", args.wine_runs,
                                        lambda: scan_once("bench_engine"), reset)
        figures["tree"]["files"] = figures["floor"]["files"]
        return figures
    finally:
        session.close()


# ---- the table ----

def rate(fig, files):
    return files / fig["seconds"] if fig and fig.get("seconds") else 0.0


def native_rows(jobs):
    rows = [("floor: open, first and last 4 KiB, close, one thread", "floor"),
            ("floor, one walker and 1 reader", "floor1"),
            ("floor, one walker and 16 readers", "floor16"),
            ("floor, one walker and 64 readers", "floor64")]
    if jobs:
        rows += [("sorvane-offline, default jobs", "sorvane"), ("sorvane-offline --jobs 1", "sorvane_jobs1")]
    else:
        rows += [("sorvane-offline, every row of the table", "sorvane")]
    rows += [("sorvane-offline, read-ahead off", "sorvane_plain"),
             ("clamscan -r, the 269 records converted", "clamscan")]
    return rows


def best_floor(figs):
    """The key of the fastest floor among figs (None where none ran)."""
    ran = [key for key, _ in FLOORS if figs.get(key, {}).get("seconds")]
    return min(ran, key=lambda k: figs[k]["seconds"]) if ran else None


def load_text(load):
    return " ".join("%.2f" % x for x in load)


def native_table(nat, lines, rows):
    t = nat["tree"]
    files = t["files"]
    title = TREES[nat["kind"]]["title"]
    cold = nat.get("cold") or {}
    jobs = nat.get("jobs_option")
    lines.append("Native, %s: %s files (%s forged samples) in %s folders up to %d deep, %.2f GB. "
                 "Load average (1, 5, 15 min) %s at start, %s at end, %d cores. Warm: median of %d runs "
                 "after a warm-up. %s" % (
                     title, format(files, ","), t["samples"], format(t["folders"], ","), t["depth"],
                     t["bytes"] / 1e9, load_text(nat["load_before"]), load_text(nat["load_after"]),
                     os.cpu_count(), len(nat["floor"]["runs"]),
                     "Cold: not measured, %s." % cold["skipped"] if "skipped" in cold else
                     "Cold: page cache dropped before each run, median of %d rounds." %
                     len(cold["floor"]["runs"]) if cold else "Cold: not measured (--cold-runs 0)."))
    lines.append("")
    lines.append("| native figure | warm s | files/s | vs floor | cold s | files/s | vs floor | vs best floor "
                 "| peak memory |")
    lines.append("|---|---:|---:|---:|---:|---:|---:|---:|---:|")
    warm_floor, cold_floor = rate(nat["floor"], files), rate(cold.get("floor"), files)
    best = best_floor(cold)
    cold_best = rate(cold.get(best), files)
    for name, key in native_rows(jobs):
        cells, peak = [], 0
        for source, bases in ((nat, (warm_floor,)), (cold, (cold_floor, cold_best))):
            f = source.get(key)
            if f and f.get("seconds"):
                r = rate(f, files)
                cells.append("%.2f | %s | %s" % (f["seconds"], format(int(r), ","),
                                                 " | ".join("%.2f" % (r / b) for b in bases)))
                peak = max(peak, f["peak_kib"])
            else:
                cells.append(" | ".join(["-"] * (2 + len(bases))))
        if peak:
            lines.append("| %s | %s | %s | %.1f MiB |" % (name, cells[0], cells[1], peak / MIB))
    lines.append("")
    scans = [(key, label) for key, label in (("sorvane", "default"), ("sorvane_jobs1", "--jobs 1"))
             if key in nat]
    warm = ["%.2f (%s)" % (rate(nat[k], files) / warm_floor, label) for k, label in scans]
    lines.append("Warm, the one-thread floor's time / sorvane-offline's: %s." % ", ".join(warm))
    if best and cold.get("sorvane"):
        label = [n for n, k in native_rows(jobs) if k == best][0]
        coldr = ["%.2f (%s)" % (rate(cold[k], files) / cold_best, lab) for k, lab in scans if k in cold]
        lines.append("Cold, the best floor's time (%s, %.2f s) / sorvane-offline's: %s." % (
            label, cold[best]["seconds"], ", ".join(coldr)))
    sv = nat["sorvane"]
    others = [k for k, _, _ in scan_variants(jobs) if k != "sorvane"]
    same = all(sv[f] == nat[k][f] for k in others for f in ("lines", "rc", "files", "infected", "removed"))
    lines.append("Detections: sorvane-offline %s of %s samples (the same lines, counters and exit code "
                 "in every variant: %s)%s." % (
                     sv["infected"], t["samples"], "yes" if same else "NO",
                     ", clamscan %s (it parses only the sample made a complete PE image)" %
                     nat["clamscan"]["infected"] if "clamscan" in nat else ""))
    keys = [k for k, _, _ in scan_variants(jobs) if k != "sorvane_plain"]
    peak = max([nat[k]["peak_kib"] for k in keys] + [cold[k]["peak_kib"] for k in keys if k in cold])
    wine_tree = nat.get("sorvane_wine_tree")
    lines.append("sorvane-offline peak memory: %.1f MiB on %s files%s." % (
        peak / MIB, format(files, ","), ", %.1f MiB on %s files" % (
            wine_tree["peak_kib"] / MIB, format(wine_tree["files"], ",")) if wine_tree else ""))
    lines.append("")
    rows.append(("%s: sorvane-offline warm >= 0.9 of the one-thread floor" % title,
                 rate(sv, files) / warm_floor, 0.9, ">="))
    if best and cold.get("sorvane"):
        rows.append(("%s: sorvane-offline cold >= 0.9 of the best floor" % title,
                     rate(cold["sorvane"], files) / cold_best, 0.9, ">="))
    if nat["kind"] == "big":
        if cold.get("sorvane"):
            rows.append(("%s: sorvane-offline cold >= 1.5 x the one-thread floor" % title,
                         rate(cold["sorvane"], files) / cold_floor, 1.5, ">="))
        if "clamscan" in nat:
            rows.append(("%s: sorvane-offline >= 5 x clamscan" % title,
                         rate(sv, files) / rate(nat["clamscan"], files), 5, ">="))
    rows.append(("%s: sorvane-offline peak memory < 16 MiB" % title, peak / MIB, 16, "<"))


def table(results):
    rows, lines = [], []
    busy = max(results["load_before"][0], results["load_after"][0]) > os.cpu_count() / 2
    lines.append("Load average (1, 5, 15 min) %s at the start, %s at the end; %d cores.%s" % (
        load_text(results["load_before"]), load_text(results["load_after"]), os.cpu_count(),
        " Other work shared the machine: the targets are for an idle one." if busy else ""))
    lines.append("")
    for kind in ("big", "small"):
        nat = results.get("native", {}).get(kind)
        if nat:
            native_table(nat, lines, rows)
    wn = results.get("wine")
    if wn:
        files = wn["tree"]["files"]
        lines.append("")
        lines.append("Wine: %s files on C: (%s generated, %s samples, the rest the prefix's own); "
                     "median of %d runs after a warm-up." % (
                         format(files, ","), format(wn["tree"]["generated"], ","),
                         wn["tree"]["samples"], len(wn["floor"]["runs"])))
        lines.append("")
        lines.append("| Wine figure | seconds | files/s | vs floor | peak memory |")
        lines.append("|---|---:|---:|---:|---:|")
        fl = rate(wn["floor"], files)
        for name, key in (("floor, cross-compiled", "floor"), ("sorvane.exe with its window", "program"),
                          ("engine console exe, no window", "engine")):
            f = wn[key]
            r = rate(f, files)
            lines.append("| %s | %.2f | %s | %.2f | %.1f MiB |" % (name, f["seconds"], format(int(r), ","),
                                                                 r / fl, f["peak_kib"] / MIB))
        lines.append("")
        lines.append("Files scanned: sorvane.exe %s, engine %s; detections %s and %s of %s samples." % (
            wn["program"]["files"], wn["engine"]["files"], wn["program"]["infected"],
            wn["engine"]["infected"], wn["tree"]["samples"]))
        rows.append(("sorvane.exe >= 1/4 of the Wine floor", rate(wn["program"], files) / fl, 0.25, ">="))
    if lines[-1]:
        lines.append("")
    lines.append("| target | measured | met |")
    lines.append("|---|---:|---|")
    for name, value, bound, op in rows:
        met = value >= bound if op == ">=" else value < bound
        lines.append("| %s | %.2f | %s |" % (name, value, "yes" if met else "NO"))
    return "\n".join(lines) + "\n"


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--native", required=True)
    ap.add_argument("--win32")
    ap.add_argument("--program")
    ap.add_argument("--work", default=os.path.join(ROOT, "build", "bench"))
    ap.add_argument("--tree", choices=("big", "small", "both"), default="both")
    ap.add_argument("--files", type=int)
    ap.add_argument("--small-files", type=int)
    ap.add_argument("--wine-files", type=int, default=3000)
    ap.add_argument("--runs", type=int, default=5)
    ap.add_argument("--cold-runs", type=int, default=3)
    ap.add_argument("--clam-runs", type=int, default=1)
    ap.add_argument("--wine-runs", type=int, default=3)
    ap.add_argument("--no-wine", action="store_true")
    ap.add_argument("--no-native", action="store_true")
    ap.add_argument("--no-peer", action="store_true")
    args = ap.parse_args()
    work = os.path.abspath(args.work)
    os.makedirs(work, exist_ok=True)
    native = os.path.abspath(args.native)
    forge = os.path.join(native, "tools", "forge", "forge")
    offline = os.path.join(native, "tools", "sorvane-offline", "sorvane-offline")
    floor = os.path.join(native, "bench", "bench_floor")
    sigexp = os.path.join(native, "bench", "signature-export")
    global PEAK
    PEAK = os.path.join(native, "bench", "peak-memory")
    for path in (forge, offline, floor, sigexp, PEAK):
        if not os.path.exists(path):
            raise SystemExit("bench: missing %s (make native)" % path)
    if not args.no_native and args.tree != "small" and not args.no_peer and not shutil.which("clamscan"):
        log("installing the peer scanner (Debian clamav)")
        subprocess.run([os.path.join(HERE, "install-peer")], check=True)
    log("load average %.2f %.2f %.2f" % os.getloadavg())
    started = time.perf_counter()
    results = {"load_before": os.getloadavg()}
    prepare(work, forge, sigexp)
    if not args.no_native:
        jobs = offline_has_jobs(offline)
        log("sorvane-offline %s --jobs" % ("takes" if jobs else "does not take"))
        kinds = ("big", "small") if args.tree == "both" else (args.tree,)
        results["native"] = {kind: native_figures(args, work, forge, offline, floor, kind, jobs)
                             for kind in kinds}
    if not args.no_wine:
        if not args.win32 or not args.program:
            raise SystemExit("bench: --win32 and --program are needed for the Wine figures")
        args.win32, args.program = os.path.abspath(args.win32), os.path.abspath(args.program)
        results["wine"] = wine_figures(args, work, forge)
    results["load_after"] = os.getloadavg()
    text = table(results)
    json.dump(results, open(os.path.join(work, "results.json"), "w"), indent=1)
    open(os.path.join(work, "table.md"), "w").write(text)
    print(text, end="")
    log("%.1f minutes; load average %.2f %.2f %.2f; results in %s" % (
        ((time.perf_counter() - started) / 60,) + os.getloadavg() + (work,)))


if __name__ == "__main__":
    main()
