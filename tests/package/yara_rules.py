#!/usr/bin/env python3
"""The exported YARA rules, run by the yara command-line tool, say what the
scanner says: on the forge's corpus and its script samples every sample
matches exactly the rule of its own detection and no near miss matches; on
padded copies of real executables, archive fragments at the window edges,
short or cut archives, header mutants of every kind and the script
records' near misses (white space moved, a gate missing or at its edge,
sizes at their edges, patterns at and across the region's edge, two
records or two rows in one file), yara and `sorvane-offline --action
report` name the same detections (or none); and no file of the real clean
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
REPORTED = re.compile(r"^C:\\(.*?)     (.+) not disinfected as per user's selection$", re.IGNORECASE)
SCRIPT_RULE = re.compile(r'rule \w+_s(\d+) \{\n  meta:\n    detection = "([^"]*)"\n(?:.*\n)*?    region = "(\w+)"\n'
                         r'    match = "(\w+)"\n    position = (-?\d+)\n    reference_size = (-?\d+)\n')
WHITESPACE = b" \t\n\x0b\x0c\r"


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
    """{relative path: [detection, ...]} the scanner reports for the tree."""
    out = run(offline, "--action", "report", "--drive", "C=" + root)
    if out.returncode not in (0, 1):
        fail("sorvane-offline failed (%d): %s" % (out.returncode, out.stderr.strip()))
    found = {}
    for line in out.stdout.splitlines():
        m = REPORTED.match(line)
        if m:
            found.setdefault(m.group(1).replace("\\", "/"), []).append(m.group(2))
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


def script_records(rules_text):
    """[(record, detection, region, kind, position, reference size, pattern)] of the script
    rules in the file; the pattern read back from the rule's expression."""
    records = []
    for m in SCRIPT_RULE.finditer(rules_text):
        number = int(m.group(1))
        regex = re.search(r"private rule sorvane_s%02d_match \{\n  strings:\n    \$p = /(.*)/\n" % number,
                          rules_text).group(1)
        regex = re.sub(r"\[\^?\\x09-\\x0d\\x20\]", "", regex)
        pattern = bytes(int(h, 16) for h in re.findall(r"\\x([0-9a-f]{2})", regex))
        records.append((number, m.group(2), m.group(3), m.group(4), int(m.group(5)), int(m.group(6)), pattern))
    return records


def write_script_samples(forge_bin, records, folder, extra):
    """Each script record's samples: the forge's own (plain and reflowed:
    returned with their detection) and its near misses, whose outcome the
    scanner decides."""
    os.makedirs(folder)
    own = {}
    tail6 = next(r[-1] for r in records if r[0] == 6)

    def save(name, data):
        open(os.path.join(folder, name), "wb").write(bytes(data))

    def made(name, *opts):
        out = run(forge_bin, "script", str(n), os.path.join(folder, name), *opts)
        return out.returncode == 0

    for n, detection, region, kind, position, reference, pattern in records:
        for tag, opts in (("plain", []), ("reflow", ["--reflow"])):
            if not made("s%02d-%s.txt" % (n, tag), *opts):
                fail("forge script %d %s failed" % (n, " ".join(opts)))
            own["s%02d-%s.txt" % (n, tag)] = [detection]
        for miss in ("below", "above", "outside", "gate"):
            made("s%02d-miss-%s.txt" % (n, miss), "--miss", miss)
        data = open(os.path.join(folder, "s%02d-plain.txt" % n), "rb").read()
        at = data.find(pattern)
        if at < 0:
            fail("script record %d: the forge's sample does not hold the rule's pattern" % n)
        end = at + len(pattern)
        for size in (reference - 4096, reference + 4096):  # the size window's edges (one past: below, above)
            if size >= 100:
                made("s%02d-size%d.txt" % (n, size), "--size", str(size))
        # White space between every byte, all six kinds; bytes near to it
        # but not white space (which YARA or another engine might take as such).
        spaced = b"".join(bytes([c]) + WHITESPACE[i % 6:i % 6 + 1] * (1 + i % 3) for i, c in enumerate(pattern[:-1]))
        save("s%02d-spaced.txt" % n, data[:at] + spaced + pattern[-1:] + data[end:])
        for b in (0x08, 0x0E, 0x1C, 0x85, 0xA0):
            save("s%02d-not-space-%02x.txt" % (n, b), data[:at + 50] + bytes([b]) + data[at + 50:])
        # The pattern's end at the head region's edge, one past it, across
        # it; its start at the tail region's edge, one before it, across it.
        # White space before or after it, or spread between its bytes (a
        # match as long as the region: yara follows one over 4096 bytes).
        for d in (0, 1, 50):
            k = 4096 + d - end if region == "head" else at + 4096 + d - len(data)
            if k < 0:
                continue
            if region == "head":
                save("s%02d-edge%+d.txt" % (n, d), data[:at] + b" " * k + data[at:])
            else:
                save("s%02d-edge%+d.txt" % (n, d), data[:end] + b" " * k + data[end:])
            gaps = [k // 99 + (i < k % 99) for i in range(99)]
            spread = b"".join(bytes([c]) + b"\t" * g for c, g in zip(pattern, gaps)) + pattern[-1:]
            save("s%02d-spread%+d.txt" % (n, d), data[:at] + spread + data[end:])
        # The gates from the sample without one: a line feed at the chunks'
        # edges (alone, or after a zero byte), a closing tag in the last 100
        # bytes, at their edge, after a zero byte.
        gate = os.path.join(folder, "s%02d-miss-gate.txt" % n)
        if os.path.exists(gate):
            g = bytearray(open(gate, "rb").read())
            chunk = 1024 if len(g) > 1024 else min(512, len(g))
            for where in {chunk - 1, chunk, len(g) - chunk, len(g) - chunk - 1} & set(range(len(g))):
                for zero in (False, True):
                    v = bytearray(g)
                    v[where] = 0x0A
                    if zero and where > 0:
                        v[where - 1] = 0
                    save("s%02d-lf%d%s.txt" % (n, where, "-z" if zero else ""), v)
            for tag, tail in (("tag", b"</bOdY>" + b"x" * 93), ("tag-out", b"</HTML>" + b"x" * 94),
                              ("tag-zero", b"\0</script>"), ("tag-end", b"</ScRiPt>")):
                save("s%02d-%s.txt" % (n, tag), bytes(g) + tail)
        # Record 6 (a tail search without a size rule) in the same file:
        # the first record in table order names it.
        save("s%02d-with6.txt" % n, data + b"\r\n" + tail6 + b"\r\n")
    # The script row after the backdoor row: it goes on after an archive
    # matcher (both named), not after an archive or backdoor record (their
    # last bytes overwritten: their size rules are exact).
    text = b"\r\n" + tail6 + b"\r\n" + b"".join(b"' line %d of the sample\r\n" % i for i in range(60))
    for host in ("zip-H.zip", "rar-N.rar", "record1.zip", "record2.zip", "b001.exe", "b002.exe", "b003.exe"):
        path = next((os.path.join(d, f) for d, _, fs in os.walk(extra) for f in fs if f == host), None)
        if not path:
            fail("no %s in the corpus" % host)
        data = open(path, "rb").read()
        save("row-" + host, data + text if host[0] in "zr" and host[1] != "e" else data[:-len(text)] + text)
    return own


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
    # The one warning allowed: the script patterns, white space allowed
    # between any two bytes, give yara only one-byte atoms.
    slow = re.compile(r'^warning: rule "sorvane_s\d+_match" in .*: string "\$p" may slow down scanning$')
    warnings = [w for w in out.stderr.splitlines() if not slow.match(w)]
    if out.returncode != 0 or warnings or out.stdout.strip():
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
    records = script_records(open(rules).read())
    own = write_script_samples(forge_bin, records, os.path.join(tree, "script"), os.path.join(corpus, "detect"))
    sources += sorted(os.path.join(tree, "script", f) for f in own)
    mutants = write_mutants(sources, os.path.join(tree, "mutants"))
    reference = scanner_detections(offline, tree)
    found = yara_matches(rules, tree)
    agreed = 0
    for folder, _, files in os.walk(tree):
        for f in files:
            path = os.path.relpath(os.path.join(folder, f), tree)
            want = reference.get(path, [])
            if found.get(path, []) != want:
                errors.append("%s: yara %s, the scanner %s" % (path, found.get(path, []), want))
            elif want:
                agreed += 1
    for f, names in sorted(own.items()):
        path = os.path.join("script", f)
        if found.get(path, []) != names:
            errors.append("%s: yara %s, expected %s" % (path, found.get(path, []), names))
    script_files = [f for f in os.listdir(os.path.join(tree, "script"))]
    script_hits = sum(1 for f in script_files if reference.get(os.path.join("script", f)))
    if len(records) != 13 or not 0 < script_hits < len(script_files):
        errors.append("%d script rules, %d of %d script samples detected" % (len(records), script_hits,
                                                                           len(script_files)))

    # The real clean corpora: nothing matches.
    listed = [p for _, _, files in integrity.corpora(True) for p in files] + wine_executables(150)
    scan_list = os.path.join(work, "clean-list.txt")
    with open(scan_list, "w") as f:
        f.write("\n".join(listed) + "\n")
    for path, names in sorted(yara_matches(rules, scan_list, scan_list=True).items()):
        errors.append("clean file %s matches %s" % (path, names))

    if errors:
        fail("%d disagreements:\n  %s" % (len(errors), "\n  ".join(errors[:40])))
    print("yara_rules: %d corpus samples and %d near misses as expected; %d script samples (%d detected), "
          "%d mutants and variants, %d detected, as the scanner says; %d clean files unmatched"
          % (detected, len(expected) - detected, len(script_files), script_hits, mutants, agreed, len(listed)))


if __name__ == "__main__":
    main()
