#!/usr/bin/env python3
"""Generates the synthetic detection data and the forge's sample layouts.

Writes, from one fixed seed:
  scanners/backdoor_signatures_data.cpp  the 269 backdoor records
  scanners/archive_signatures_data.cpp   the 9 archive records
  tools/forge/backdoor_layouts_data.cpp  per backdoor record, the PE layout
                                         (sections, entry point) in which both
                                         fragments lie where the probes look

The fragment bytes are random (no zero byte, all distinct), so no record's
fragment can be found inside another record's sample and a clean file
matches only by a 2^-160 accident. Run from anywhere; the outputs are
committed, so this only needs re-running when the data is to change.
"""
import os
import random
import sys

SEED = 0x50524F42  # fixed: the committed data must be reproducible

VARIANTS = """
A, A, A, A, A, L, D, A, A, A, A, A, A, O, K, K, Bd, Cpb, Oo, Dto, Cpb, Cpb,
Egz, Avg, Brf, Cw, Z, Dly, Ell, Iqm, Efl, Ktr, Gpv, Cpb, Cpb, Kvp, Iqn,
Lwe, Lml, Oo, Ovs, Pgq, Qcd, Tqa, Tue, Tvp, Pg, Tiw, Nxp, Tdh, Tpv, Twt,
Tjr, Aec, Tbp, Xgp, Xti, Pg, Aec, Ygb, Ryo, Yez, Ywz, Pg, Xxi, Xzj, Ybg,
Vhb, CVO, DDG, CZN, DIG, DKS, CPX, DKH, DKI, Sbp, Rnd, Aec, Sno, Ruu, Ruo,
Tvn, Tgr, Thk, Tfp, Tgb, Tgl, Thl, Tjg, Thx, Sdg, Snf, Oo, Pim, Tdf, Tfq,
ZV, EBO, GCR, Zjb, Zif, GFF, Zlm, EAO, Ydu, Xol, GOI, Pgb, DMO, DMP, DMQ,
EBP, X, Pg, Aajy, Aauv, Zvo, Pim, CWO, IFZ, GLK, Aarf, Pg, Aclg, JCG, JCC,
IXM, IWR, Zqv, Wmp, Adqy, Aars, Zyg, Pg, Aadm, Zry, Zru, Zqy, Zqw, Acny,
Wfu, Wqe, wqu, Wws, Zqu, Pg, Aaat, Acnz, Acso, Acjr, Abur, Abur, Afxm, LUI,
Agun, JUR, JUS, JUT, JUV, JUW, JUX, JVB, JVM, JVN, JVQ, JVV, JVX, KYU, KYX,
LVM, Ubf, Ucq, Ahap, Aiey, Ahqw, Ilr, Bry, Aian, Mfu, Non, Mif, Oja, Ahvv,
Pg, Ajgi, Ajhb, Okv, Abkk, Ajtp, Pfy, Oqo, Akex, Akzg, Alaz, Akdl, Noi,
Nit, Niv, Olv, Aazj, Ajrq, Altu, Alms, Amqe, Amsq, Bd, Afro, Amer, Amzv,
Aneq, Aniu, Anpa, Anvz, Anwp, Anwv, Aneq, Aobj, Pg, Wtd, Ajtx, Alat, Aogw,
Aohj, Amzv, Aose, Ankg, Pim, Aneq, Ahf, Anml, Apig, Aovi, Apbk, Alif, Aovi,
Aobt, Aobt, Aovi, Ansn, Amzj, Amya, Alfa, Apzo, Anwt, Amny, Amkt, Aqfu,
Aobt, Aovi, Abrv, Afvx, Agun, Tdh, Aggr, Aghg, Pgb, Ten, Aneq, L, Ten,
Akyx, Anhk, Akzf, Akex, Abur, Akzh, Ahf, Aops
"""

RECORDS = 269
NEGATIVE_OFFSETS = 179
MIN_SIZE, MAX_SIZE = 3745, 2870272
MIN_OFFSET, MAX_OFFSET = -365741, 2355328
D_INDEX = 6
FIRST_SIZES = [5120, 5120, 5120, 4192, 5120]  # the five leading "A" rows

# (name, Offset1, Offset2, FileSize, SizeRule) of the archive table.
ARCHIVE_ROWS = [
    ("W32/Bagle.C.Worm", 2304, 10944, 22, 3),
    ("W32/Bagle.D.Worm", 2560, 11264, 22, 3),
    ("W32/Bagle.E.Worm", 3840, 12544, 22, 3),
    ("W32/Bagle.F.Worm", 5888, 17408, 22, 3),
    ("W32/Bagle.F.Worm", 6144, 14848, 22, 3),
    ("W32/Bagle.H.Worm", 3072, 12032, 22, 3),
    ("W32/Bagle.J.Worm", 816, 1536, 22, 3),
    ("W32/Bagle.N.Worm", 800, 18128, 21922, 2),
    ("W32/Bagle.O.Worm", 832, 18176, 44444, 2),
]

HEADERS = 0x400       # SizeOfHeaders of every forged sample
FILE_ALIGN = 0x200
SECTION_ALIGN = 0x1000
FRAGMENT = 20
MAX_SECTIONS = 6
SECTION_NAMES = [".text", ".rdata", ".data", ".rsrc", ".reloc", ".idata"]


def variants():
    v = [x.strip() for x in VARIANTS.replace("\n", " ").split(",")]
    assert len(v) == RECORDS and len(set(v)) == 221, (len(v), len(set(v)))
    return v


class Patterns:
    """Random 20-byte fragments: no zero byte, varied, never repeated."""

    def __init__(self, rng):
        self.rng = rng
        self.seen = set()

    def new(self):
        while True:
            p = bytes(self.rng.randint(1, 255) for _ in range(FRAGMENT))
            if len(set(p)) >= 16 and p not in self.seen:
                self.seen.add(p)
                return p


def align_up(x, a):
    return (x + a - 1) // a * a


def make_sizes(rng):
    sizes = [0] * RECORDS
    sizes[:5] = FIRST_SIZES
    sizes[D_INDEX] = MAX_SIZE
    taken = set(sizes)
    for i in range(RECORDS):
        if sizes[i]:
            continue
        while True:
            s = int(round(4000 * (1_800_000 / 4000) ** (rng.random() ** 1.6)))
            if rng.random() < 0.55:
                s = align_up(s, FILE_ALIGN)
            if s not in taken and MIN_SIZE < s < MAX_SIZE:
                break
        taken.add(s)
        sizes[i] = s
    small = rng.choice([i for i in range(5, RECORDS) if i != D_INDEX])
    sizes[small] = MIN_SIZE
    return sizes


def make_layout(size, rng, want_overlay):
    """Sections laid out as a linker would: contiguous, aligned, raw data
    after the headers, an overlay (data past the last section) at the end."""
    avail = size - HEADERS
    overlay = avail % FILE_ALIGN
    if want_overlay and avail > 4 * 4096:
        overlay = rng.randint(600, 4000)
    raw_total = (avail - overlay) // FILE_ALIGN * FILE_ALIGN
    overlay = avail - raw_total
    blocks = raw_total // FILE_ALIGN
    if blocks < 12:
        count = 1
    else:
        count = min(rng.choice([2, 3, 3, 4, 4, 5, 6]), blocks // 3)
    # Code gets the largest share; the rest splits the remainder.
    cuts = [blocks]
    if count > 1:
        code = max(1, int(blocks * rng.uniform(0.45, 0.85)))
        code = min(code, blocks - (count - 1))
        rest = blocks - code
        parts = sorted(rng.sample(range(1, rest), count - 2)) if count > 2 else []
        bounds = [0] + parts + [rest]
        cuts = [code] + [bounds[k + 1] - bounds[k] for k in range(count - 1)]
    sections = []
    va, raw = SECTION_ALIGN, HEADERS
    for k, nblocks in enumerate(cuts):
        rsize = nblocks * FILE_ALIGN
        if k == 0:
            vsize = rsize - rng.randint(0, min(FILE_ALIGN - 1, rsize // 4))
        else:
            vsize = rsize - rng.randint(0, FILE_ALIGN - 1) if rng.random() < 0.6 \
                else rsize + rng.randint(0, 0x3000)
        sections.append((va, vsize, raw, rsize))
        va = align_up(va + vsize, SECTION_ALIGN)
        raw += rsize
    assert raw + overlay == size
    return sections


def rva_to_offset(sections, address, size):
    """The probes' mapping: first section whose end lies beyond the address,
    else the last; a result past the file is the address; 0 is the headers."""
    chosen = sections[-1] if sections else (0, 0, 0, 0)
    for s in sections:
        if (s[0] + s[1]) & 0xFFFFFFFF > address:
            chosen = s
            break
    result = (address + chosen[2] - chosen[0]) & 0xFFFFFFFF
    if result >= size:
        result = address
    return HEADERS if result == 0 else result


def target_ranges(sections, size, overlay_ok):
    """RVA ranges [lo, hi] at which a fragment lies inside raw data."""
    ranges = []
    for va, vsize, raw, rsize in sections:
        span = min(vsize, rsize)
        if span >= FRAGMENT:
            ranges.append((va, va + span - FRAGMENT))
    if overlay_ok:
        va, vsize, raw, rsize = sections[-1]
        lo = va + max(vsize, rsize)
        hi = size - FRAGMENT - raw + va
        if hi >= lo:
            ranges.append((lo, hi))
    return ranges


def pick(rng, ranges, lo_limit, hi_limit, near=None):
    """A random RVA in the ranges, clipped to [lo_limit, hi_limit]."""
    clipped = [(max(a, lo_limit), min(b, hi_limit)) for a, b in ranges]
    clipped = [(a, b) for a, b in clipped if a <= b]
    if not clipped:
        return None
    if near is not None and rng.random() < 0.6:
        local = [(max(a, near - 6000), min(b, near + 6000)) for a, b in clipped]
        local = [(a, b) for a, b in local if a <= b]
        if local:
            clipped = local
    total = sum(b - a + 1 for a, b in clipped)
    k = rng.randrange(total)
    for a, b in clipped:
        if k <= b - a:
            return a + k
        k -= b - a + 1
    raise AssertionError


def place(rng, size, sections, signs, pinned, overlay_ok):
    """Entry point and both offsets for one record, or None."""
    code_va, code_vs, _, code_rs = sections[0]
    ep_lo, ep_hi = code_va, code_va + min(code_vs, code_rs) - 1
    ranges = target_ranges(sections, size, overlay_ok)
    for _ in range(4000):
        if pinned and pinned[1] == MAX_OFFSET:
            ep = rng.randint(ep_lo, min(ep_hi, ep_lo + 200000))
        else:
            ep = rng.randint(ep_lo, ep_hi)
        offsets = []
        for k in range(2):
            if pinned and pinned[0] == k:
                t = ep + pinned[1]
                if not any(a <= t <= b for a, b in ranges):
                    break
            elif signs[k] < 0:
                t = pick(rng, ranges, ep + MIN_OFFSET + 1000, ep - 1, ep)
            else:
                t = pick(rng, ranges, ep, ep + MAX_OFFSET - 1000, ep)
            if t is None:
                break
            offsets.append(t - ep)
        if len(offsets) < 2:
            continue
        f1 = rva_to_offset(sections, (ep + offsets[0]) & 0xFFFFFFFF, size)
        f2 = rva_to_offset(sections, (ep + offsets[1]) & 0xFFFFFFFF, size)
        if abs(f1 - f2) < 2 * FRAGMENT:
            continue
        if min(f1, f2) < HEADERS or max(f1, f2) + FRAGMENT > size:
            continue
        return ep, offsets[0], offsets[1]
    return None


def make_backdoor(rng, pats):
    names = ["W32/Murkel.%s.Backdoor" % v for v in variants()]
    sizes = make_sizes(rng)
    min_index = rng.choice([i for i in range(RECORDS)
                            if sizes[i] >= 700000 and i != D_INDEX])
    pinned = {D_INDEX: (1, MAX_OFFSET), min_index: (0, MIN_OFFSET)}
    slots = [(i, k) for i in range(RECORDS) for k in range(2)]
    free = [s for s in slots if s not in ((D_INDEX, 1), (min_index, 0), (D_INDEX, 0))]
    negative = set(rng.sample(free, NEGATIVE_OFFSETS - 1)) | {(min_index, 0)}
    records, layouts = [], []
    for i in range(RECORDS):
        signs = [-1 if (i, k) in negative else 1 for k in range(2)]
        overlay_ok = rng.random() < 0.15
        for attempt in range(200):
            sections = make_layout(sizes[i], rng, overlay_ok)
            got = place(rng, sizes[i], sections, signs, pinned.get(i), overlay_ok)
            if got:
                break
        else:
            sys.exit("no layout for record %d (size %d)" % (i, sizes[i]))
        ep, o1, o2 = got
        records.append((names[i], o1, pats.new(), o2, pats.new(), sizes[i], 1))
        layouts.append((ep, sections))
    return records, layouts


def check(records, layouts):
    """The stated facts, and that each sample is found by its own record."""
    offs = [r[1] for r in records] + [r[3] for r in records]
    sizes = [r[5] for r in records]
    assert len(records) == RECORDS
    assert sum(1 for o in offs if o < 0) == NEGATIVE_OFFSETS
    assert min(offs) == MIN_OFFSET and max(offs) == MAX_OFFSET
    assert min(sizes) == MIN_SIZE and max(sizes) == MAX_SIZE
    assert sizes.index(MAX_SIZE) == D_INDEX and sizes.count(MAX_SIZE) == 1
    assert sizes[:5] == FIRST_SIZES
    for i, (rec, (ep, sections)) in enumerate(zip(records, layouts)):
        size = rec[5]
        spots = {}
        for off, pat in ((rec[1], rec[2]), (rec[3], rec[4])):
            f = rva_to_offset(sections, (ep + off) & 0xFFFFFFFF, size)
            assert HEADERS <= f and f + FRAGMENT <= size, (i, f)
            spots[f] = pat
        # Any earlier record of the same size must miss this sample.
        for j in range(i):
            other = records[j]
            if other[5] != size:
                continue
            f = rva_to_offset(sections, (ep + other[1]) & 0xFFFFFFFF, size)
            g = rva_to_offset(sections, (ep + other[3]) & 0xFFFFFFFF, size)
            assert not (spots.get(f) == other[2] and spots.get(g) == other[4]), (i, j)


def c_bytes(b):
    return "{" + ", ".join("0x%02X" % x for x in b) + "}"


def c_record(r):
    name, o1, p1, o2, p2, size, rule = r
    return '  {"%s", %d, %s, 0, %d, %s, 0, %d, %d},' % (
        name, o1, c_bytes(p1), o2, c_bytes(p2), size, rule)


HEADER_NOTE = "// Generated by tools/gen_signatures.py (seed 0x%08X); do not edit.\n" % SEED


def write(path, text):
    with open(path, "w", newline="\n") as f:
        f.write(text)


def main():
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    rng = random.Random(SEED)
    pats = Patterns(rng)
    records, layouts = make_backdoor(rng, pats)
    check(records, layouts)
    archive = [(n, o1, pats.new(), o2, pats.new(), s, rule)
               for n, o1, o2, s, rule in ARCHIVE_ROWS]

    out = [HEADER_NOTE,
           "// Backdoor records: fragments located relative to the entry point.\n",
           '#include "scanners/signature_record.h"\n\n',
           "const SignatureRecord BackdoorSignatures[BackdoorSignatureCount + 1] = {\n"]
    out += [c_record(r) + "\n" for r in records]
    out.append("  {},\n};\n")
    write(os.path.join(root, "scanners/backdoor_signatures_data.cpp"), "".join(out))

    out = [HEADER_NOTE,
           "// Archive records: fragments searched near fixed file offsets.\n",
           '#include "scanners/signature_record.h"\n\n',
           "const SignatureRecord ArchiveSignatures[ArchiveSignatureCount + 1] = {\n"]
    out += [c_record(r) + "\n" for r in archive]
    out.append("  {},\n};\n")
    write(os.path.join(root, "scanners/archive_signatures_data.cpp"), "".join(out))

    out = [HEADER_NOTE,
           "// Per backdoor record: entry point and sections of its forged sample.\n",
           '#include "tools/forge/backdoor_layouts.h"\n\n',
           "const BackdoorLayout BackdoorLayouts[BackdoorLayoutCount] = {\n"]
    for ep, sections in layouts:
        secs = ", ".join("{0x%X, 0x%X, 0x%X, 0x%X}" % s for s in sections)
        out.append("  {0x%X, 0x%X, %d, {%s}},\n" % (ep, HEADERS, len(sections), secs))
    out.append("};\n")
    write(os.path.join(root, "tools/forge/backdoor_layouts_data.cpp"), "".join(out))

    negatives = sum(1 for r in records for o in (r[1], r[3]) if o < 0)
    print("backdoor records: %d, negative offsets: %d, sizes %d..%d"
          % (len(records), negatives, min(r[5] for r in records), max(r[5] for r in records)))


if __name__ == "__main__":
    main()
