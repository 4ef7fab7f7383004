#!/usr/bin/env python3
"""The exported YARA rules, run by the yara command-line tool, say what the
scanner says: on the forge's corpus every sample matches exactly the rule
of its own detection and no near miss matches; on padded copies of real
executables, archive fragments at the window edges, short or cut archives
and header mutants of every kind, yara and `sorvane-offline --action
report` name the same detection (or none); and no file of the real clean
corpora the integrity check scans matches.

usage: yara_rules.py SORVANE_OFFLINE FORGE WORKDIR
"""
import os
import random
import re
import shutil
import struct
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "..", "bench"))
import integrity  # noqa: E402  (the clean corpora)

# Real executables, as the host of padded copies and as clean files.
WINE_PE_DIRS = ["/usr/lib/i386-linux-gnu/wine/i386-windows", "/usr/lib/x86_64-linux-gnu/wine/x86_64-windows"]
REPORTED = re.compile(r"^C:\\(.*?)     (.+) not disinfected as per user's selection$")


def fail(message):
    print("yara_rules: " + message, file=sys.stderr)
    sys.exit(1)


def run(*args, **kw):
    return subprocess.run(list(args), stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, **kw)


def yara_matches(rules, root, scan_list=False):
    """{relative path: [detection, ...]} of every match under root."""
    args = ["yara", "-m", "-w", "-N"] + (["--scan-list"] if scan_list else ["-r"]) + [rules, root]
    out = run(*args)
    if out.returncode != 0 or out.stderr.strip():
        fail("yara failed on %s: %s" % (root, out.stderr.strip()))
    found = {}
    for line in out.stdout.splitlines():
        m = re.match(r'^\S+ \[(.*)\] (.*)$', line)
        detection = re.search(r'detection="([^"]*)"', m.group(1)).group(1)
        path = os.path.relpath(m.group(2), root if not scan_list else "/")
        found.setdefault(path, []).append(detection)
    return found


def scanner_detections(offline, root):
    """{relative path: detection} the scanner reports for the tree."""
    out = run(offline, "--action", "report", "--drive", "C=" + root)
    if out.returncode not in (0, 1):
        fail("sorvane-offline failed (%d): %s" % (out.returncode, out.stderr.strip()))
    found = {}
    for line in out.stdout.splitlines():
        m = REPORTED.match(line)
        if m:
            found[m.group(1).replace("\\", "/")] = m.group(2)
    return found


def forge(forge_bin, *args):
    out = run(forge_bin, *args)
    if out.returncode != 0:
        fail("forge %s: %s" % (" ".join(args), out.stderr.strip()))


def wine_executables(limit):
    files = []
    for folder in WINE_PE_DIRS:
        if os.path.isdir(folder):
            files += integrity.regular_files(folder, lambda p: p.endswith((".exe", ".dll")))
    return integrity.pick(files, limit)


def write_variants(forge_bin, extra):
    """Samples beyond the corpus: padded copies of real executables, the
    archive records' fragments at the first and last window positions and
    just past them, and archive worms whose end is short or missing."""
    os.makedirs(extra)
    hosts = [os.path.join(extra, "host.exe")]
    forge(forge_bin, "worm-host", hosts[0])
    hosts += wine_executables(40)
    copies = 0
    for n, host in enumerate(hosts):
        out = run(forge_bin, "find-record", host)
        if out.returncode == 0 and copies < 6:
            forge(forge_bin, "backdoor", out.stdout.strip(), os.path.join(extra, "copy%d.exe" % n), "--from", host)
            copies += 1
    if copies == 0:
        fail("no padded copy could be made")
    for record in range(1, 10):
        for w1, w2 in ((0, 1003), (1003, 0), (1004, 0), (0, 1004)):
            forge(forge_bin, "archive-record", str(record), os.path.join(extra, "rec%d-%d-%d.zip" % (record, w1, w2)),
                  "--window1", str(w1), "--window2", str(w2))
    for variant in ("H", "K", "J", "N", "O", "Aa"):
        for tag, opts in (("short-end", ["--end-bytes", "10"]), ("no-end", ["--end-bytes", "0"]),
                          ("extra", ["--extra", "7"]), ("mixed-case", ["--name", "Photo.ScR"]),
                          ("two-dots", ["--name", "a.exe.txt"]), ("no-dot", ["--name", "readme"])):
            forge(forge_bin, "zip-worm", variant, os.path.join(extra, "zip-%s-%s.zip" % (variant, tag)), *opts)
    for variant in ("N", "O"):
        forge(forge_bin, "rar-worm", variant, os.path.join(extra, "rar-%s-mixed-case.rar" % variant), "--name", "x.PiF")


def write_mutants(sources, mutants):
    """Each source with its headers changed: the section count (none, more),
    section fields, the entry point, the header offset, archive header
    fields, single bytes. A fixed seed: the same files every run."""
    os.makedirs(mutants)
    rng = random.Random(0x59415241)
    count = 0
    for source in sources:
        data = bytearray(open(source, "rb").read())
        if len(data) < 0x40:
            continue
        pe = struct.unpack_from("<H", data, 0x3C)[0]
        is_pe = data[pe:pe + 4] == b"PE\0\0" if pe + 4 <= len(data) else False
        for k in range(8):
            d = bytearray(data)
            kind = rng.randrange(5)
            if is_pe and kind == 0:
                struct.pack_into("<H", d, pe + 6, rng.choice([0, 2, 3, 20, 21]))
            elif is_pe and kind == 1:
                count_now = max(1, struct.unpack_from("<H", d, pe + 6)[0])
                at = pe + 248 + 40 * rng.randrange(min(count_now + 1, 20))
                if at + 40 <= len(d):
                    struct.pack_into("<I", d, at + rng.choice([8, 12, 20]), rng.choice(
                        [0, 1, 0x1000, 0x7FFFFFFF, 0xFFFFFFFF, rng.getrandbits(32), rng.getrandbits(16)]))
            elif is_pe and kind == 2:
                entry = struct.unpack_from("<I", d, pe + 40)[0]
                struct.pack_into("<I", d, pe + 40, (entry + rng.choice([-1, 1, -0x1000, 0x10000, -entry])) & 0xFFFFFFFF)
            elif kind == 3:
                at = rng.choice([0x3C, 0x3D, 0, 1, 6, 8, 18, 22, 26, 28])
                d[at] = rng.getrandbits(8)
            else:
                at = rng.randrange(min(len(d), 2048))
                d[at] ^= 1 << rng.randrange(8)
            name = "m%04d%s" % (count, os.path.splitext(source)[1])
            open(os.path.join(mutants, name), "wb").write(bytes(d))
            count += 1
    return count


def main():
    offline, forge_bin, work = sys.argv[1:4]
    if not shutil.which("yara"):
        fail("the yara tool is not installed (scripts/install-deps installs it)")
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    rules = os.path.join(work, "sorvane.yar")
    out = run(offline, "--yara-rules", rules)
    if out.returncode != 0:
        fail("--yara-rules failed: " + out.stderr.strip())
    if run(offline, "--yara-rules", "-").stdout != open(rules).read():
        fail("--yara-rules - writes other rules than --yara-rules FILE")
    empty = os.path.join(work, "empty")
    open(empty, "w").close()
    out = run("yara", rules, empty)
    if out.returncode != 0 or out.stderr.strip() or out.stdout.strip():
        fail("the rules do not compile cleanly: " + (out.stderr or out.stdout).strip())

    # The corpus: its manifest names the detection of every file.
    corpus = os.path.join(work, "corpus")
    forge(forge_bin, "corpus", corpus)
    found = yara_matches(rules, corpus)
    errors = []
    expected = {}
    for line in open(os.path.join(corpus, "manifest.txt")):
        path, name = line.rstrip("\n").split("\t")
        expected[path] = [] if name == "-" else [name]
    for path, names in sorted(expected.items()):
        if found.get(path, []) != names:
            errors.append("%s: yara %s, expected %s" % (path, found.get(path, []), names))
    detected = sum(1 for n in expected.values() if n)

    # Beyond the corpus, the scanner itself is the reference.
    tree = os.path.join(work, "tree")
    write_variants(forge_bin, os.path.join(tree, "extra"))
    sources = sorted(os.path.join(d, f) for d, _, fs in os.walk(os.path.join(corpus, "detect")) for f in fs)
    sources += sorted(os.path.join(tree, "extra", f) for f in os.listdir(os.path.join(tree, "extra")))
    mutants = write_mutants(sources, os.path.join(tree, "mutants"))
    reference = scanner_detections(offline, tree)
    found = yara_matches(rules, tree)
    agreed = 0
    for folder, _, files in os.walk(tree):
        for f in files:
            path = os.path.relpath(os.path.join(folder, f), tree)
            want = [reference[path]] if path in reference else []
            if found.get(path, []) != want:
                errors.append("%s: yara %s, the scanner %s" % (path, found.get(path, []), want))
            elif want:
                agreed += 1

    # The real clean corpora: nothing matches.
    listed = [p for _, _, files in integrity.corpora(True) for p in files] + wine_executables(150)
    scan_list = os.path.join(work, "clean-list.txt")
    with open(scan_list, "w") as f:
        f.write("\n".join(listed) + "\n")
    for path, names in sorted(yara_matches(rules, scan_list, scan_list=True).items()):
        errors.append("clean file %s matches %s" % (path, names))

    if errors:
        fail("%d disagreements:\n  %s" % (len(errors), "\n  ".join(errors[:40])))
    print("yara_rules: %d corpus samples and %d near misses as expected; %d mutants and variants, %d detected, "
          "as the scanner says; %d clean files unmatched" % (detected, len(expected) - detected, mutants,
                                                             agreed, len(listed)))


if __name__ == "__main__":
    main()
