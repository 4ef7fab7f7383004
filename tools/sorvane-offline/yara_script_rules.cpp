// The script records as YARA rules. The scanner strips white space (space
// and bytes 9 to 13) from the first and the last 4096 bytes of a file and
// looks for a pattern in that text, anywhere or at a position counted in
// it. In the file itself that is the pattern with any run of white space
// between its bytes: a regular expression, whose match must lie inside the
// region. A position counted from the head's start becomes that many
// non-white-space bytes before the pattern, anchored at the file's start;
// one counted back from the tail's end, that many after the pattern's
// start, anchored at the file's end. The text gates and the size rule are
// read with uint8 and filesize.
#include "tools/sorvane-offline/yara_script_rules.h"

#include <cstdint>

#include "scanners/script_match.h"
#include "scanners/script_signatures.h"
#include "tools/sorvane-offline/yara_rule_text.h"

namespace {

const char kSpace[] = "[\\x09-\\x0d\\x20]";     // what the scanner strips
const char kSolid[] = "[^\\x09-\\x0d\\x20]";    // what it keeps

bool IsWhitespace(uint8_t b) { return b == ' ' || (b >= 9 && b <= 13); }

// The stored record's pattern in plain (the stored table stays scrambled).
std::string PlainPattern(const ScriptSignature& r) {
  std::string p(reinterpret_cast<const char*>(r.Pattern), r.PatternLength);
  for (char& c : p) c = char(uint8_t(c) ^ ScriptSignatureKey);
  return p;
}

// The pattern's bytes with optional white space between them.
std::string SpacedPattern(const std::string& p) {
  std::string s;
  for (size_t i = 0; i < p.size(); ++i) {
    if (i) s += std::string(kSpace) + "*";
    s += YaraFormat("\\x%02x", uint8_t(p[i]));
  }
  return s;
}

// A line feed before the first zero byte of the bytes from s to e
// (exclusive), e > s.
std::string LineFeedBeforeZero(const std::string& s, const std::string& e) {
  return YaraFormat("for any k in (%s..%s - 1) : (uint8(k) == 0x0A and (k == %s or for all j in (%s..k - 1) : "
                    "(uint8(j) != 0)))",
                    s.c_str(), e.c_str(), s.c_str(), s.c_str());
}

// "</BODY>", "</HTML>" or "</SCRIPT>" in any case in the last 100 bytes,
// before the first zero byte there (the scanner upper-cases the window as
// a string and searches it). For a file of at least 100 bytes.
std::string ClosingTag() {
  const char* w = "filesize - 100";
  auto letters = [](const char* word) {
    std::string s;
    int at = 2;
    for (const char* c = word; *c; ++c, ++at) s += YaraFormat(" and (uint8(k + %d) | 0x20) == 0x%02X", at, *c);
    return s + YaraFormat(" and uint8(k + %d) == 0x3E", at);
  };
  std::string s = YaraFormat("for any k in (%s..filesize - 7) : (\n", w);
  s += "        uint8(k) == 0x3C and uint8(k + 1) == 0x2F\n";
  s += "        and ((k + 7 <= filesize" + letters("body") + ") or (k + 7 <= filesize" + letters("html") +
       ") or (k + 9 <= filesize" + letters("script") + "))\n";
  s += YaraFormat("        and (k == %s or for all j in (%s..k - 1) : (uint8(j) != 0)))", w, w);
  return s;
}

// The text gates: a line feed before the first zero byte of the first or
// the last chunk (1024 bytes; 512 for files up to 1024 bytes; never more
// than the file), or a closing tag at the end.
std::string TextGate() {
  std::string s = "(\n";
  s += "      (filesize > 1024 and (" + LineFeedBeforeZero("0", "1024") + "\n        or " +
       LineFeedBeforeZero("filesize - 1024", "filesize") + "))\n";
  s += "      or (filesize <= 1024 and filesize >= 512 and (" + LineFeedBeforeZero("0", "512") + "\n        or " +
       LineFeedBeforeZero("filesize - 512", "filesize") + "))\n";
  s += "      or (filesize < 512 and " + LineFeedBeforeZero("0", "filesize") + ")\n";
  s += "      or " + ClosingTag() + ")";
  return s;
}

const char* SizeRuleName(int16_t rule) {
  switch (rule) {
    case ScriptSizeExact: return "exact";
    case ScriptSizeNear: return "near";
    default: return "none";
  }
}

// Why a record is left out, or nullptr. Records that can never match are
// left out too: leaving them out changes nothing.
const char* LeftOut(const ScriptSignature& r, const std::string& p) {
  if (r.PatternLength == 0 || r.PatternLength > ScriptPatternSize) return "disabled (no pattern)";
  for (char c : p) {
    if (IsWhitespace(uint8_t(c))) return "its pattern holds white space, which the stripped text never does";
    if (c == 0) return "its pattern holds a zero byte, which may match the zero bytes after the text";
  }
  const bool head = r.Region == ScriptRegionHead;
  if (r.MatchKind != ScriptMatchSearch) {
    if (r.Position < 0) return "a negative position never matches";
    if (!head && r.Position < r.PatternLength) return "a tail position shorter than the pattern never matches";
    if (head && r.Position + r.PatternLength > ScriptRegionSize) return "its position lies beyond the region";
  }
  return nullptr;
}

}  // namespace

std::string ScriptYaraRules(const std::string& backdoorRowFinished) {
  std::string out;
  std::string before;
  for (int i = 0; i < ScriptSignatureCount; ++i) {
    const ScriptSignature& r = ScriptSignatureTable[i];
    const std::string p = PlainPattern(r);
    if (const char* why = LeftOut(r, p)) {
      out += YaraFormat("// Script record %d (%s) is left out: %s.\n\n", i + 1, r.Name, why);
      continue;
    }
    const bool head = r.Region == ScriptRegionHead;
    const bool search = r.MatchKind == ScriptMatchSearch;
    std::string regex, placed;
    const int region = ScriptRegionSize;
    if (search) {
      regex = SpacedPattern(p);
      // Matches ordered by start also end in order: the first one is the
      // head's best chance, the last one the tail's.
      placed = head ? YaraFormat("@p[1] + !p[1] <= %d", region) : YaraFormat("@p[#p] >= filesize - %d", region);
    } else if (head) {
      regex = "^" + std::string(kSpace) + "*";
      if (r.Position) regex += YaraFormat("(%s%s*){%d}", kSolid, kSpace, r.Position);
      regex += SpacedPattern(p);
      placed = YaraFormat("!p[1] <= %d", region);
    } else {
      regex = SpacedPattern(p);
      const int after = r.Position - r.PatternLength;
      if (after) regex += YaraFormat("(%s*%s){%d}", kSpace, kSolid, after);
      regex += std::string(kSpace) + "*$";
      placed = YaraFormat("@p[1] >= filesize - %d", region);
    }
    std::string size;
    if (r.SizeRule == ScriptSizeExact) {
      size = YaraFormat(" and filesize == %d", r.ReferenceSize);
    } else if (r.SizeRule == ScriptSizeNear) {
      const long long low = (long long)r.ReferenceSize - ScriptSizeTolerance;
      if (low > r.PatternLength) size = YaraFormat(" and filesize >= %lld", low);
      size += YaraFormat(" and filesize <= %lld", (long long)r.ReferenceSize + ScriptSizeTolerance);
    }
    const std::string condition =
        YaraFormat("$p and filesize >= %d and filesize <= 0x7FFFFFFF", int(r.PatternLength)) + size +
        "\n    and " + placed + "\n    and not " + backdoorRowFinished + "\n    and " + TextGate();
    const std::string meta = YaraFormat(
        "    detection = %s\n    kind = \"script record\"\n    record = %d\n    region = \"%s\"\n"
        "    match = \"%s\"\n    position = %d\n    reference_size = %d\n    size_rule = \"%s\"\n",
        YaraQuoted(r.Name).c_str(), i + 1, head ? "head" : "tail", search ? "search" : "fixed", int(r.Position),
        int(r.ReferenceSize), SizeRuleName(r.SizeRule));
    before = EmitYaraRule(&out, YaraFormat("s%02d", i + 1), YaraIdentifier(r.Name) + YaraFormat("_s%02d", i + 1),
                          meta, "    $p = /" + regex + "/\n", condition, before);
  }
  return out;
}
