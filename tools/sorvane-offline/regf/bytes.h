// Little-endian fields of hive and log files, and the one bounds check
// every reader uses: [off, off + len) inside a buffer of `size` bytes,
// written so that no sum can wrap.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace regf {

using Bytes = std::vector<uint8_t>;

constexpr size_t BaseBlockSize = 4096;  // the base block, then the bins
constexpr size_t BinHeaderSize = 32;
constexpr size_t PageSize = 4096;       // bins are multiples of this
constexpr uint32_t NoCell = 0xFFFFFFFFu;

inline bool Inside(uint64_t size, uint64_t off, uint64_t len) { return off <= size && len <= size - off; }

inline uint32_t Get16(const uint8_t* p) { return p[0] | (uint32_t(p[1]) << 8); }
inline uint32_t Get32(const uint8_t* p) {
  return p[0] | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
inline uint64_t Get64(const uint8_t* p) { return Get32(p) | (uint64_t(Get32(p + 4)) << 32); }
inline void Put16(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
}
inline void Put32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}
inline void Put64(uint8_t* p, uint64_t v) {
  Put32(p, uint32_t(v));
  Put32(p + 4, uint32_t(v >> 32));
}

}  // namespace regf
