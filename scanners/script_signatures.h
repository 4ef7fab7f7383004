// Records of the script and page cleaner: text signatures searched in, or
// compared at a fixed position of, the whitespace-free first or last 4096
// bytes of a file. The patterns are stored scrambled with one key byte; the
// table is never written (the matcher unscrambles a copy of it, see
// PlainScriptSignatures).
#pragma once

#include <cstdint>

constexpr int ScriptSignatureCount = 13;
constexpr int ScriptPatternSize = 100;
constexpr int ScriptNameSize = 25;

// Regions, match kinds and size rules of a record.
constexpr int16_t ScriptRegionHead = 0;
constexpr int16_t ScriptRegionTail = 1;
constexpr int16_t ScriptMatchSearch = 1;   // anywhere in the region; else fixed
constexpr int16_t ScriptSizeExact = 16;    // length == ReferenceSize
constexpr int16_t ScriptSizeNear = 17;     // ReferenceSize within length -/+ 4096
constexpr int16_t ScriptSizeNone = 18;     // any other value: no size test
constexpr int32_t ScriptSizeTolerance = 4096;

#pragma pack(push, 1)
struct ScriptSignature {
  char Name[ScriptNameSize];  // at most 24 characters and the terminator
  int32_t ReferenceSize;
  int16_t Position;           // fixed records: from the head's start / the tail's end
  uint16_t PatternLength;     // 0 disables the record; at most 100
  int16_t Region;
  uint8_t Pattern[ScriptPatternSize];
  int16_t MatchKind;
  int16_t SizeRule;
};
#pragma pack(pop)

static_assert(sizeof(ScriptSignature) == 139, "script record layout");

// The stored records, their patterns scrambled.
extern const ScriptSignature ScriptSignatureTable[ScriptSignatureCount];
extern const uint8_t ScriptSignatureKey;
