// Script, page and worm-file samples for the script and page cleaner, and
// their near misses. A sample is laid out as an opening part, filler, and a
// closing part; the pattern goes at the start (head records) or at the end
// (tail records) so that the whitespace-free text puts it where the record
// looks.
#include <cstring>

#include "scanners/script_match.h"
#include "scanners/script_signatures.h"
#include "tools/forge/forge_bytes.h"
#include "tools/forge/forge_worm_script.h"

namespace forge {
namespace {

constexpr uint32_t kRegion = ScriptRegionSize;

enum class Style { Vbs, Js, Html, Binary };

Style StyleOf(const ScriptSignature& r) {
  if (std::strncmp(r.Name, "VBS/", 4) == 0) return Style::Vbs;
  if (std::strncmp(r.Name, "JS/", 3) == 0) return Style::Js;
  if (std::strncmp(r.Name, "HTML/", 5) == 0) return Style::Html;
  return Style::Binary;
}

void Append(Bytes& b, const std::string& s) { b.insert(b.end(), s.begin(), s.end()); }
void Append(Bytes& b, const Bytes& s) { b.insert(b.end(), s.begin(), s.end()); }

// Filler of exactly n bytes: comment lines for texts, random bytes without
// zero or line feed (so the gates see only the lines we write) for binaries.
Bytes Fill(Style style, size_t n, const char* eol, uint32_t seed) {
  Bytes b;
  if (style == Style::Binary) {
    b = Filler(n, seed);
    for (auto& x : b)
      if (x == 0 || x == '\n') x = 0x7F;
    return b;
  }
  const char* open = style == Style::Vbs ? "' " : style == Style::Js ? "// " : "<p>";
  const char* close = style == Style::Html ? "</p>" : "";
  for (int line = 1; b.size() < n; ++line)
    Append(b, std::string(open) + "line " + std::to_string(line) + " of the sample" + close + eol);
  b.resize(n);
  return b;
}

// `n` whitespace-free characters in the style of the file.
std::string Solid(Style style, size_t n) {
  static const char kText[] = "sorvane-sample-text-";
  std::string s;
  while (s.size() < n) s += kText[s.size() % (sizeof kText - 1)];
  if (style == Style::Html && n >= 7) s = "<!--" + s.substr(0, n - 7) + "-->";
  return s;
}

// The pattern, or the pattern spread over indented lines.
Bytes Placed(const Bytes& pattern, bool reflow, const char* eol) {
  if (!reflow) return pattern;
  Bytes b;
  for (size_t i = 0; i < pattern.size(); ++i) {
    if (i && i % 23 == 0) Append(b, std::string(eol) + (i % 2 ? "\t" : "    "));
    b.push_back(pattern[i]);
  }
  return b;
}

}  // namespace

Bytes ScriptPattern(int index) {
  const ScriptSignature& r = ScriptSignatureTable[index];
  Bytes p(r.Pattern, r.Pattern + r.PatternLength);
  for (auto& x : p) x ^= ScriptSignatureKey;
  return p;
}

bool ScriptSample(int index, const ScriptOptions& o, Bytes* out, std::string* why) {
  if (index < 0 || index >= ScriptSignatureCount) {
    *why = "no such record";
    return false;
  }
  const ScriptSignature& r = ScriptSignatureTable[index];
  const Style style = StyleOf(r);
  const bool gate = o.miss != ScriptMiss::NoTextGate;
  const char* eol = gate ? "\r\n" : "\r";
  const bool head = r.Region == ScriptRegionHead;
  const bool fixed = r.MatchKind != ScriptMatchSearch;
  const bool outside = o.miss == ScriptMiss::OutsideRegion;
  const Bytes pattern = Placed(ScriptPattern(index), o.reflow, eol);

  Bytes opening, closing;
  if (head) {
    if (outside) {
      opening = Fill(style, kRegion, eol, 11 + index);
    } else if (fixed) {
      Append(opening, Solid(style, size_t(r.Position)));
      if (r.Position) Append(opening, eol);
    } else {
      Append(opening, style == Style::Js ? "// sample" : style == Style::Html ? "<html>" : "' sample");
      Append(opening, eol);
    }
    Append(opening, pattern);
    Append(opening, eol);
    if (style == Style::Html && gate) Append(closing, "</body></html>");
    Append(closing, eol);
  } else {
    if (style != Style::Binary) Append(opening, std::string(style == Style::Vbs ? "' sample" : "// sample") + eol);
    else opening = {0xCD, 0x20};  // int 20h: a worm file that cannot run
    if (fixed && r.Position < int(r.PatternLength)) {
      *why = "tail position shorter than the pattern";
      return false;
    }
    // Exactly (position - pattern length) text bytes follow the pattern of
    // a fixed record; a search record gets a line of its own.
    const size_t after = fixed ? size_t(r.Position - r.PatternLength) : 24;
    closing = pattern;
    Append(closing, eol);
    std::string text = Solid(Style::Binary, after);
    for (size_t i = 0; i < text.size(); i += 40) {
      Append(closing, text.substr(i, 40));
      Append(closing, eol);
    }
    if (outside) Append(closing, Fill(style, kRegion, eol, 23 + index));
  }

  // The length: the record's reference size, or the one the miss needs.
  const int64_t ref = r.ReferenceSize;
  const int64_t fixedPart = int64_t(opening.size() + closing.size());
  const int64_t tolerance = r.SizeRule == ScriptSizeNear ? ScriptSizeTolerance : 0;
  const bool sized = r.SizeRule == ScriptSizeNear || r.SizeRule == ScriptSizeExact;
  int64_t length = o.size ? int64_t(o.size) : std::max<int64_t>(ref, fixedPart);
  if (outside && !head) length = std::max<int64_t>(length, int64_t(kRegion) + fixedPart);
  if (o.miss == ScriptMiss::SizeBelow || o.miss == ScriptMiss::SizeAbove) {
    if (!sized) {
      *why = "the record has no size rule";
      return false;
    }
    length = o.miss == ScriptMiss::SizeBelow ? ref - tolerance - 1 : ref + tolerance + 1;
  }
  if (length < fixedPart) {
    *why = "the file cannot be that short";
    return false;
  }
  if (sized && o.miss != ScriptMiss::SizeBelow && o.miss != ScriptMiss::SizeAbove &&
      (ref < length - tolerance || ref > length + tolerance)) {
    *why = "the length does not fit the record's size rule";
    return false;
  }
  // Tail records must keep the pattern out of the head region when the
  // miss says so; head records keep it inside unless the miss says so.
  if (outside && !head && length - int64_t(closing.size()) < int64_t(kRegion)) {
    *why = "the record's size window is too small to leave the pattern outside";
    return false;
  }
  if (!outside && head && opening.size() > kRegion) {
    *why = "pattern does not fit the head region";
    return false;
  }
  out->clear();
  Append(*out, opening);
  Append(*out, Fill(style, size_t(length - fixedPart), eol, 5 + index));
  Append(*out, closing);
  if (!outside && !head && closing.size() > kRegion) {
    *why = "pattern does not fit the tail region";
    return false;
  }
  return true;
}

}  // namespace forge
