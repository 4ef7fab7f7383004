// Matching of the script and page records against an open file: the two
// text gates, the whitespace-free head and tail texts, and the record loop.
#pragma once

#include <cstdint>

#include "scanners/script_signatures.h"

constexpr int ScriptRegionSize = 4096;               // bytes read at each end
constexpr int ScriptWorkSize = ScriptRegionSize + 1;  // working buffer and its zero

// True once PrepareScriptSignatures has unscrambled the patterns.
extern bool PatternsPrepared;

// Unscrambles every record's pattern in place (once per program run).
void PrepareScriptSignatures();

// 1 when a line feed stands in the first or the last chunk of the file
// (1024 bytes, or 512 for files up to 1024 bytes, never more than the file),
// before the chunk's first zero byte. Records the file length for the match.
int HasLineFeed(int fd);

// 1 when the last 100 bytes, upper-cased, hold "</BODY>", "</HTML>" or
// "</SCRIPT>"; 0 otherwise and for files shorter than 100 bytes.
int EndsWithClosingTag(int fd);

// Copies the bytes of source that are not whitespace (space, tab, line
// feed, vertical tab, form feed, carriage return); returns how many. The
// destination holds `length` bytes; those after the kept ones may be
// overwritten.
int StripWhitespace(const uint8_t* source, uint8_t* destination, int length);

// 1 when `pattern` occurs at a position below `limit` of `block`, a
// working buffer of ScriptWorkSize bytes; a candidate that would reach
// past the buffer does not match.
int FindPattern(const uint8_t* block, int limit, const uint8_t* pattern, int length);

// 1 (and *match = the record) when the open file passes a text gate and
// matches a record; the first matching record in table order wins and
// counts in FilesInfected. Needs the patterns prepared.
int MatchScriptSignature(int fd, const ScriptSignature** match);
