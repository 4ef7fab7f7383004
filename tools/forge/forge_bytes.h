// Little-endian field access, CRC-32 and seeded filler bytes for the forge.
#pragma once

#include <cstdint>
#include <random>

#include "tools/forge/forge.h"

namespace forge {

inline void Put16(Bytes& b, size_t at, uint32_t v) {
  b[at] = uint8_t(v);
  b[at + 1] = uint8_t(v >> 8);
}
inline void Put32(Bytes& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = uint8_t(v >> (8 * i));
}
inline void Append16(Bytes& b, uint32_t v) {
  b.push_back(uint8_t(v));
  b.push_back(uint8_t(v >> 8));
}
inline void Append32(Bytes& b, uint32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back(uint8_t(v >> (8 * i)));
}
inline uint32_t Get16(const Bytes& b, size_t at) { return b[at] | (uint32_t(b[at + 1]) << 8); }
inline uint32_t Get32(const Bytes& b, size_t at) {
  return b[at] | (uint32_t(b[at + 1]) << 8) | (uint32_t(b[at + 2]) << 16) |
         (uint32_t(b[at + 3]) << 24);
}

// True when [at, at + len) lies inside b; written so no sum can wrap.
inline bool Inside(const Bytes& b, uint64_t at, uint64_t len) {
  return at <= b.size() && len <= b.size() - at;
}

inline uint32_t Crc32(const uint8_t* p, size_t n) {
  uint32_t c = 0xFFFFFFFFu;
  for (size_t i = 0; i < n; ++i) {
    c ^= p[i];
    for (int k = 0; k < 8; ++k) c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1u)));
  }
  return ~c;
}

// Deterministic filler standing in for encrypted content.
inline Bytes Filler(size_t n, uint32_t seed) {
  std::mt19937 gen(seed);
  Bytes b(n);
  for (auto& x : b) x = uint8_t(gen() >> 24);
  return b;
}

}  // namespace forge
