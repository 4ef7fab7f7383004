// Old-format logs: after the base block sector, "DIRT" and a bitmap with
// one bit per 512-byte page of the bins (lowest bit first), then, from the
// next sector on, one 512-byte page for each set bit, in bit order. The
// pages go into a copy of the hive, whose bins must then chain soundly;
// otherwise the hive is left as it was.
#include <cstring>

#include "tools/sorvane-offline/regf/base_block.h"
#include "tools/sorvane-offline/regf/replay.h"

namespace regf {
namespace {

bool BinsChain(const Bytes& hive, uint32_t binsSize) {
  const uint8_t* bins = hive.data() + BaseBlockSize;
  for (uint32_t bin = 0; bin < binsSize;) {
    uint32_t size = Get32(bins + bin + 8);
    if (std::memcmp(bins + bin, "hbin", 4) != 0 || Get32(bins + bin + 4) != bin || size < PageSize ||
        size % PageSize != 0 || !Inside(binsSize, bin, size)) {
      return false;
    }
    bin += size;
  }
  return true;
}

}  // namespace

bool ReplayOldLog(Bytes* hive, const LogFile& log, ReplayResult* r) {
  const Bytes& l = log.bytes;
  BaseInfo base;
  ReadBase(l.data(), l.size(), &base);
  size_t sector = 512 * size_t(base.clustering);
  size_t bitmapBytes = base.binsSize / 512 / 8;
  if (base.clustering < 1 || base.clustering > 8 || base.binsSize == 0 || base.binsSize % PageSize != 0 ||
      base.binsSize > 0x7FFFF000u - BaseBlockSize || !Inside(l.size(), sector, 4 + bitmapBytes) ||
      std::memcmp(l.data() + sector, "DIRT", 4) != 0) {
    r->why = log.name + " holds no dirty vector";
    return false;
  }
  const uint8_t* bitmap = l.data() + sector + 4;
  size_t pagesAt = (sector + 4 + bitmapBytes + sector - 1) / sector * sector;
  Bytes copy = *hive;
  copy.resize(BaseBlockSize + base.binsSize);
  size_t page = 0, applied = 0;
  for (size_t bit = 0; bit < bitmapBytes * 8; ++bit) {
    if (!((bitmap[bit / 8] >> (bit % 8)) & 1)) continue;
    size_t from = pagesAt + 512 * page++;
    if (!Inside(l.size(), from, 512)) {
      r->why = log.name + " ends before its dirty pages";
      return false;
    }
    std::memcpy(copy.data() + BaseBlockSize + 512 * bit, l.data() + from, 512);
    ++applied;
  }
  if (!BinsChain(copy, base.binsSize)) {
    r->why = "the dirty pages of " + log.name + " do not make sound bins";
    return false;
  }
  std::memcpy(copy.data(), l.data(), 512);
  Put32(copy.data() + FileType, PrimaryFile);
  SealBase(copy.data(), base.seq1);
  *hive = std::move(copy);
  r->applied = applied;
  if (base.seq1 > r->lastSequence) r->lastSequence = base.seq1;
  return true;
}

}  // namespace regf
