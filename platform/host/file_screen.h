// The screen the read-ahead runs over each regular file it reads: what a
// reader took of the file, and the caller's function that says whether any
// scanner row could act on it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace host {

// Bytes [0, headLength) of the file in `head` and [length - tailLength,
// length) in `tail`; a file of at most two ends' length whole in `head`
// (tailLength 0). `fd` is the file open for reading, for a screen that
// needs more (pread only: the offset is shared).
struct ScreenBytes {
  const uint8_t* head = nullptr;
  size_t headLength = 0;
  const uint8_t* tail = nullptr;
  size_t tailLength = 0;
  int64_t length = 0;
  int fd = -1;
};

// False when no scanner row could act on the file. It runs on the pool's
// threads and must touch nothing but what it is given.
using FileScreen = bool (*)(const ScreenBytes& bytes);

}  // namespace host
