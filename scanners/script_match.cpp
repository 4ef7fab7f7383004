// The text gates, whitespace stripping, pattern search and record loop of
// the script and page cleaner. The record loop works on the two regions
// held in memory; the descriptor path reads them and calls it.
#include "scanners/script_match.h"

#include <cstring>

#include "engine/shared_state.h"
#include "platform/system.h"

bool PatternsPrepared;

namespace {

constexpr int ChunkSize = 1024;
constexpr int SmallChunkSize = 512;
constexpr int TagWindow = 100;

bool IsWhitespace(uint8_t b) { return b == ' ' || (b >= 9 && b <= 13); }

// 1 for the bytes StripWhitespace keeps, 0 for whitespace.
struct KeepTable {
  uint8_t keep[256];
  KeepTable() {
    for (int b = 0; b < 256; ++b) keep[b] = IsWhitespace(uint8_t(b)) ? 0 : 1;
  }
};
const KeepTable Keep;

// True when any byte of the word is whitespace: a space (found as a zero
// byte after XOR with spaces) or a byte from 9 to 13 (tested on the low
// seven bits of the bytes whose top bit is clear).
bool HasWhitespace(uint64_t x) {
  constexpr uint64_t Ones = 0x0101010101010101ull, Highs = 0x8080808080808080ull;
  const uint64_t spaces = x ^ (Ones * ' ');
  const uint64_t zero = (spaces - Ones) & ~spaces & Highs;
  const uint64_t low = x & (Ones * 127);
  const uint64_t between = ((Ones * (127 + 14) - low) & ~x & (low + Ones * (127 - 8))) & Highs;
  return (zero | between) != 0;
}

// The length HasLineFeed found, for the match that follows it.
long ScriptFileLength;

// The records with their patterns unscrambled, and which patterns hold
// neither whitespace nor a zero byte (those are matched in the regions as
// read). Made from the stored table, which nothing writes, on first use.
struct PlainRecords {
  ScriptSignature records[ScriptSignatureCount];
  bool plain[ScriptSignatureCount];
  PlainRecords() {
    for (int k = 0; k < ScriptSignatureCount; ++k) {
      ScriptSignature& r = records[k];
      r = ScriptSignatureTable[k];
      const int n = r.PatternLength < ScriptPatternSize ? r.PatternLength : ScriptPatternSize;
      for (int i = 0; i < n; ++i) r.Pattern[i] ^= ScriptSignatureKey;
      bool clean = n > 0;
      for (int i = 0; i < n; ++i) clean = clean && r.Pattern[i] != 0 && Keep.keep[r.Pattern[i]];
      plain[k] = clean;
    }
  }
};

// Built once; a static local's first use is safe from any thread.
const PlainRecords& Plain() {
  static const PlainRecords records;
  return records;
}

bool ReadAt(int fd, long offset, void* buffer, unsigned count) {
  if (_lseek(fd, offset, SEEK_SET) != offset) return false;
  return _read(fd, buffer, count) == int(count);
}

// A line feed among the first `count` bytes, before the first zero byte.
bool LineFeedBeforeZero(const char* bytes, size_t count) {
  const void* zero = std::memchr(bytes, 0, count);
  if (zero) count = size_t(static_cast<const char*>(zero) - bytes);
  return std::memchr(bytes, '\n', count) != nullptr;
}

bool SizeRulePasses(const ScriptSignature& r, int64_t length) {
  const int64_t ref = r.ReferenceSize;
  switch (r.SizeRule) {
    case ScriptSizeExact: return ref == length;
    case ScriptSizeNear:
      return ref >= length - ScriptSizeTolerance && ref <= length + ScriptSizeTolerance;
    default: return true;
  }
}

// One of a file's two regions as read, and its whitespace-free text, made
// only when a record needs it: most records are searched for in the region
// as read, skipping its whitespace.
struct Region {
  const uint8_t* raw = nullptr;
  int rawLength = 0;
  uint8_t text[ScriptRegionSize];
  int textLength = -1;  // -1: not stripped yet
};

// The region's whitespace-free text, made on first use.
void Strip(Region& g) {
  if (g.textLength < 0) g.textLength = StripWhitespace(g.raw, g.text, g.rawLength);
}

// The next byte at or after `p` that is not whitespace, or `end`.
const uint8_t* SkipWhitespace(const uint8_t* p, const uint8_t* end) {
  while (p < end && !Keep.keep[*p]) ++p;
  return p;
}

// True when the whitespace-free text of raw[p..end) begins with `pattern`,
// whose first byte stands at p.
bool FollowsSkippingWhitespace(const uint8_t* p, const uint8_t* end, const uint8_t* pattern, int length) {
  ++p;
  for (int k = 1; k < length; ++k) {
    p = SkipWhitespace(p, end);
    if (p == end || *p != pattern[k]) return false;
    ++p;
  }
  return true;
}

// The whitespace-free text of the region holds `pattern` (a plain one):
// the same answer as FindPattern over the stripped text, without stripping.
bool FoundSkippingWhitespace(const Region& g, const uint8_t* pattern, int length) {
  const uint8_t* p = g.raw;
  const uint8_t* const end = g.raw + g.rawLength;
  while (p < end) {
    p = static_cast<const uint8_t*>(std::memchr(p, pattern[0], size_t(end - p)));
    if (!p) return false;
    if (FollowsSkippingWhitespace(p, end, pattern, length)) return true;
    ++p;
  }
  return false;
}

// The whitespace-free text of the region holds `pattern` (a plain one) at
// `from`, counted from its start.
bool AtSkippingWhitespace(const Region& g, int from, const uint8_t* pattern, int length) {
  const uint8_t* p = g.raw;
  const uint8_t* const end = g.raw + g.rawLength;
  for (int skipped = 0;; ++skipped, ++p) {
    p = SkipWhitespace(p, end);
    if (p == end) return false;
    if (skipped == from) break;
  }
  return *p == pattern[0] && FollowsSkippingWhitespace(p, end, pattern, length);
}

// The record loop's state for one file: its two regions (one region, both
// ends, for a file shorter than ScriptRegionSize) and the working buffer.
// It lives on the caller's stack, so matches on different threads share
// nothing.
class RecordMatcher {
 public:
  RecordMatcher(const uint8_t* head, const uint8_t* tail, int64_t length)
      : limit_(length < ScriptRegionSize ? int(length) : ScriptRegionSize) {
    head_.raw = head;
    head_.rawLength = limit_;
    tailRegion_.raw = tail;
    tailRegion_.rawLength = ScriptRegionSize;
    tail_ = length < ScriptRegionSize ? &head_ : &tailRegion_;  // the whole file is both regions
  }

  bool Matches(const ScriptSignature& r, bool plainPattern) {
    const bool head = r.Region == ScriptRegionHead;
    Region& g = head ? head_ : *tail_;
    if (r.MatchKind == ScriptMatchSearch) {
      if (plainPattern && g.textLength < 0) return FoundSkippingWhitespace(g, r.Pattern, r.PatternLength);
      Strip(g);
      Load(g.text, g.textLength, 0, g.textLength);
      return FindPattern(work_, limit_, r.Pattern, r.PatternLength) == 1;
    }
    if (head && plainPattern && r.Position >= 0 && g.textLength < 0) {
      return AtSkippingWhitespace(g, r.Position, r.Pattern, r.PatternLength);
    }
    Strip(g);
    const int from = head ? r.Position : g.textLength - r.Position;
    Load(g.text, g.textLength, head || from >= 0 ? from : -1, ScriptPatternSize);
    return std::memcmp(work_, r.Pattern, r.PatternLength) == 0;
  }

 private:
  // Fills the working buffer with `count` bytes of `text` from `from`
  // (bytes past the text's end stay zero). Loading the same bytes again is
  // skipped, and only the bytes a previous load wrote are cleared, so the
  // buffer always holds exactly the region followed by zero bytes.
  void Load(const uint8_t* text, int textLength, int from, int count) {
    if (from < 0 || from >= textLength) {
      count = 0;
    } else if (count > textLength - from) {
      count = textLength - from;
    }
    if (count > 0 && text == loadedText_ && from == loadedFrom_ && count == loadedCount_) return;
    if (count > 0) std::memcpy(work_, text + from, size_t(count));
    if (dirty_ > count) std::memset(work_ + count, 0, size_t(dirty_ - count));
    dirty_ = count;
    loadedText_ = text;
    loadedFrom_ = from;
    loadedCount_ = count;
  }

  Region head_, tailRegion_;
  Region* tail_;
  const int limit_;
  uint8_t work_[ScriptWorkSize];
  int dirty_ = ScriptWorkSize;  // nothing loaded yet: the whole buffer to clear
  const uint8_t* loadedText_ = nullptr;
  int loadedFrom_ = -1;
  int loadedCount_ = -1;
};

}  // namespace

void PrepareScriptSignatures() { Plain(); }

const ScriptSignature* PlainScriptSignatures() { return Plain().records; }

int MatchScriptRegions(const uint8_t* head, const uint8_t* tail, int64_t length) {
  if (length < 0) return -1;
  const PlainRecords& plain = Plain();
  RecordMatcher matcher(head, tail, length);
  for (int k = 0; k < ScriptSignatureCount; ++k) {
    const ScriptSignature& r = plain.records[k];
    if (r.PatternLength == 0 || r.PatternLength > ScriptPatternSize) continue;
    if (length < r.PatternLength) continue;
    if (!SizeRulePasses(r, length)) continue;
    if (matcher.Matches(r, plain.plain[k])) return k;
  }
  return -1;
}

int HasLineFeed(int fd) {
  const long length = _filelength(fd);
  ScriptFileLength = length;
  if (length < 0) return 0;
  long chunk = length > ChunkSize ? ChunkSize : SmallChunkSize;
  if (chunk > length) chunk = length;
  char buffer[ChunkSize];
  if (!ReadAt(fd, 0, buffer, unsigned(chunk))) return 0;
  if (LineFeedBeforeZero(buffer, size_t(chunk))) return 1;
  if (!ReadAt(fd, length - chunk, buffer, unsigned(chunk))) return 0;
  return LineFeedBeforeZero(buffer, size_t(chunk)) ? 1 : 0;
}

int EndsWithClosingTag(int fd) {
  const long length = _filelength(fd);
  if (length < TagWindow) return 0;
  char buffer[TagWindow + 1];
  std::memset(buffer, 0, sizeof buffer);
  if (!ReadAt(fd, length - TagWindow, buffer, TagWindow)) return 0;
  _strupr(buffer);
  return std::strstr(buffer, "</BODY>") || std::strstr(buffer, "</HTML>") ||
                 std::strstr(buffer, "</SCRIPT>")
             ? 1
             : 0;
}

int StripWhitespace(const uint8_t* source, uint8_t* destination, int length) {
  // Without a branch per byte: each byte is written at the next free place,
  // which moves on only past a kept byte. The write for byte i lands at an
  // index of at most i, so all stay inside `length` bytes; the last byte is
  // handled apart so that nothing lands past the kept text when every byte
  // before it was kept.
  // Runs of eight bytes without whitespace (most of a binary file) are
  // copied whole; the last eight bytes always go one by one.
  int kept = 0, i = 0;
  for (; i + 8 < length; i += 8) {
    uint64_t word;
    std::memcpy(&word, source + i, 8);
    if (!HasWhitespace(word)) {
      std::memcpy(destination + kept, &word, 8);
      kept += 8;
      continue;
    }
    for (int j = i; j < i + 8; ++j) {
      const uint8_t b = source[j];
      destination[kept] = b;
      kept += Keep.keep[b];
    }
  }
  for (; i + 1 < length; ++i) {
    const uint8_t b = source[i];
    destination[kept] = b;
    kept += Keep.keep[b];
  }
  if (length > 0 && Keep.keep[source[length - 1]]) destination[kept++] = source[length - 1];
  return kept;
}

int FindPattern(const uint8_t* block, int limit, const uint8_t* pattern, int length) {
  if (length <= 0 || length > ScriptWorkSize) return 0;
  if (limit > ScriptWorkSize) limit = ScriptWorkSize;
  int at = 0;
  while (at < limit) {
    const void* hit = std::memchr(block + at, pattern[0], size_t(limit - at));
    if (!hit) return 0;
    const int q = int(static_cast<const uint8_t*>(hit) - block);
    if (length <= ScriptWorkSize - q && std::memcmp(block + q, pattern, size_t(length)) == 0)
      return 1;
    at = q + 1;
  }
  return 0;
}

int MatchScriptSignature(int fd, const ScriptSignature** match) {
  if (!HasLineFeed(fd) && !EndsWithClosingTag(fd)) return 0;
  const long length = ScriptFileLength;
  if (length < 0) return 0;
  // The regions: the first and the last ScriptRegionSize bytes, or the
  // whole file once when it is shorter.
  uint8_t head[ScriptRegionSize], tail[ScriptRegionSize];
  const bool whole = length < ScriptRegionSize;
  if (!ReadAt(fd, 0, head, whole ? unsigned(length) : unsigned(ScriptRegionSize))) return 0;
  if (!whole && !ReadAt(fd, length - ScriptRegionSize, tail, ScriptRegionSize)) return 0;
  const int k = MatchScriptRegions(head, whole ? head : tail, length);
  if (k < 0) return 0;
  ++FilesInfected;
  if (match) *match = &ScriptSignatureTable[k];
  return 1;
}
