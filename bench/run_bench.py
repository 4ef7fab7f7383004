#!/usr/bin/env python3
"""The benchmark: speed and peak memory of the scan against the I/O floor
and a peer scanner, natively and under Wine, printed as one table.

usage: run_bench.py --native BUILD --win32 BUILD --program BUILD [--work DIR]
                    [--files N] [--wine-files N] [--runs N] [--cold-runs N]
                    [--clam-runs N] [--wine-runs N] [--no-wine] [--no-native]
                    [--no-peer]

Natively, over a generated tree of N files (bench/make_tree.py, default
100,000) plus one forged sample of every kind: the floor (bench_floor),
sorvane-offline with and without its read-ahead, and clamscan -r with the
backdoor records converted to its logical signatures. Warm, each figure is
the median of several runs after a warm-up. Cold, where the page cache can
be dropped (root), each round drops it before every run of the floor (one
reading thread, then 16 and 64) and of sorvane-offline, and each figure is
the median over the rounds. Under Wine, over a smaller tree (default 3,000
files) on the C: drive of a throwaway prefix: the floor cross-compiled,
sorvane.exe driven through its window, and the engine as a console exe.
Results go to WORK/results.json and WORK/table.md as well.
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


# ---- the tree and the samples ----

def ensure_tree(work, name, files, seed, sizes):
    """The generated tree, made once per generator version, size and seed."""
    generator = os.path.join(HERE, "make_tree.py")
    stamp_text = "%s files=%d seed=%d sizes=%s" % (
        hashlib.sha256(open(generator, "rb").read()).hexdigest()[:16], files, seed,
        hashlib.sha256(open(sizes, "rb").read()).hexdigest()[:16])
    tree = os.path.join(work, name)
    stamp = tree + ".stamp"
    if os.path.isdir(tree) and os.path.exists(stamp) and open(stamp).read() == stamp_text:
        return tree
    log("writing %s (%d files, seed %d)" % (tree, files, seed))
    shutil.rmtree(tree, ignore_errors=True)
    subprocess.run([sys.executable, generator, tree, "--files", str(files), "--seed", str(seed),
                    "--sizes", sizes], check=True, stdout=subprocess.DEVNULL)
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


def drop_page_cache():
    """Writes the dirty pages and drops the clean ones, dentries and inodes;
    False where this process may not (not root, or a container)."""
    os.sync()
    try:
        with open("/proc/sys/vm/drop_caches", "w") as f:
            f.write("3\n")
        return True
    except OSError:
        return False


def prepare(work, forge, sigexp):
    """The record sizes for the generator, the peer's database and the
    host executable the worm samples infect."""
    with open(os.path.join(work, "record-sizes.txt"), "w") as f:
        subprocess.run([sigexp, "sizes"], check=True, stdout=f)
    with open(os.path.join(work, "sorvane-records.ldb"), "w") as f:
        subprocess.run([sigexp, "clamav"], check=True, stdout=f)
    subprocess.run([forge, "worm-host", os.path.join(work, "worm-host.exe")], check=True,
                   stdout=subprocess.DEVNULL)


def native_figures(args, work, forge, offline, floor):
    sizes = os.path.join(work, "record-sizes.txt")
    database = os.path.join(work, "sorvane-records.ldb")
    host = os.path.join(work, "worm-host.exe")

    tree = ensure_tree(work, "tree-native", args.files, 1, sizes)
    samples_dir = os.path.join(tree, "Samples")
    count = write_samples(forge, samples_dir, host)
    total = sum(len(f) for _, _, f in os.walk(tree))
    folders = sum(1 for _ in os.walk(tree))
    size = sum(os.path.getsize(os.path.join(d, n)) for d, _, fs in os.walk(tree) for n in fs)
    log("native tree: %d files (%d samples), %d folders, %.1f GB" % (total, count, folders, size / 1e9))
    figures = {"tree": {"files": total, "samples": count, "folders": folders, "bytes": size}}

    def floor_once(threads=0):
        s, peak, rc, out, _ = run([floor] + (["--threads", str(threads)] if threads else []) + [tree])
        m = re.search(r"files (\d+) bytes (\d+)", out)
        return {"seconds": s, "peak_kib": peak, "files": int(m.group(1)), "rc": rc}

    def sorvane_once(path, read_ahead=True):
        env = dict(os.environ, SORVANE_READ_AHEAD="1" if read_ahead else "0")
        s, peak, rc, out, err = run([offline, "--drive", "C=" + path], env=env)
        st = stats_of(out)
        return {"seconds": s, "peak_kib": peak, "files": st["scanned"], "infected": st["infected"],
                "removed": st["removed"], "rc": rc, "lines": detection_lines(out)}

    def clam_once():
        s, peak, rc, out, _ = run(["clamscan", "-r", "-i", "-d", database, tree])
        scanned = re.search(r"^Scanned files: (\d+)", out, re.M)
        infected = re.search(r"^Infected files: (\d+)", out, re.M)
        return {"seconds": s, "peak_kib": peak, "files": int(scanned.group(1)) if scanned else None,
                "infected": int(infected.group(1)) if infected else None, "rc": rc}

    reset = lambda: write_samples(forge, samples_dir, host)
    figures["floor"] = median_runs("native floor", args.runs, floor_once, reset)
    figures["sorvane"] = median_runs("sorvane-offline", args.runs, lambda: sorvane_once(tree), reset)
    figures["sorvane_plain"] = median_runs("sorvane-offline without read-ahead", args.runs,
                                           lambda: sorvane_once(tree, False), reset)
    if args.cold_runs:
        figures["cold"] = cold_figures(args.cold_runs, reset, floor_once, lambda r: sorvane_once(tree, r))
    if not args.no_peer:
        # One run, no warm-up: clamscan is bound by its own work, and the
        # runs above left the tree in memory.
        figures["clamscan"] = median_runs("clamscan", args.clam_runs, clam_once, reset, warm_up=False)
        figures["clamscan"]["version"] = subprocess.run(["clamscan", "--version"], capture_output=True,
                                                        text=True).stdout.strip()
    # The same scan over the small tree: peak memory must not grow with the tree.
    small = ensure_tree(work, "tree-wine", args.wine_files, 2, sizes)
    figures["sorvane_small"] = median_runs("sorvane-offline small tree", 2,
                                           lambda: sorvane_once(small))
    figures["sorvane_small"]["tree_files"] = args.wine_files
    return figures


COLD = (("floor", lambda floor, scan: floor()),
        ("floor16", lambda floor, scan: floor(16)),
        ("floor64", lambda floor, scan: floor(64)),
        ("sorvane", lambda floor, scan: scan(True)),
        ("sorvane_plain", lambda floor, scan: scan(False)))


def cold_figures(rounds, reset, floor, scan):
    """Every figure of COLD per round, each run after the page cache was
    dropped, so that all of them meet the same cold tree in one run."""
    if not drop_page_cache():
        log("cold column skipped: the page cache cannot be dropped here (needs root)")
        return {"skipped": "the page cache cannot be dropped (needs root)"}
    results = {key: [] for key, _ in COLD}
    for i in range(rounds):
        for key, once in COLD:
            reset()
            drop_page_cache()
            r = once(floor, scan)
            log("cold %s round %d: %.3f s, %d KiB" % (key, i + 1, r["seconds"], r["peak_kib"]))
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


NATIVE_ROWS = (("floor: open, first and last 4 KiB, close", "floor"),
               ("floor, 16 threads reading", "floor16"),
               ("floor, 64 threads reading", "floor64"),
               ("sorvane-offline, every row of the table", "sorvane"),
               ("sorvane-offline, read-ahead off", "sorvane_plain"),
               ("clamscan -r, the 269 records converted", "clamscan"))


def native_table(nat, lines, rows):
    t = nat["tree"]
    files = t["files"]
    cold = nat.get("cold") or {}
    lines.append("Native: %s files (%s forged samples) in %s folders, %.1f GB. Warm: median of %d runs "
                 "after a warm-up. %s" % (
                     format(files, ","), t["samples"], format(t["folders"], ","), t["bytes"] / 1e9,
                     len(nat["floor"]["runs"]),
                     "Cold: skipped (%s)." % cold["skipped"] if "skipped" in cold else
                     "Cold: page cache dropped before each run, median of %d rounds." %
                     len(cold["floor"]["runs"]) if cold else "Cold: not measured."))
    lines.append("")
    lines.append("| native figure | warm s | files/s | vs floor | cold s | files/s | vs floor | peak memory |")
    lines.append("|---|---:|---:|---:|---:|---:|---:|---:|")
    warm_floor, cold_floor = rate(nat["floor"], files), rate(cold.get("floor"), files)
    for name, key in NATIVE_ROWS:
        cells, peak = [], 0
        for source, base in ((nat, warm_floor), (cold, cold_floor)):
            f = source.get(key)
            if f and f.get("seconds"):
                r = rate(f, files)
                cells.append("%.2f | %s | %.2f" % (f["seconds"], format(int(r), ","), r / base))
                peak = max(peak, f["peak_kib"])
            else:
                cells.append("- | - | -")
        if peak:
            lines.append("| %s | %s | %s | %.1f MiB |" % (name, cells[0], cells[1], peak / MIB))
    lines.append("")
    sv = nat["sorvane"]
    same = all(sv[k] == nat["sorvane_plain"][k] for k in ("lines", "rc", "files", "infected", "removed"))
    lines.append("Detections: sorvane-offline %s of %s samples (the same lines, counters and exit code without "
                 "the read-ahead: %s)%s." % (
                     sv["infected"], t["samples"], "yes" if same else "NO",
                     ", clamscan %s (it parses only the sample made a complete PE image)" %
                     nat["clamscan"]["infected"] if "clamscan" in nat else ""))
    small = nat["sorvane_small"]
    peak = max(sv["peak_kib"], cold.get("sorvane", {}).get("peak_kib", 0))
    lines.append("sorvane-offline peak memory: %.1f MiB on %s files, %.1f MiB on %s files." % (
        peak / MIB, format(files, ","), small["peak_kib"] / MIB, format(small["files"], ",")))
    if cold.get("sorvane"):
        rows.append(("sorvane-offline cold >= 1.5 x the one-thread floor",
                     rate(cold["sorvane"], files) / cold_floor, 1.5, ">="))
    rows.append(("sorvane-offline warm >= 0.75 of the floor", rate(sv, files) / warm_floor, 0.75, ">="))
    if "clamscan" in nat:
        rows.append(("sorvane-offline >= 5 x clamscan", rate(sv, files) / rate(nat["clamscan"], files),
                     5, ">="))
    rows.append(("sorvane-offline peak memory < 16 MiB", peak / MIB, 16, "<"))


def table(results):
    rows, lines = [], []
    nat = results.get("native")
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
    ap.add_argument("--files", type=int, default=100000)
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
    if not args.no_native and not args.no_peer and not shutil.which("clamscan"):
        log("installing the peer scanner (Debian clamav)")
        subprocess.run([os.path.join(HERE, "install-peer")], check=True)
    log("load average %.2f %.2f %.2f" % os.getloadavg())
    started = time.perf_counter()
    results = {"load_before": os.getloadavg()}
    prepare(work, forge, sigexp)
    if not args.no_native:
        results["native"] = native_figures(args, work, forge, offline, floor)
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
