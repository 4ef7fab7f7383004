// Marvin32: two 32-bit lanes mixed per little-endian word, the tail padded
// with 0x80, two final rounds; the result is high lane << 32 | low lane.
#include "tools/sorvane-offline/regf/marvin32.h"

#include "tools/sorvane-offline/regf/bytes.h"

namespace regf {
namespace {

inline uint32_t Rotl(uint32_t v, int k) { return (v << k) | (v >> (32 - k)); }

inline void Mix(uint32_t& lo, uint32_t& hi) {
  hi ^= lo;
  lo = Rotl(lo, 20);
  lo += hi;
  hi = Rotl(hi, 9);
  hi ^= lo;
  lo = Rotl(lo, 27);
  lo += hi;
  hi = Rotl(hi, 19);
}

}  // namespace

uint64_t Marvin32(const uint8_t* data, size_t length, uint64_t seed) {
  uint32_t lo = uint32_t(seed), hi = uint32_t(seed >> 32);
  size_t at = 0;
  for (; length - at >= 4; at += 4) {
    lo += Get32(data + at);
    Mix(lo, hi);
  }
  uint32_t last = 0x80;
  for (size_t i = length; i > at; --i) last = (last << 8) | data[i - 1];
  lo += last;
  Mix(lo, hi);
  Mix(lo, hi);
  return (uint64_t(hi) << 32) | lo;
}

}  // namespace regf
