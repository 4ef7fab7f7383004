#!/usr/bin/env python3
"""Writes the benchmark's reproducible clean tree.

usage: make_tree.py DIR [--files N] [--seed S] [--sizes FILE] [--compact]

N files (default 100,000) in nested folders (depth up to 6, one large
system-like folder), by count about 40% text and web pages (with and
without line feeds, some ending in closing tags), 30% PE executables and
DLLs whose sizes follow the backdoor records' sizes (FILE: one size a line,
from `signature-export sizes`; some files have exactly a record's size),
10% ZIP and RAR archives (some encrypted) and 20% other binaries. The same
seed always gives the same bytes. Prints the number of files and bytes.

--compact writes the other kind of tree a scanner meets: N small files
(most of a few KB, none over 128 KB) in folders up to 12 deep with a
handful of files each, by count about 40% text and web pages, 35% PE
executables and DLLs (some of exactly a record's size where a record is
that small), 5% small ZIP archives and 20% other binaries.
The forged samples are written separately (run_bench.py), since every scan
removes or repairs them.
"""
import bisect
import io
import math
import os
import random
import struct
import sys
import zipfile
import zlib

WORDS = ("system report photo notes setup data index readme lib common shell "
         "config driver update backup music video docs help print media net "
         "user local cache temp log core util font image sound web store").split()
TEXT_EXTS = (".txt", ".log", ".ini", ".cfg", ".csv", ".md", ".xml")
PAGE_EXTS = (".htm", ".html")
SCRIPT_EXTS = (".js", ".vbs", ".css")
PE_EXTS = (".exe", ".dll", ".dll", ".sys", ".ocx")
OTHER_EXTS = (".dat", ".bin", ".jpg", ".png", ".gif", ".db", ".pak", ".mp3", ".idx", "")


class Bytes:
    """Seeded pseudo-random bytes, served as slices of one pool."""

    def __init__(self, rng, size=1 << 22):
        self.pool = rng.randbytes(size)
        self.rng = rng

    def take(self, n):
        out = bytearray()
        while len(out) < n:
            at = self.rng.randrange(len(self.pool) - 4096)
            out += self.pool[at:at + min(n - len(out), len(self.pool) - at)]
        return bytes(out)


def log_size(rng, low, high):
    return int(math.exp(rng.uniform(math.log(low), math.log(high))))


def text_lines(rng, count, width=70):
    lines = []
    for _ in range(count):
        words, n = [], 0
        while n < width:
            w = rng.choice(WORDS)
            words.append(w)
            n += len(w) + 1
        lines.append(" ".join(words))
    return lines


def text_file(rng, ext):
    size = log_size(rng, 40, 64 * 1024)
    kind = rng.random()
    eol = "\r\n" if rng.random() < 0.5 else "\n"
    if ext in PAGE_EXTS:
        body = "".join("<p>%s</p>" % l for l in text_lines(rng, max(1, size // 80)))
        if kind < 0.35:  # one long line, found only by its closing tags
            page = "<html><head><title>%s</title></head><body>%s</body></html>" % (
                rng.choice(WORDS), body)
            if rng.random() < 0.5:
                page = page.upper()
        else:
            page = eol.join(["<html>", "<head><title>%s</title></head>" % rng.choice(WORDS),
                             "<body>", body.replace("</p>", "</p>" + eol), "</body>", "</html>", ""])
        return page.encode()
    if ext in SCRIPT_EXTS:
        if kind < 0.4:  # minified: no line feed, no closing tag
            return (";".join("var %s%d=%d" % (rng.choice(WORDS), i, i) for i in range(max(1, size // 14)))).encode()
        return eol.join("  %s(%s);" % (rng.choice(WORDS), l.replace(" ", ", "))
                        for l in text_lines(rng, max(1, size // 80))).encode() + eol.encode()
    lines = text_lines(rng, max(1, size // 72))
    if kind < 0.1:  # a single line without any line feed
        return " ".join(lines).encode()[:size]
    return (eol.join(lines) + eol).encode()


def pe_file(rng, pool, size, dll):
    """A PE32 image of exactly `size` bytes: headers, 2 to 5 sections, and an
    overlay for the bytes that do not fill a 512-byte block."""
    sections = rng.randint(2, 5)
    names = [b".text", b".rdata", b".data", b".rsrc", b".reloc"][:sections]
    header = 0x400
    body = max(0, size - header)
    raw = [0] * sections
    blocks = body // 0x200
    for i in range(sections):
        share = blocks if i == sections - 1 else rng.randint(0, blocks)
        raw[i] = share * 0x200
        blocks -= share
    overlay = body - sum(raw)
    pe = 0x80
    img = bytearray(header)
    img[0:2] = b"MZ"
    struct.pack_into("<I", img, 0x3C, pe)
    img[0x40:0x40 + 39] = b"This program cannot be run in DOS mode."
    img[pe:pe + 4] = b"PE\0\0"
    struct.pack_into("<HHIIIHH", img, pe + 4, 0x14C, sections, rng.getrandbits(31), 0, 0, 224,
                     0x2102 if dll else 0x0102)
    va, pointer, table = 0x1000, header, pe + 24 + 224
    for i in range(sections):
        vsize = raw[i] + rng.randrange(0, 0x800)
        struct.pack_into("<8sIIIIIIHHI", img, table + 40 * i, names[i], vsize, va, raw[i], pointer,
                         0, 0, 0, 0, 0x60000020 if i == 0 else 0x40000040)
        if i == 0:
            entry = va + rng.randrange(0, max(1, raw[0])) if raw[0] else va
        va += (vsize + 0xFFF) & ~0xFFF
        pointer += raw[i]
    opt = pe + 24
    struct.pack_into("<HBBIIIIII", img, opt, 0x10B, 2, 25, raw[0], body - raw[0], 0, entry, 0x1000,
                     0x1000)
    struct.pack_into("<IIIHHHHHHIIIIHHIIIIII", img, opt + 28, 0x10000000 if dll else 0x400000,
                     0x1000, 0x200, 4, 0, 0, 0, 4, 0, 0, va, header, 0, 2 if rng.random() < 0.6 else 3,
                     0, 0x100000, 0x1000, 0x100000, 0x1000, 0, 16)
    out = bytearray(img[:min(size, header)])
    for i in range(sections):
        if i == 2:  # data: mostly zeros
            out += bytes(raw[i] // 2) + pool.take(raw[i] - raw[i] // 2)
        else:
            out += pool.take(raw[i])
    out += pool.take(overlay)
    return bytes(out[:size])


def zip_file(rng, pool, encrypted):
    if not encrypted:
        buf = io.BytesIO()
        with zipfile.ZipFile(buf, "w") as z:
            for i in range(rng.randint(1, 6)):
                name = "%s%d%s" % (rng.choice(WORDS), i, rng.choice(TEXT_EXTS + PE_EXTS))
                if rng.random() < 0.5:
                    data = "\n".join(text_lines(rng, rng.randint(1, 400))).encode()
                else:
                    data = pool.take(log_size(rng, 100, 200 * 1024))
                method = zipfile.ZIP_DEFLATED if rng.random() < 0.8 else zipfile.ZIP_STORED
                z.writestr(zipfile.ZipInfo(name, (2004, 3, 1, 12, 0, 0)), data, compress_type=method)
        return buf.getvalue()
    # Traditional encryption: flag bit 0, a 12-byte header and opaque data.
    entries, out = [], bytearray()
    count = rng.randint(1, 4)
    for i in range(count):
        name = ("%s%d%s" % (rng.choice(WORDS), i, entry_ext(rng, i, count))).encode()
        packed = pool.take(12 + log_size(rng, 200, 150 * 1024))
        crc, plain = rng.getrandbits(32), clean_size(len(packed) + rng.randrange(2000), i, count)
        entries.append((name, len(out), crc, len(packed), plain))
        out += struct.pack("<IHHHHHIIIHH", 0x04034B50, 20, 1, 8, 0, 0x3061, crc, len(packed), plain,
                           len(name), 0) + name + packed
    start = len(out)
    for name, at, crc, packed, plain in entries:
        out += struct.pack("<IHHHHHHIIIHHHHHII", 0x02014B50, 20, 20, 1, 8, 0, 0x3061, crc, packed,
                           plain, len(name), 0, 0, 0, 0, 0x20, at) + name
    out += struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, len(entries), len(entries), len(out) - start,
                       start, 0)
    return bytes(out)


# Entry sizes the archive matchers look for (encrypted executables of the
# worms); a clean archive's first entry keeps out of them (also with more
# entries: a second entry can read as a short end record).
WORM_BANDS = ((0x2C00, 0x7800), (0xA800, 0xBC00), (0x10400, 0x12400))


def clean_size(size, index, count):
    if index > 0:
        return size
    for low, high in WORM_BANDS:
        if low <= size <= high:
            return high + 1 + size % 997
    return size


def entry_ext(rng, index, count):
    if index == 0 and count == 1 and rng.random() < 0.6:
        return rng.choice((".doc", ".xls", ".pdf", ".txt", ".jpg"))
    return rng.choice(TEXT_EXTS + PE_EXTS)


def rar_block(kind, flags, rest):
    body = bytes([kind]) + struct.pack("<HH", flags, 7 + len(rest)) + rest
    return struct.pack("<H", zlib.crc32(body) & 0xFFFF) + body


def rar_file(rng, pool, encrypted):
    out = bytearray(b"Rar!\x1a\x07\x00")
    out += rar_block(0x73, 0, bytes(6))
    count = rng.randint(1, 4)
    for i in range(count):
        name = ("%s%d%s" % (rng.choice(WORDS), i, entry_ext(rng, i, count))).encode()
        packed = pool.take(log_size(rng, 200, 150 * 1024))
        flags = 0x8000 | (0x04 if encrypted else 0)
        stored = rng.random() < 0.3
        unpacked = clean_size(len(packed), i, count) if stored else len(packed) * 2
        rest = struct.pack("<IIBIIBBHI", len(packed), unpacked, 2, rng.getrandbits(32),
                           0x30610000, 29, 0x30 if stored else 0x33, len(name), 0x20) + name
        out += rar_block(0x74, flags, rest) + packed
    out += rar_block(0x7B, 0x4000, b"")
    return bytes(out)


def other_file(rng, pool):
    size = log_size(rng, 16, 512 * 1024)
    if rng.random() < 0.2:
        return bytes(size)
    return pool.take(size)


def compact_text(rng, ext):
    """A page, script or text file of 200 bytes to 32 KB."""
    size = log_size(rng, 200, 32 * 1024)
    eol = "\r\n" if rng.random() < 0.5 else "\n"
    lines = text_lines(rng, max(1, size // 72))
    if ext in PAGE_EXTS:
        return eol.join(["<html>", "<head><title>%s</title></head>" % rng.choice(WORDS), "<body>"] +
                        ["<p>%s</p>" % l for l in lines] + ["</body>", "</html>", ""]).encode()
    return (eol.join(lines) + eol).encode()


def compact_pe(rng, pool, sizes, ext):
    """A PE image of 1 KB to 128 KB; one in ten of a record's size where
    some record is that small."""
    small = [s for s in sizes if s <= 128 * 1024]
    if small and rng.random() < 0.1:
        size = rng.choice(small)
    else:
        size = log_size(rng, 1024, 128 * 1024)
    return pe_file(rng, pool, size, ext != ".exe")


def compact_zip(rng, pool):
    buf = io.BytesIO()
    with zipfile.ZipFile(buf, "w") as z:
        for i in range(rng.randint(1, 3)):
            name = "%s%d%s" % (rng.choice(WORDS), i, rng.choice(TEXT_EXTS))
            data = "\n".join(text_lines(rng, rng.randint(1, 100))).encode()
            z.writestr(zipfile.ZipInfo(name, (2004, 3, 1, 12, 0, 0)), data,
                       compress_type=zipfile.ZIP_DEFLATED)
    return buf.getvalue()


def write_files(rng, files, pick_folder, kinds):
    """Writes `files` files, each in the folder pick_folder() gives and of
    the first kind whose bound the draw falls under; kinds: (bound, make),
    make() -> (extension, bytes), the last bound 1. Returns the bytes
    written."""
    total = 0
    for i in range(files):
        folder = pick_folder()
        kind = rng.random()
        ext, data = next(make for bound, make in kinds if kind < bound)()
        name = "%s_%d%s" % (rng.choice(WORDS), i, ext)
        with open(os.path.join(folder, name), "wb") as out:
            out.write(data)
        total += len(data)
    return total


def with_ext(rng, exts, make):
    """A kind whose extension is drawn from exts, then its bytes made from it."""
    def made():
        ext = rng.choice(exts)
        return ext, make(ext)
    return made


def write_compact(rng, pool, root, files, sizes):
    """The compact tree: small files, deep folders of a few files each."""
    folders = make_folders(rng, root, max(8, files // 6), depth=11)
    for f in folders:
        os.makedirs(f, exist_ok=True)

    def other():
        ext = rng.choice(OTHER_EXTS)
        size = log_size(rng, 100, 48 * 1024)
        return ext, bytes(size) if rng.random() < 0.2 else pool.take(size)

    kinds = [(0.40, with_ext(rng, TEXT_EXTS + PAGE_EXTS + SCRIPT_EXTS, lambda e: compact_text(rng, e))),
             (0.75, with_ext(rng, PE_EXTS, lambda e: compact_pe(rng, pool, sizes, e))),
             (0.80, lambda: (".zip", compact_zip(rng, pool))),
             (1.0, other)]
    total = write_files(rng, files, lambda: rng.choice(folders[1:]), kinds)
    return total, len(folders)


def write_tree(rng, pool, root, files, sizes):
    """Today's tree: files of up to a few MB, one folder with many entries."""
    folders = make_folders(rng, root, max(8, files // 25))
    big = folders[2]  # WINDOWS: one folder with many entries, like a system folder
    for f in folders:
        os.makedirs(f, exist_ok=True)

    def pe(ext):
        if rng.random() < 0.1:
            size = rng.choice(sizes)  # a record's size; the fragments differ
        else:  # between two neighbouring record sizes, log-interpolated
            at = rng.randrange(len(sizes) - 1)
            size = log_size(rng, sizes[at], sizes[at + 1] + 1)
        return pe_file(rng, pool, size, ext != ".exe")

    def archive():
        ext = ".zip" if rng.random() < 0.7 else ".rar"
        encrypted = rng.random() < 0.25
        return ext, zip_file(rng, pool, encrypted) if ext == ".zip" else rar_file(rng, pool, encrypted)

    kinds = [(0.40, with_ext(rng, TEXT_EXTS + PAGE_EXTS + SCRIPT_EXTS, lambda e: text_file(rng, e))),
             (0.70, with_ext(rng, PE_EXTS, pe)),
             (0.80, archive),
             (1.0, with_ext(rng, OTHER_EXTS, lambda e: other_file(rng, pool)))]
    total = write_files(rng, files, lambda: big if rng.random() < 0.03 else rng.choice(folders[1:]), kinds)
    return total, len(folders)


def make_folders(rng, root, count, depth=5):
    """Folder paths below root: a few top-level trees, nested up to depth + 1
    levels."""
    folders, seen = [root], set()
    tops = ["Program Files", "WINDOWS", "Documents and Settings", "Users", "data.v2", "Games"]
    for t in tops:
        folders.append(os.path.join(root, t))
    while len(folders) < count:
        parent = rng.choice(folders[1:])
        if os.path.relpath(parent, root).count(os.sep) >= depth:
            continue
        name = "%s%s" % (rng.choice(WORDS).capitalize(), rng.choice(["", "", str(len(folders)), ".d", " Files"]))
        path = os.path.join(parent, name)
        if path not in seen:
            seen.add(path)
            folders.append(path)
    return folders


def main():
    args = sys.argv[1:]
    if not args or args[0].startswith("-"):
        sys.exit(__doc__)
    root = args[0]
    opt = lambda name, default: args[args.index(name) + 1] if name in args else default
    files = int(opt("--files", 100000))
    seed = int(opt("--seed", 1))
    sizes = sorted(int(l) for l in open(opt("--sizes", ""))) if "--sizes" in args else [3745, 2870272]
    rng = random.Random(seed)
    pool = Bytes(rng)
    write = write_compact if "--compact" in args else write_tree
    total, folders = write(rng, pool, root, files, sizes)
    print("files %d bytes %d folders %d" % (files, total, folders))


if __name__ == "__main__":
    main()
