// A minimal empty registry hive from the published regf layout: the 4 KiB
// base block with its checksum, one 4 KiB bin holding the root key (nk), a
// security cell (sk) the root and its future subkeys share, and the rest of
// the bin as one free cell. Tests fill it through hivex.
#include <algorithm>

#include "tools/forge/forge.h"
#include "tools/forge/forge_bytes.h"

namespace forge {
namespace {

constexpr size_t BlockSize = 0x1000;
constexpr uint32_t None = 0xFFFFFFFFu;
constexpr uint64_t Stamp = 0x01D0000000000000ull;  // a fixed FILETIME: forged hives are deterministic

void Put64(Bytes& b, size_t at, uint64_t v) {
  Put32(b, at, uint32_t(v));
  Put32(b, at + 4, uint32_t(v >> 32));
}

// The XOR of the base block's first 127 dwords, never 0 or all ones.
uint32_t BaseChecksum(const Bytes& b) {
  uint32_t sum = 0;
  for (size_t at = 0; at < 0x1FC; at += 4) sum ^= Get32(b, at);
  if (sum == None) return 0xFFFFFFFEu;
  return sum == 0 ? 1 : sum;
}

}  // namespace

Bytes EmptyHive(const std::string& rootName) {
  Bytes b(2 * BlockSize, 0);
  // Base block.
  std::copy_n("regf", 4, b.begin());
  Put32(b, 0x04, 1);  // primary and secondary sequence numbers equal: consistent
  Put32(b, 0x08, 1);
  Put64(b, 0x0C, Stamp);
  Put32(b, 0x14, 1);  // format 1.3
  Put32(b, 0x18, 3);
  Put32(b, 0x1C, 0);  // primary file
  Put32(b, 0x20, 1);  // direct memory load
  Put32(b, 0x24, 0x20);  // root cell, relative to the first bin
  Put32(b, 0x28, uint32_t(BlockSize));  // size of the bins
  Put32(b, 0x2C, 1);  // clustering factor

  // The bin.
  const size_t bin = BlockSize;
  std::copy_n("hbin", 4, b.begin() + bin);
  Put32(b, bin + 0x04, 0);
  Put32(b, bin + 0x08, uint32_t(BlockSize));
  Put64(b, bin + 0x14, Stamp);

  // Root key cell at 0x20: 4 bytes of size, 0x4C bytes of record, the name.
  const size_t nameLength = rootName.size();
  const size_t nkSize = (4 + 0x4C + nameLength + 7) & ~size_t(7);
  const size_t nk = bin + 0x20;
  const size_t skOffset = 0x20 + nkSize;  // relative to the first bin
  Put32(b, nk, uint32_t(-int32_t(nkSize)));
  const size_t r = nk + 4;
  std::copy_n("nk", 2, b.begin() + r);
  Put16(b, r + 0x02, 0x2C);  // hive entry, not deletable, ASCII name
  Put64(b, r + 0x04, Stamp);
  Put32(b, r + 0x10, 0);     // parent (none)
  Put32(b, r + 0x1C, None);  // subkey lists
  Put32(b, r + 0x20, None);
  Put32(b, r + 0x28, None);  // value list
  Put32(b, r + 0x2C, uint32_t(skOffset));
  Put32(b, r + 0x30, None);  // class name
  Put16(b, r + 0x48, uint32_t(nameLength));
  std::copy(rootName.begin(), rootName.end(), b.begin() + r + 0x4C);

  // Security cell: a self-relative descriptor without owner, group or lists.
  const size_t descriptorSize = 20;
  const size_t skSize = (4 + 0x14 + descriptorSize + 7) & ~size_t(7);
  const size_t sk = bin + skOffset;
  Put32(b, sk, uint32_t(-int32_t(skSize)));
  std::copy_n("sk", 2, b.begin() + sk + 4);
  Put32(b, sk + 4 + 0x04, uint32_t(skOffset));  // the only one: linked to itself
  Put32(b, sk + 4 + 0x08, uint32_t(skOffset));
  Put32(b, sk + 4 + 0x0C, 1);                   // used by the root
  Put32(b, sk + 4 + 0x10, uint32_t(descriptorSize));
  b[sk + 4 + 0x14] = 1;                         // revision
  Put16(b, sk + 4 + 0x16, 0x8000);              // self-relative

  // The rest of the bin is free.
  const size_t freeAt = skOffset + skSize;
  Put32(b, bin + freeAt, uint32_t(BlockSize - freeAt));

  Put32(b, 0x1FC, BaseChecksum(b));
  return b;
}

}  // namespace forge
