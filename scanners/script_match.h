// Matching of the script and page records: the two text gates on an open
// file, the whitespace-free head and tail texts, and the record loop, over
// an open file or over its two regions already in memory.
//
// Threads: the stored table (ScriptSignatureTable) is never written; the
// matcher reads an unscrambled copy made once on first use (a static
// local, safe to start from any thread). MatchScriptRegions keeps its state
// on the caller's stack and may run on any thread. The descriptor path
// (HasLineFeed, MatchScriptSignature) keeps the length it found in a
// global and counts FilesInfected: the walk's thread only.
#pragma once

#include <cstdint>

#include "scanners/script_signatures.h"

constexpr int ScriptRegionSize = 4096;               // bytes read at each end
constexpr int ScriptWorkSize = ScriptRegionSize + 1;  // working buffer and its zero

// Set by the scanner once it has called PrepareScriptSignatures.
extern bool PatternsPrepared;

// Makes the unscrambled copy of the records now, so that no match pays for
// it later. Matching works without it.
void PrepareScriptSignatures();

// The records in table order with their patterns unscrambled: the copy the
// matcher uses. Same index as ScriptSignatureTable; never written.
const ScriptSignature* PlainScriptSignatures();

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

// The record loop: the index of the first record, in table order, found in
// a file of `length` bytes whose head region (its first ScriptRegionSize
// bytes, or the whole file when shorter) is `head` and whose tail region
// (its last ScriptRegionSize bytes) is `tail`; for a shorter file `tail` is
// not read (pass `head`). -1 when none matches. Checks no text gate and
// counts nothing; reads nothing but the two buffers.
int MatchScriptRegions(const uint8_t* head, const uint8_t* tail, int64_t length);

// 1 (and *match = the record in ScriptSignatureTable) when the open file
// passes a text gate and matches a record: the gates, then the regions read
// (head, then tail) and MatchScriptRegions. A match counts in FilesInfected.
int MatchScriptSignature(int fd, const ScriptSignature** match);
