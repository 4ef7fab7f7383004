#!/usr/bin/env python3
"""Generates the synthetic detection data of the worm file disinfector and
of the script and page cleaner.

Writes, from one fixed seed:
  scanners/worm_variants_data.cpp      the anchor immediates of the N and O
                                       variants and the three stored
                                       plaintexts (48, 48 and 60 bytes)
  scanners/script_signatures_data.cpp  the 13 script records, their 100-byte
                                       patterns scrambled with one key byte

The patterns are the whitespace-free form of short texts that read like
what each record stands for (the end or start of a VBS or JS script, an
HTML page, strings at the end of a worm executable). They do nothing: no
address, no download, no file or registry change. Run from anywhere; the
outputs are committed, so this only needs re-running when the data is to
change.
"""
import os
import random
import sys

SEED = 0x4A4F4C45  # fixed: the committed data must be reproducible

WHITESPACE = b" \t\n\v\f\r"
PATTERN = 100

# (name, reference size, size rule, region, match kind, position, text)
# Region 0 head, 1 tail; kind 1 search, 0 fixed at position.
RECORDS = [
    ("VBS/Bagle.Q.Worm", 552, 17, 1, 1, 0, """
        Next
        Set objFolder = Nothing
        Set objShell = Nothing
        WScript.Echo "Sample finished: " & CStr(intCount) & " items listed"
        End Sub
        Call ListItems()
        WScript.Quit 0
    """),
    ("VBS/Bagle.Q.Worm", 1742, 17, 0, 1, 0, """
        On Error Resume Next
        Dim objShell, objFolder, strTemp, intCount
        Set objShell = CreateObject("WScript.Shell")
        strTemp = objShell.ExpandEnvironmentStrings("%TEMP%")
        intCount = 0
    """),
    ("W32/Bagle.Z.Worm", 134625, 17, 1, 0, 114, """
        KERNEL32.dll LoadLibraryA GetProcAddress GetModuleHandleA
        VirtualAlloc VirtualFree ExitProcess USER32.dll wsprintfA
        ADVAPI32.dll RegOpenKeyExA RegCloseKey
    """),
    ("W32/Bagle.Z.Worm", 135614, 17, 1, 0, 275, """
        StringFileInfo 040904B0 CompanyName FileDescription
        Sample component FileVersion 1.0.0.4 InternalName sample
        LegalCopyright OriginalFilename sample.exe VarFileInfo
    """),
    ("W32/Bagle.Aa.Worm", 72717, 17, 1, 1, 0, """
        MIME-Version: 1.0
        Content-Type: multipart/mixed; boundary="----=_NextPart_000_0001_SAMPLE"
        X-Priority: 3 (Normal)
        X-MSMail-Priority: Normal
    """),
    ("W32/Bagle.Aa.Worm", 68734, 18, 1, 1, 0, """
        Content-Type: application/octet-stream; name="document.zip"
        Content-Transfer-Encoding: base64
        Content-Disposition: attachment; filename="document.zip"
    """),
    ("W32/Bagle.Aa.Worm", 73741, 18, 1, 1, 0, """
        HELO localhost MAIL FROM:<sample@example.invalid>
        RCPT TO:<test@example.invalid> DATA QUIT
        Subject: Re: sample Date: Thu, 01 Jan 2004 00:00:00
    """),
    ("W32/Bagle.Aa.Worm", 73286, 17, 1, 1, 0, """
        .htm .html .txt .wab .dbx .tbb .asp .php .sht .adb .eml .mbx
        skip: noreply@ postmaster@ abuse@ webmaster@ root@ admin@ info@
        example.invalid
    """),
    ("JS/Bagle.Aq.Worm", 1086, 17, 0, 1, 0, """
        <script language="JavaScript">
        var sampleShell = new ActiveXObject("WScript.Shell");
        var sampleTemp = sampleShell.ExpandEnvironmentStrings("%TEMP%");
        document.write(sampleTemp);
    """),
    ("W32/Bagle.Z.Worm", 31597, 17, 1, 1, 0, """
        SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders
        Personal AppData Cache Recent sample.dat %s\\%s.exe
    """),
    ("W32/Bagle.Z.Worm", 141588, 17, 1, 1, 0, """
        Runtime error in sample module: assertion failed at core.c line 42,
        not enough memory to load the resources of this program (R0001)
    """),
    ("HTML/Bagle.Dl.A.Trojan", 111, 17, 0, 0, 0, """
        <html><head><meta http-equiv="Content-Type" content="text/html; charset=windows-1252">
        <title>Sample page</title></head>
    """),
    ("HTML/Bagle.Dl.A.Trojan", 1123, 17, 0, 0, 19, """
        <body onload="window.status='Done';"><iframe src="sample.htm" width="0" height="0"
        frameborder="0"></iframe><p>Loading...</p>
    """),
]


def strip(text):
    return bytes(b for b in text.encode("ascii") if b not in WHITESPACE)


def patterns():
    out = []
    for rec in RECORDS:
        p = strip(rec[6])
        assert len(p) >= PATTERN, (rec[0], len(p))
        p = p[:PATTERN]
        assert 0 not in p
        out.append(p)
    assert len(set(out)) == len(out)
    # No pattern may stand inside another's sample text.
    for i, a in enumerate(out):
        for j, b in enumerate(out):
            assert i == j or a not in b
    return out


def c_bytes(b, per_line=12, indent="    "):
    lines = []
    for i in range(0, len(b), per_line):
        lines.append(indent + ", ".join("0x%02X" % x for x in b[i:i + per_line]) + ",")
    return "\n".join(lines)


def c_string(s):
    return '"' + s.replace("\\", "\\\\").replace('"', '\\"') + '"'


def write(path, text):
    with open(path, "w", newline="\n") as f:
        f.write(text)


def worm_data(rng):
    # Immediates: loop counts of a few kilobytes, as a worm body would have.
    imm_n = rng.randrange(0x0A00, 0x1000) | 1
    imm_o = rng.randrange(0x1000, 0x1800) & ~1
    assert (imm_n & 0xFF) != (imm_o & 0xFF) and imm_n != imm_o

    def plaintext(n):
        # A delta-offset prologue (pushad; call $+5; pop ebp; sub ebp, imm32)
        # followed by code-like random bytes.
        head = bytes([0x60, 0xE8, 0, 0, 0, 0, 0x5D, 0x81, 0xED]) + bytes(rng.randrange(256) for _ in range(4))
        return head + bytes(rng.randrange(256) for _ in range(n - len(head)))

    pn, po, pq = plaintext(48), plaintext(48), plaintext(60)
    assert len({pn[:48], po[:48], pq[:48]}) == 3
    out = [
        "// Generated by tools/gen_worm_script_data.py (seed 0x%08X); do not edit.\n" % SEED,
        "// Detection data of the worm variants: anchor immediates and the first\n",
        "// decrypted bytes of each variant's body.\n",
        '#include "scanners/worm_variants.h"\n\n',
        "const uint32_t WormImmediateN = 0x%08X;\n" % imm_n,
        "const uint32_t WormImmediateO = 0x%08X;\n\n" % imm_o,
    ]
    for name, p in (("N", pn), ("O", po), ("Q", pq)):
        out.append("const uint8_t WormPlaintext%s[%d] = {\n%s\n};\n" % (name, len(p), c_bytes(p)))
    return "".join(out)


def script_data(rng):
    key = rng.randrange(1, 256)
    while key in WHITESPACE:
        key = rng.randrange(1, 256)
    pats = patterns()
    out = [
        "// Generated by tools/gen_worm_script_data.py (seed 0x%08X); do not edit.\n" % SEED,
        "// Script and page records; patterns scrambled with ScriptSignatureKey.\n",
        '#include "scanners/script_signatures.h"\n\n',
        "const uint8_t ScriptSignatureKey = 0x%02X;\n\n" % key,
        "const ScriptSignature ScriptSignatureTable[ScriptSignatureCount] = {\n",
    ]
    for rec, p in zip(RECORDS, pats):
        name, ref, rule, region, kind, pos, _ = rec
        scrambled = bytes(b ^ key for b in p)
        out.append("  {%s, %d, %d, %d, %d,\n   {\n%s\n   },\n   %d, %d},\n" % (
            c_string(name), ref, pos, PATTERN, region, c_bytes(scrambled, 12, "    "), kind, rule))
    out.append("};\n")
    return "".join(out)


def main():
    root = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
    rng = random.Random(SEED)
    write(os.path.join(root, "scanners/worm_variants_data.cpp"), worm_data(rng))
    write(os.path.join(root, "scanners/script_signatures_data.cpp"), script_data(rng))
    return 0


if __name__ == "__main__":
    sys.exit(main())
