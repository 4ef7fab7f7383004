// New-format logs: after the base block sector, entries at 512-byte
// boundaries, each "HvLE", its size, flags, sequence number, the size of
// the bins when it was written, its dirty page count, two Marvin32 hashes
// (of the page references and pages, and of the first 32 bytes), the page
// references (offset and size within the bins) and the pages.
#include <cstring>

#include "tools/sorvane-offline/regf/base_block.h"
#include "tools/sorvane-offline/regf/marvin32.h"
#include "tools/sorvane-offline/regf/replay.h"

namespace regf {
namespace {

constexpr size_t EntryHeader = 40;

struct Entry {
  size_t at, size;
  uint32_t sequence, binsSize, pages;
};

// The entry at `at`, when one starts there (signature and a size that fits).
bool EntryAt(const Bytes& log, size_t at, Entry* e) {
  if (!Inside(log.size(), at, EntryHeader) || std::memcmp(log.data() + at, "HvLE", 4) != 0) return false;
  const uint8_t* p = log.data() + at;
  e->at = at;
  e->size = Get32(p + 4);
  e->sequence = Get32(p + 12);
  e->binsSize = Get32(p + 16);
  e->pages = Get32(p + 20);
  return e->size >= EntryHeader && e->size % 512 == 0 && Inside(log.size(), at, e->size);
}

// Checks the entry's hashes, bins size and page references; applies it.
bool Apply(Bytes* hive, const Bytes& log, const Entry& e, std::string* why) {
  const uint8_t* p = log.data() + e.at;
  if (Marvin32(p + EntryHeader, e.size - EntryHeader, LogEntrySeed) != Get64(p + 24) ||
      Marvin32(p, 32, LogEntrySeed) != Get64(p + 32)) {
    *why = "its hashes do not match";
    return false;
  }
  if (e.binsSize == 0 || e.binsSize % PageSize != 0 || e.binsSize > 0x7FFFF000u - BaseBlockSize) {
    *why = "it gives a bad size of bins";
    return false;
  }
  if (!Inside(e.size - EntryHeader, 0, uint64_t(e.pages) * 8)) {
    *why = "its page references pass its end";
    return false;
  }
  size_t data = EntryHeader + size_t(e.pages) * 8;
  for (uint32_t i = 0; i < e.pages; ++i) {
    uint32_t off = Get32(p + EntryHeader + 8 * i), size = Get32(p + EntryHeader + 8 * i + 4);
    if (size == 0 || off % 512 != 0 || size % 512 != 0 || !Inside(e.binsSize, off, size) ||
        !Inside(e.size, data, size)) {
      *why = "a page reference lies outside the bins or the entry";
      return false;
    }
    data += size;
  }
  hive->resize(BaseBlockSize + e.binsSize);
  data = EntryHeader + size_t(e.pages) * 8;
  for (uint32_t i = 0; i < e.pages; ++i) {
    uint32_t off = Get32(p + EntryHeader + 8 * i), size = Get32(p + EntryHeader + 8 * i + 4);
    std::memcpy(hive->data() + BaseBlockSize + off, p + data, size);
    data += size;
  }
  Put32(hive->data() + BinsSize, e.binsSize);
  return true;
}

}  // namespace

bool ReplayNewLogs(Bytes* hive, const std::vector<const LogFile*>& logs, uint32_t expected, ReplayResult* r) {
  // The logs are read again as long as one continues the sequence, so that
  // entries split between LOG1 and LOG2 apply in either order.
  for (bool progress = true; progress;) {
    progress = false;
    for (const LogFile* log : logs) {
      Entry e;
      for (size_t at = 512; EntryAt(log->bytes, at, &e); at += e.size) {
        if (e.sequence > r->lastSequence) r->lastSequence = e.sequence;
        if (e.sequence < expected) continue;  // applied before
        if (e.sequence > expected) break;     // not the next one: this log ends here
        std::string why;
        if (!Apply(hive, log->bytes, e, &why)) {
          r->why = "the entry " + std::to_string(e.sequence) + " of " + log->name + " cannot be replayed: " + why;
          return false;
        }
        SealBase(hive->data(), e.sequence);
        ++r->applied;
        ++expected;
        progress = true;
      }
    }
  }
  return true;
}

}  // namespace regf
