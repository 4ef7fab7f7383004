// Marvin32, the keyed hash that seals each entry of a new-format
// transaction log (two hashes per entry, fixed seed).
#pragma once

#include <cstddef>
#include <cstdint>

namespace regf {

constexpr uint64_t LogEntrySeed = 0x82EF4D887A4E55C5ull;  // 14219357686671994754

uint64_t Marvin32(const uint8_t* data, size_t length, uint64_t seed);

}  // namespace regf
