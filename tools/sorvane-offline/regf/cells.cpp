// Bins and cells: the check made when a hive is opened, lookup, and the
// allocation of new cells at the end.
#include "tools/sorvane-offline/regf/cells.h"

#include <cstring>

namespace regf {
namespace {

int64_t CellSize(const uint8_t* p) { return int32_t(Get32(p)); }

}  // namespace

bool Image::Open(Bytes bytes, std::string* why) {
  b_ = std::move(bytes);
  tailFree_ = NoCell;
  BaseInfo base;
  if (b_.size() < BaseBlockSize || !ReadBase(b_.data(), b_.size(), &base)) {
    *why = "not a registry hive (no regf base block)";
    return false;
  }
  if (base.major != 1 || base.binsSize == 0 || base.binsSize % PageSize != 0 || base.binsSize > MaxBinsSize ||
      !Inside(b_.size(), BaseBlockSize, base.binsSize)) {
    *why = "the base block gives a size of bins the file does not hold";
    return false;
  }
  binsSize_ = base.binsSize;
  starts_.assign(binsSize_ / 8 / 64 + 1, 0);
  const uint8_t* bins = b_.data() + BaseBlockSize;
  for (uint32_t bin = 0; bin < binsSize_;) {
    uint32_t size = Get32(bins + bin + 8);
    if (std::memcmp(bins + bin, "hbin", 4) != 0 || Get32(bins + bin + 4) != bin || size < PageSize ||
        size % PageSize != 0 || !Inside(binsSize_, bin, size)) {
      *why = "bad hive bin at offset " + std::to_string(bin);
      return false;
    }
    uint32_t end = bin + size;
    for (uint32_t cell = bin + BinHeaderSize; cell < end;) {
      int64_t s = CellSize(bins + cell);
      if (s < 0) s = -s;
      if (s < 8 || s % 8 != 0 || !Inside(end, cell, uint64_t(s))) {
        *why = "bad cell at offset " + std::to_string(cell);
        return false;
      }
      MarkStart(cell);
      cell += uint32_t(s);
    }
    bin = end;
  }
  if (!Inside(binsSize_, base.root, 4)) {
    *why = "the root cell lies outside the bins";
    return false;
  }
  return true;
}

bool Image::Cell(uint32_t off, size_t* at, size_t* length) const {
  if (!IsStart(off)) return false;
  int64_t s = CellSize(b_.data() + BaseBlockSize + off);
  if (s >= 0) return false;
  *at = BaseBlockSize + off + 4;
  *length = size_t(-s) - 4;
  return true;
}

const uint8_t* Image::CellData(uint32_t off, size_t* length) const {
  size_t at;
  return Cell(off, &at, length) ? b_.data() + at : nullptr;
}

uint8_t* Image::MutableCell(uint32_t off, size_t* length) {
  size_t at;
  return Cell(off, &at, length) ? b_.data() + at : nullptr;
}

void Image::Carve(uint32_t freeCell, uint32_t size) {
  uint8_t* p = b_.data() + BaseBlockSize + freeCell;
  uint32_t have = Get32(p);
  tailFree_ = NoCell;
  if (have - size >= 8) {
    Put32(p + size, have - size);
    MarkStart(freeCell + size);
    tailFree_ = freeCell + size;
  } else {
    size = have;
  }
  Put32(p, uint32_t(-int32_t(size)));
  std::memset(p + 4, 0, size - 4);
}

uint32_t Image::Allocate(size_t length) {
  if (length > MaxBinsSize) return NoCell;
  uint64_t size = (uint64_t(length) + 4 + 7) & ~uint64_t(7);
  if (tailFree_ != NoCell && Get32(b_.data() + BaseBlockSize + tailFree_) >= size) {
    uint32_t cell = tailFree_;
    Carve(cell, uint32_t(size));
    return cell;
  }
  uint64_t binSize = (size + BinHeaderSize + PageSize - 1) & ~uint64_t(PageSize - 1);
  if (binSize > MaxBinsSize - binsSize_) return NoCell;
  uint32_t bin = binsSize_;
  size_t at = BaseBlockSize + bin;
  if (b_.size() < at + binSize) b_.resize(at + binSize);
  uint8_t* p = b_.data() + at;
  std::memset(p, 0, binSize);
  std::memcpy(p, "hbin", 4);
  Put32(p + 4, bin);
  Put32(p + 8, uint32_t(binSize));
  binsSize_ += uint32_t(binSize);
  Put32(b_.data() + regf::BinsSize, binsSize_);
  starts_.resize(binsSize_ / 8 / 64 + 1, 0);
  uint32_t cell = bin + BinHeaderSize;
  Put32(p + BinHeaderSize, uint32_t(binSize - BinHeaderSize));
  MarkStart(cell);
  Carve(cell, uint32_t(size));
  return cell;
}

void Image::Free(uint32_t off) {
  if (!IsStart(off)) return;
  uint8_t* p = b_.data() + BaseBlockSize + off;
  int64_t s = CellSize(p);
  if (s < 0) Put32(p, uint32_t(-s));
}

}  // namespace regf
