// Quick screens of the scanner rows over a file's two ends. Each follows
// its row's first tests (the PE header, the archive signatures, the text
// gates and records, the worm section) and stops where the row would go on
// reading beyond them: from there on it answers "maybe".
#include "scanners/row_screen.h"

#include <cstring>

#include "scanners/backdoor_scanner.h"
#include "scanners/file_read.h"
#include "scanners/pe_probe.h"
#include "scanners/script_match.h"
#include "scanners/script_scanner.h"
#include "scanners/signature_match.h"
#include "scanners/worm_disinfector.h"

namespace {

constexpr uint32_t PeSignature = 0x00004550;  // "PE\0\0"
constexpr uint32_t WormSectionCharacteristics = 0xE0000020;
constexpr int64_t ChunkSize = 1024, SmallChunkSize = 512, TagWindow = 100;

enum class PeKind { No, Yes, Unknown };

// What ReadPeHeader would find, and where the PE header starts.
PeKind ClassifyPe(const FileEnds& ends, uint32_t* base) {
  uint8_t two[2], signature[4];
  if (ends.length < 0x3C + 2) return PeKind::No;
  if (!CopyFromEnds(ends, 0x3C, 2, two)) return PeKind::Unknown;
  *base = ReadLe16(two);
  if (int64_t(*base) + 4 > ends.length) return PeKind::No;
  if (!CopyFromEnds(ends, *base, 4, signature)) return PeKind::Unknown;
  if (ReadLe32(signature) != PeSignature) return PeKind::No;
  return int64_t(*base) + 4 + PeFileHeaderSize > ends.length ? PeKind::No : PeKind::Yes;
}

// A line feed before the first zero byte of the `count` bytes at `offset`;
// true as well when those bytes were not read.
bool LineFeedOrUnread(const FileEnds& ends, int64_t offset, int64_t count) {
  uint8_t chunk[ChunkSize];
  if (!CopyFromEnds(ends, uint64_t(offset), size_t(count), chunk)) return true;
  const void* zero = std::memchr(chunk, 0, size_t(count));
  if (zero) count = static_cast<const uint8_t*>(zero) - chunk;
  return std::memchr(chunk, '\n', size_t(count)) != nullptr;
}

// Where one region of `ends` holds all of bytes [offset, offset + count),
// a pointer to the first of them; null otherwise (and for no bytes).
const uint8_t* HeldAt(const FileEnds& ends, uint64_t offset, size_t count) {
  const uint64_t end = offset + count;
  if (ends.length < 0 || end > uint64_t(ends.length) || end < offset || count == 0) return nullptr;
  if (end <= ends.headLength) return ends.head + offset;
  const uint64_t tailStart = uint64_t(ends.length) - ends.tailLength;
  if (ends.tailLength && offset >= tailStart) return ends.tail + (offset - tailStart);
  if (ends.headerLength && offset >= ends.headerOffset &&
      end <= ends.headerOffset + ends.headerLength)
    return ends.header + (offset - ends.headerOffset);
  return nullptr;
}

// The row's text gates: false only when both fail on bytes that were read.
bool ScriptGatesMayPass(const FileEnds& ends) {
  const int64_t length = ends.length;
  int64_t chunk = length > ChunkSize ? ChunkSize : SmallChunkSize;
  if (chunk > length) chunk = length;
  if (LineFeedOrUnread(ends, 0, chunk) || LineFeedOrUnread(ends, length - chunk, chunk))
    return true;
  if (length < TagWindow) return false;
  // Every closing tag the row looks for starts with "</" (before the
  // window's first zero byte, where its search stops).
  uint8_t window[TagWindow];
  if (!CopyFromEnds(ends, uint64_t(length - TagWindow), size_t(TagWindow), window)) return true;
  for (int64_t i = 0; i + 1 < TagWindow && window[i]; ++i)
    if (window[i] == '<' && window[i + 1] == '/') return true;
  return false;
}

}  // namespace

bool CopyFromEnds(const FileEnds& ends, uint64_t offset, size_t count, uint8_t* out) {
  const uint64_t end = offset + count;
  if (ends.length < 0 || end > uint64_t(ends.length) || end < offset) return false;
  if (count == 0) return true;  // an empty file has no bytes to copy from
  const uint8_t* held = HeldAt(ends, offset, count);
  if (held) std::memcpy(out, held, count);
  return held != nullptr;
}

size_t ScreenHeaderRegion(const FileEnds& ends, uint64_t* offset) {
  uint8_t two[2];
  if (ends.length < 0x3C + 2 || !CopyFromEnds(ends, 0x3C, 2, two)) return 0;
  const uint64_t base = ReadLe16(two);
  uint64_t end = base + ScreenHeaderSize;
  if (end > uint64_t(ends.length)) end = uint64_t(ends.length);
  if (base >= end) return 0;
  uint8_t probe[ScreenHeaderSize];
  if (CopyFromEnds(ends, base, size_t(end - base), probe)) return 0;  // held already
  *offset = base;
  return size_t(end - base);
}

bool BackdoorRowMayAct(const FileEnds& ends) {
  if (ends.length < 0 || ends.length > 0x7FFFFFFF) return false;
  uint32_t base = 0;
  switch (ClassifyPe(ends, &base)) {
    case PeKind::Unknown:
      return true;
    case PeKind::No: {
      // Archive copies: every matcher and record search starts at a ZIP
      // or RAR signature.
      uint8_t magic[3] = {0, 0, 0};
      CopyFromEnds(ends, 0, ends.length < 3 ? size_t(ends.length) : 3, magic);
      return (magic[0] == 'P' && magic[1] == 'K') ||
             (magic[0] == 'R' && magic[1] == 'a' && magic[2] == 'r');
    }
    case PeKind::Yes:
      break;
  }
  for (int i = 0; BackdoorSignatures[i].Name[0]; ++i)
    if (SizeRulePasses(BackdoorSignatures[i], int32_t(ends.length))) return true;
  return false;
}

bool ScriptRowMayAct(const FileEnds& ends) {
  const int64_t length = ends.length;
  if (length < 0) return false;
  if (!ScriptGatesMayPass(ends)) return false;
  // The record loop on the regions the row reads: the first and the last
  // ScriptRegionSize bytes, or the whole file when shorter.
  const bool whole = length < ScriptRegionSize;
  const uint8_t* head = HeldAt(ends, 0, whole ? size_t(length) : size_t(ScriptRegionSize));
  const uint8_t* tail = whole ? head : HeldAt(ends, uint64_t(length - ScriptRegionSize), ScriptRegionSize);
  if (!head || !tail) return true;
  return MatchScriptRegions(head, tail, length) >= 0;
}

bool WormRowMayAct(const FileEnds& ends) {
  if (ends.length < 0) return false;
  uint32_t base = 0;
  const PeKind kind = ClassifyPe(ends, &base);
  if (kind != PeKind::Yes) return kind == PeKind::Unknown;
  if (int64_t(base) + 24 + PeOptionalHeaderPart > ends.length) return false;
  uint8_t two[2];
  if (!CopyFromEnds(ends, base + 6, 2, two)) return true;
  const uint32_t count = ReadLe16(two);
  if (count == 0 || count > PeMaxSections) return false;
  if (int64_t(base) + 248 + count * PeSectionHeaderSize > ends.length) return false;
  // The worm's section: the last one, nameless, with its own flags.
  uint8_t last[PeSectionHeaderSize];
  if (!CopyFromEnds(ends, base + 248 + (count - 1) * PeSectionHeaderSize, sizeof last, last))
    return true;
  return last[0] == 0 && ReadLe32(last + 36) == WormSectionCharacteristics;
}

bool RowMayAct(FileScanner routine, const FileEnds& ends) {
  if (routine == ScanBackdoorFile) return BackdoorRowMayAct(ends);
  if (routine == ScanScriptFile) return ScriptRowMayAct(ends);
  if (routine == ScanWormFile) return WormRowMayAct(ends);
  return true;
}

bool AnyRowMayAct(const ScannerEntry* table, const FileEnds& ends) {
  for (const ScannerEntry* row = table; row->name; ++row)
    if (RowMayAct(row->routine, ends)) return true;
  return false;
}
