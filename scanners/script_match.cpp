// The text gates, whitespace stripping, pattern search and record loop of
// the script and page cleaner.
#include "scanners/script_match.h"

#include <cstring>

#include "engine/shared_state.h"
#include "platform/system.h"

bool PatternsPrepared;

namespace {

constexpr int ChunkSize = 1024;
constexpr int SmallChunkSize = 512;
constexpr int TagWindow = 100;

// Texts of the file under examination, shared by all records.
uint8_t HeadText[ScriptRegionSize];
uint8_t TailText[ScriptRegionSize];
int HeadLength;
int TailLength;
long ScriptFileLength;
uint8_t WorkBuffer[ScriptWorkSize];
uint8_t ReadBuffer[ScriptRegionSize];

bool IsWhitespace(uint8_t b) { return b == ' ' || (b >= 9 && b <= 13); }

bool ReadAt(int fd, long offset, void* buffer, unsigned count) {
  if (_lseek(fd, offset, SEEK_SET) != offset) return false;
  return _read(fd, buffer, count) == int(count);
}

bool SizeRulePasses(const ScriptSignature& r, long length) {
  const int64_t ref = r.ReferenceSize;
  switch (r.SizeRule) {
    case ScriptSizeExact: return ref == length;
    case ScriptSizeNear:
      return ref >= int64_t(length) - ScriptSizeTolerance &&
             ref <= int64_t(length) + ScriptSizeTolerance;
    default: return true;
  }
}

// Fills the working buffer with `count` bytes of `text` from `from`
// (bytes past the text's end stay zero).
void LoadWorkBuffer(const uint8_t* text, int textLength, int from, int count) {
  std::memset(WorkBuffer, 0, sizeof WorkBuffer);
  if (from < 0 || from >= textLength) return;
  if (count > textLength - from) count = textLength - from;
  std::memcpy(WorkBuffer, text + from, size_t(count));
}

bool RecordMatches(const ScriptSignature& r, int limit) {
  const bool head = r.Region == ScriptRegionHead;
  const uint8_t* text = head ? HeadText : TailText;
  const int textLength = head ? HeadLength : TailLength;
  if (r.MatchKind == ScriptMatchSearch) {
    LoadWorkBuffer(text, textLength, 0, textLength);
    return FindPattern(WorkBuffer, limit, r.Pattern, r.PatternLength) == 1;
  }
  const int from = head ? r.Position : textLength - r.Position;
  if (head || from >= 0) LoadWorkBuffer(text, textLength, from, ScriptPatternSize);
  else std::memset(WorkBuffer, 0, sizeof WorkBuffer);
  return std::memcmp(WorkBuffer, r.Pattern, r.PatternLength) == 0;
}

// Builds the head and tail texts; false when a read fails.
bool ExtractTexts(int fd, long length, int* limit) {
  if (length >= ScriptRegionSize) {
    if (!ReadAt(fd, 0, ReadBuffer, ScriptRegionSize)) return false;
    HeadLength = StripWhitespace(ReadBuffer, HeadText, ScriptRegionSize);
    if (!ReadAt(fd, length - ScriptRegionSize, ReadBuffer, ScriptRegionSize)) return false;
    TailLength = StripWhitespace(ReadBuffer, TailText, ScriptRegionSize);
    *limit = ScriptRegionSize;
    return true;
  }
  if (!ReadAt(fd, 0, ReadBuffer, unsigned(length))) return false;
  HeadLength = StripWhitespace(ReadBuffer, HeadText, int(length));
  std::memcpy(TailText, HeadText, size_t(HeadLength));
  TailLength = HeadLength;
  *limit = int(length);
  return true;
}

}  // namespace

void PrepareScriptSignatures() {
  for (ScriptSignature& r : ScriptSignatureTable) {
    const int n = r.PatternLength < ScriptPatternSize ? r.PatternLength : ScriptPatternSize;
    for (int i = 0; i < n; ++i) r.Pattern[i] ^= ScriptSignatureKey;
  }
}

int HasLineFeed(int fd) {
  const long length = _filelength(fd);
  ScriptFileLength = length;
  if (length < 0) return 0;
  long chunk = length > ChunkSize ? ChunkSize : SmallChunkSize;
  if (chunk > length) chunk = length;
  char buffer[ChunkSize + 1];
  std::memset(buffer, 0, sizeof buffer);
  if (!ReadAt(fd, 0, buffer, unsigned(chunk))) return 0;
  if (std::strchr(buffer, '\n')) return 1;
  std::memset(buffer, 0, sizeof buffer);
  if (!ReadAt(fd, length - chunk, buffer, unsigned(chunk))) return 0;
  return std::strchr(buffer, '\n') ? 1 : 0;
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
  int kept = 0;
  for (int i = 0; i < length; ++i) {
    if (!IsWhitespace(source[i])) destination[kept++] = source[i];
  }
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
  int limit = 0;
  if (length < 0 || !ExtractTexts(fd, length, &limit)) return 0;
  for (const ScriptSignature& r : ScriptSignatureTable) {
    if (r.PatternLength == 0 || r.PatternLength > ScriptPatternSize) continue;
    if (length < r.PatternLength) continue;
    if (!SizeRulePasses(r, length)) continue;
    if (!RecordMatches(r, limit)) continue;
    ++FilesInfected;
    if (match) *match = &r;
    return 1;
  }
  return 0;
}
