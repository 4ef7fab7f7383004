// Small helpers the scanners share for reading header images from a file:
// little-endian fields, and positioning by 32-bit file offsets.
#pragma once

#include <cstdint>

#include "platform/system.h"

inline uint32_t ReadLe16(const uint8_t* p) { return p[0] | (uint32_t(p[1]) << 8); }
inline uint32_t ReadLe32(const uint8_t* p) {
  return p[0] | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}

// Seeks to a 32-bit file offset from the start. An offset at 2 GB or beyond
// cannot be reached, as with the target's 32-bit long, on either platform.
inline bool SeekToOffset(int fd, uint32_t offset) {
  const long at = long(int32_t(offset));
  return at >= 0 && _lseek(fd, at, SEEK_SET) == at;
}

inline bool ReadExactly(int fd, void* buffer, unsigned count) {
  return _read(fd, buffer, count) == int(count);
}

inline void WriteLe32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}

// Seeks to a 32-bit file offset and reads exactly `count` bytes.
inline bool ReadAt(int fd, uint32_t offset, void* buffer, unsigned count) {
  return SeekToOffset(fd, offset) && ReadExactly(fd, buffer, count);
}

// Seeks to a 32-bit file offset and writes exactly `count` bytes.
inline bool WriteAt(int fd, uint32_t offset, const void* buffer, unsigned count) {
  return SeekToOffset(fd, offset) && _write(fd, buffer, count) == int(count);
}
