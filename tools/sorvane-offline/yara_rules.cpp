// The YARA rule file: one rule per encrypted-archive matcher, per archive
// record and per backdoor record, in the order the backdoor scanner tries
// them, then the script records (yara_script_rules.cpp). Each search
// stops at its first match, so every rule also requires that no rule
// before it in the same search matched (a chain of private "seen" rules);
// a file thus matches the rules of the detections the scanner reports.
// Headers are read with uint8/uint16/uint32 at the offsets the probes
// read, with the probes' 32-bit arithmetic, and every
// read the probes need whole is bounded by filesize first (a read past the
// end leaves a YARA condition undefined, which `not` would not turn true).
#include "tools/sorvane-offline/yara_rules.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "scanners/signature_match.h"
#include "scanners/signature_record.h"
#include "tools/sorvane-offline/yara_rule_text.h"
#include "tools/sorvane-offline/yara_script_rules.h"
#include "tools/version/version.h"

namespace {

// Parameters of the backdoor scanner's archive matchers, in its order
// (scanners/archive_match.cpp, scanners/backdoor_scanner.cpp). The rule
// test over the forge's band edges keeps the two in step.
struct Matcher {
  const char* name;
  bool rar;
  bool storedPlus12;     // ZIP: stored, packed = size + 12; else method bits 1-2 clear
  uint32_t low, high;    // entry size band, inclusive
  uint32_t low2, high2;  // second band (high2 0: none)
  bool shortEndMatches;  // ZIP: an end record under 22 bytes still matches
};
const Matcher kMatchers[] = {
    {"W32/Bagle.H.Worm", false, true, 0x4C00, 0x6400, 0, 0, false},
    {"W32/Bagle.K.Worm", false, true, 0x2C00, 0x3C00, 0, 0, false},
    {"W32/Bagle.J.Worm", false, true, 0x4400, 0x4C00, 0, 0, false},
    {"W32/Bagle.N.Worm", false, false, 0x4C00, 0x6000, 0, 0, false},
    {"W32/Bagle.O.Worm", false, false, 0xA800, 0xBC00, 0, 0, false},
    {"W32/Bagle.N.Worm", true, false, 0x4C00, 0x6400, 0, 0, false},
    {"W32/Bagle.O.Worm", true, false, 0xA800, 0xBC00, 0, 0, false},
    {"W32/Bagle.Aa.Worm", false, false, 0x4400, 0x7800, 0x10400, 0x12400, true},
};

std::string Hex(const uint8_t* bytes, int count) {
  std::string out;
  for (int i = 0; i < count; ++i) out += YaraFormat(i ? " %02X" : "%02X", bytes[i]);
  return out;
}

const char* SizeRuleName(uint32_t rule) {
  switch (rule) {
    case ExactSize: return "exact";
    case NearSize: return "near";
    case AnySize: return "any";
    default: return "unknown";
  }
}

// The size rule on filesize; empty for AnySize.
std::string SizeCondition(const SignatureRecord& r) {
  if (r.SizeRule == ExactSize) return YaraFormat("filesize == %u", r.FileSize);
  if (r.SizeRule == NearSize)
    return YaraFormat("filesize > %lld and filesize < %lld", (long long)r.FileSize - SizeTolerance,
                  (long long)r.FileSize + SizeTolerance);
  return "";
}

// Where the probes look for a fragment at entry point + offset: through the
// first section that ends beyond that address (else the last), an offset
// at or past the end of the file giving the address itself and 0 giving
// the size of the headers. No sections: the address itself.
std::string Located(const char* string, int32_t offset) {
  const char* kSection = "uint16(0x3C) + 248 + 40 * %s";
  auto field = [&](const char* index, int at) {
    return YaraFormat("uint32(%s + %d)", YaraFormat(kSection, index).c_str(), at);
  };
  const std::string count = "uint16(uint16(0x3C) + 6)", headers = "uint32(uint16(0x3C) + 84)";
  std::string s;
  s += YaraFormat("for any a in ((uint32(uint16(0x3C) + 40) + 0x%08X) & 0xFFFFFFFF) : (\n", uint32_t(offset));
  s += YaraFormat("        (%s == 0 and ((a != 0 and %s at a) or (a == 0 and %s at %s)))\n", count.c_str(),
              string, string, headers.c_str());
  s += YaraFormat("        or for any i in (0..%s - 1) : (\n", count.c_str());
  s += YaraFormat("          (((%s + %s) & 0xFFFFFFFF) > a or i == %s - 1)\n", field("i", 12).c_str(),
              field("i", 8).c_str(), count.c_str());
  s += YaraFormat("          and (i == 0 or for all j in (0..i - 1) : (((%s + %s) & 0xFFFFFFFF) <= a))\n",
              field("j", 12).c_str(), field("j", 8).c_str());
  s += YaraFormat("          and for any r in ((a + %s - %s) & 0xFFFFFFFF) : (\n", field("i", 20).c_str(),
              field("i", 12).c_str());
  s += YaraFormat("            (r < filesize and r != 0 and %s at r) or (r == 0 and %s at %s)\n", string, string,
              headers.c_str());
  s += YaraFormat("            or (r >= filesize and a != 0 and %s at a) or (r >= filesize and a == 0 and %s at %s))))",
              string, string, headers.c_str());
  return s;
}

// The name check of the archive matchers: a name of 300 bytes or more is
// not read; otherwise it must be in the file, and when it has a "." before
// its first NUL, the text after the last such "." up to that NUL must be
// EXE, SCR, COM, BAT or PIF in any case.
std::string NameAllowed(const std::string& at, const std::string& length) {
  auto byte = [&](const char* plus) { return YaraFormat("uint8(%s + %s)", at.c_str(), plus); };
  std::string extensions;
  for (const char* ext : {"exe", "scr", "com", "bat", "pif"}) {
    if (!extensions.empty()) extensions += " or ";
    extensions += YaraFormat("((%s | 0x20) == 0x%02X and (%s | 0x20) == 0x%02X and (%s | 0x20) == 0x%02X)",
                         byte("i + 1").c_str(), ext[0], byte("i + 2").c_str(), ext[1], byte("i + 3").c_str(),
                         ext[2]);
  }
  const std::string dotBeforeNul = YaraFormat("%s == 0x2E and (i == 0 or for all j in (0..i - 1) : (%s != 0))",
                                          byte("i").c_str(), byte("j").c_str());
  std::string s = YaraFormat("for any n in (%s) : (\n", length.c_str());
  s += YaraFormat("        n >= 300 or (%s + n <= filesize and (n == 0\n", at.c_str());
  s += YaraFormat("          or not (for any i in (0..n - 1) : (%s))\n", dotBeforeNul.c_str());
  s += YaraFormat("          or for any i in (0..n - 1) : (%s\n", dotBeforeNul.c_str());
  s += YaraFormat("            and i + 4 <= n and (i + 4 == n or %s == 0)\n", byte("i + 4").c_str());
  s += YaraFormat("            and (%s)))))", extensions.c_str());
  return s;
}

std::string ZipCondition(const Matcher& m) {
  std::string s = "filesize >= 30 and uint16(0) == 0x4B50 and (uint16(6) & 1) == 1\n";
  if (m.storedPlus12) {
    s += YaraFormat("      and ((uint32(18) - uint32(22)) & 0xFFFFFFFF) == 12 and uint16(8) == 0\n"
                "      and uint32(22) >= 0x%X and uint32(22) <= 0x%X\n",
                m.low, m.high);
  } else {
    s += YaraFormat("      and (uint16(8) & 6) == 0\n      and ((uint32(22) >= 0x%X and uint32(22) <= 0x%X)", m.low,
                m.high);
    if (m.high2) s += YaraFormat(" or (uint32(22) >= 0x%X and uint32(22) <= 0x%X)", m.low2, m.high2);
    s += ")\n";
  }
  s += "      and " + NameAllowed("30", "uint16(26)") + "\n";
  // Past the entry: a central header, then the end record of a one-entry
  // archive. A file cut after the entry still matches.
  s += "      and for any a in ((30 + uint16(26) + uint16(28) + uint32(18)) & 0xFFFFFFFF) : (\n"
       "        a + 46 > filesize\n"
       "        or for any b in (a + 46 + uint16(a + 28) + uint16(a + 30) + uint16(a + 32)) : (\n"
       "          (b + 22 <= filesize and uint16(b + 8) == 1 and uint16(b + 10) == 1)";
  if (m.shortEndMatches)
    s += "\n          or (b + 22 > filesize and b < 0x80000000 and uint32(a) == 0x02014B50)";
  s += "))";
  return s;
}

std::string RarCondition(const Matcher& m) {
  std::string s =
      "filesize >= 7 and uint8(0) == 0x52 and uint8(1) == 0x61 and uint8(2) == 0x72\n"
      "      and uint16(5) + 13 <= filesize\n"
      "      and for any f in (uint16(5) + uint16(uint16(5) + 5)) : (\n"
      "        f + 32 <= filesize and (uint16(f + 3) & 4) != 0\n";
  s += YaraFormat("        and uint32(f + 11) <= uint32(f + 7) and uint32(f + 11) >= 0x%X and uint32(f + 11) <= 0x%X\n",
              m.low, m.high);
  s += "        and uint8(f + 25) == 0x30\n";
  s += "        and " + NameAllowed("f + 32", "uint16(f + 26)") + ")";
  return s;
}

std::string RecordMeta(const SignatureRecord& r, const char* kind, int number) {
  return YaraFormat("    detection = %s\n    kind = \"%s\"\n    record = %d\n    offset1 = %d\n    offset2 = %d\n"
                "    file_size = %u\n    size_rule = \"%s\"\n",
                YaraQuoted(r.Name).c_str(), kind, number, r.Offset1, r.Offset2, r.FileSize,
                SizeRuleName(r.SizeRule));
}

std::string Strings(const SignatureRecord& r) {
  return "    $f1 = { " + Hex(r.Pattern1, FragmentSize) + " }\n    $f2 = { " + Hex(r.Pattern2, FragmentSize) +
         " }\n";
}

}  // namespace

std::string YaraRules(const std::string& version, const std::string& commit) {
  std::string out = YaraFormat(
      "/*\n"
      "  sorvane-offline %s (commit %s): its detection data as YARA rules.\n"
      "  meta.detection is the name the scanner reports. A file matches at most\n"
      "  one rule: the encrypted-archive matchers are tried first, then the\n"
      "  archive records (files without a PE header), or the backdoor records\n"
      "  (files with one), each search stopping at its first match.\n"
      "  The script and page records follow, for files the backdoor row did not\n"
      "  finish (none, or an archive matcher), the first match in their order.\n"
      "  Not here: the worm file disinfector (it decrypts the worm body).\n"
      "*/\n\n",
      version.c_str(), commit.c_str());
  out +=
      "// \"PE\\0\\0\" where the 16-bit offset at 0x3C points, and the file header\n"
      "// after it whole. No \"MZ\" test.\n"
      "private rule sorvane_pe_header {\n"
      "  condition:\n"
      "    filesize >= 0x3E and filesize <= 0x7FFFFFFF and uint16(0x3C) + 24 <= filesize\n"
      "    and uint32(uint16(0x3C)) == 0x00004550\n"
      "}\n\n"
      "// The optional header's first 96 bytes and a section table of at most\n"
      "// 20 entries, read from the header offset + 248, whole.\n"
      "private rule sorvane_pe_sections {\n"
      "  condition:\n"
      "    sorvane_pe_header and uint16(0x3C) + 120 <= filesize\n"
      "    and uint16(uint16(0x3C) + 6) <= 20\n"
      "    and (uint16(uint16(0x3C) + 6) == 0 or uint16(0x3C) + 248 + 40 * uint16(uint16(0x3C) + 6) <= filesize)\n"
      "}\n\n"
      "// Files the archive matchers and records are tried on.\n"
      "private rule sorvane_not_pe {\n"
      "  condition:\n"
      "    filesize <= 0x7FFFFFFF and not sorvane_pe_header\n"
      "}\n\n";

  // Encrypted archives holding a worm copy.
  std::string before;
  int number = 0;
  for (const Matcher& m : kMatchers) {
    ++number;
    std::string meta = YaraFormat("    detection = %s\n    kind = \"archive matcher\"\n    matcher = %d\n"
                              "    format = \"%s\"\n    entry_size_low = %u\n    entry_size_high = %u\n",
                              YaraQuoted(m.name).c_str(), number, m.rar ? "RAR" : "ZIP", m.low, m.high);
    if (m.high2) meta += YaraFormat("    entry_size_low2 = %u\n    entry_size_high2 = %u\n", m.low2, m.high2);
    before = EmitYaraRule(&out, YaraFormat("m%d", number), YaraIdentifier(m.name) + YaraFormat("_m%d", number), meta, "",
                  "sorvane_not_pe and " + (m.rar ? RarCondition(m) : ZipCondition(m)), before);
  }

  const std::string matchersSeen = before;

  // Archive records: ZIP files ("PK" in their first 40 bytes), each
  // fragment in the 1024 bytes from its offset, at positions 0 to 1003.
  for (int i = 0; ArchiveSignatures[i].Name[0]; ++i) {
    const SignatureRecord& r = ArchiveSignatures[i];
    const bool never = r.Offset1 < 0 || r.Offset2 < 0 || SizeRuleName(r.SizeRule)[0] == 'u';
    std::string condition = "false  // an offset before the file or an unknown size rule: never matches";
    if (!never) {
      const std::string size = SizeCondition(r);
      condition = "$f1 and $f2 and sorvane_not_pe" + (size.empty() ? "" : " and " + size) +
                  "\n    and filesize >= 40 and uint16(0) == 0x4B50";
      for (int k = 1; k <= 2; ++k) {
        const long long at = k == 1 ? r.Offset1 : r.Offset2;
        condition += YaraFormat("\n    and %lld + %d <= filesize and $f%d in (%lld..%lld)", at, ArchiveWindowSize, k,
                            at, at + ArchiveWindowSize - FragmentSize - 1);
      }
    }
    before = EmitYaraRule(&out, YaraFormat("a%d", i + 1), YaraIdentifier(r.Name) + YaraFormat("_a%d", i + 1),
                  RecordMeta(r, "archive record", i + 1), never ? "" : Strings(r), condition,
                  before);
  }

  const std::string archiveSeen = before;

  // Backdoor records: both fragments where entry point + offset maps.
  before.clear();
  for (int i = 0; BackdoorSignatures[i].Name[0]; ++i) {
    const SignatureRecord& r = BackdoorSignatures[i];
    const bool never = SizeRuleName(r.SizeRule)[0] == 'u';
    std::string condition = "false  // an unknown size rule: never matches";
    if (!never) {
      const std::string size = SizeCondition(r);
      condition = "$f1 and $f2 and sorvane_pe_sections" + (size.empty() ? "" : " and " + size) + "\n    and " +
                  Located("$f1", r.Offset1) + "\n    and " + Located("$f2", r.Offset2);
    }
    before = EmitYaraRule(&out, YaraFormat("b%03d", i + 1), YaraIdentifier(r.Name) + YaraFormat("_b%03d", i + 1),
                  RecordMeta(r, "backdoor record", i + 1), never ? "" : Strings(r), condition,
                  before);
  }

  // The script records come next in the scan, for files the backdoor row
  // did not finish: it finishes a file on an archive or backdoor record,
  // but goes on after an archive matcher, so such a file can match a
  // script record as well.
  out += "// Files the backdoor row is done with: an archive or a backdoor record matched.\n"
         "private rule sorvane_backdoor_row_finished {\n  condition:\n    " +
         before + " or (" + archiveSeen + " and not " + matchersSeen + ")\n}\n\n";
  out += ScriptYaraRules("sorvane_backdoor_row_finished");
  return out;
}

bool WriteYaraRules(const std::string& path, std::string* error) {
  const std::string text = YaraRules(BuildVersion, BuildCommit);
  if (path == "-") {
    if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size() || std::fflush(stdout) != 0) {
      *error = "cannot write the rules to stdout";
      return false;
    }
    return true;
  }
  const std::string temporary = path + ".tmp";
  FILE* file = std::fopen(temporary.c_str(), "wb");
  bool ok = file && std::fwrite(text.data(), 1, text.size(), file) == text.size();
  ok = file && std::fflush(file) == 0 && fsync(fileno(file)) == 0 && ok;
  if (file && std::fclose(file) != 0) ok = false;
  if (ok && std::rename(temporary.c_str(), path.c_str()) == 0) return true;
  *error = "cannot write " + path + ": " + std::strerror(errno);
  std::remove(temporary.c_str());
  return false;
}
