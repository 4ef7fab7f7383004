// A hive image in memory: its bins and cells checked once when opened
// (every bin in sequence, every cell inside its bin, the cells of a bin
// covering it exactly), then cells looked up only where one starts.
// New cells go into bins appended at the end, so that every cell already
// there keeps its place and its bytes.
#pragma once

#include <string>

#include "tools/sorvane-offline/regf/base_block.h"
#include "tools/sorvane-offline/regf/bytes.h"

namespace regf {

// The largest hive the layer reads or writes (Windows refuses bigger ones).
constexpr uint64_t MaxBinsSize = 0x7FFFF000u - BaseBlockSize;

class Image {
 public:
  // Takes a whole hive file; false with the reason when its base block,
  // bins or cells are not sound.
  bool Open(Bytes bytes, std::string* why);

  const Bytes& bytes() const { return b_; }
  Bytes& bytes() { return b_; }
  uint32_t BinsSize() const { return binsSize_; }
  uint32_t Root() const { return Get32(b_.data() + RootCell); }
  uint32_t MinorVersion() const { return Get32(b_.data() + regf::MinorVersion); }

  // The payload of the allocated cell starting at `off` (relative to the
  // first bin): its file position and length; false when no allocated cell
  // starts there.
  bool Cell(uint32_t off, size_t* at, size_t* length) const;
  const uint8_t* CellData(uint32_t off, size_t* length) const;
  uint8_t* MutableCell(uint32_t off, size_t* length);

  // A new allocated cell of at least `length` payload bytes, zeroed, in a
  // bin appended at the end; NoCell when the hive would grow past its bound.
  uint32_t Allocate(size_t length);
  // Marks an allocated cell free (its bytes stay).
  void Free(uint32_t off);

 private:
  bool IsStart(uint32_t off) const { return off < binsSize_ && off % 8 == 0 && (starts_[off / 8 / 64] >> (off / 8 % 64)) & 1; }
  void MarkStart(uint32_t off) { starts_[off / 8 / 64] |= uint64_t(1) << (off / 8 % 64); }
  void Carve(uint32_t freeCell, uint32_t size);

  Bytes b_;
  uint32_t binsSize_ = 0;
  std::vector<uint64_t> starts_;  // one bit per 8 bytes of bins: a cell starts there
  uint32_t tailFree_ = NoCell;    // the free cell at the end of a bin we appended
};

}  // namespace regf
