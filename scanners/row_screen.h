// Quick screens of the scanner rows: from a file's first and last bytes as
// read, whether a row could act on the file at all. A screen answers "no"
// only where the row itself would read the same bytes and leave the file
// alone; whenever the bytes it needs were not read, it answers "maybe".
// The screens touch nothing but the bytes they are given, so they may run
// on any thread.
#pragma once

#include <cstddef>
#include <cstdint>

#include "engine/shared_state.h"

// How many bytes a reader takes from each end of a file for the screens.
constexpr size_t ScreenEndSize = 4096;

// A file's bytes as read: `head` holds bytes [0, headLength), `tail` holds
// bytes [length - tailLength, length). A file no longer than both ends
// together is held whole in `head` (tailLength 0). `header` holds bytes
// [headerOffset, headerOffset + headerLength): the PE headers when they lie
// beyond the head (see ScreenHeaderRegion).
struct FileEnds {
  const uint8_t* head = nullptr;
  size_t headLength = 0;
  const uint8_t* tail = nullptr;
  size_t tailLength = 0;
  const uint8_t* header = nullptr;
  uint64_t headerOffset = 0;
  size_t headerLength = 0;
  int64_t length = 0;
};

// At most how many bytes ScreenHeaderRegion asks for.
constexpr size_t ScreenHeaderSize = 248 + 20 * 40;

// The PE headers the rows would read, when the two ends do not hold them:
// sets *offset and returns how many bytes to read there (0: none needed).
size_t ScreenHeaderRegion(const FileEnds& ends, uint64_t* offset);

// Copies bytes [offset, offset + count) into `out` when one region of
// `ends` holds all of them; false otherwise (also for a range past the end of the file).
bool CopyFromEnds(const FileEnds& ends, uint64_t offset, size_t count, uint8_t* out);

// The row of backdoor executables and archive worm copies.
bool BackdoorRowMayAct(const FileEnds& ends);
// The row of script files and pages: its text gates, then its record loop
// on the two regions it reads.
bool ScriptRowMayAct(const FileEnds& ends);
// The row of worm-infected executables.
bool WormRowMayAct(const FileEnds& ends);

// The screen of the row running `routine`; true for a routine without one.
bool RowMayAct(FileScanner routine, const FileEnds& ends);

// True when any row of `table` (ended by a row without a name) may act.
bool AnyRowMayAct(const ScannerEntry* table, const FileEnds& ends);
