// Which logs replay a dirty hive: the usable ones (a regf sector with a
// right checksum), new format first; a base block with a wrong checksum is
// taken from a log before anything is applied.
#include <algorithm>
#include <cstring>

#include "tools/sorvane-offline/regf/base_block.h"
#include "tools/sorvane-offline/regf/replay.h"

namespace regf {
namespace {

// The lowest sequence number at or after `from` among the logs' entries.
uint32_t FirstSequence(const std::vector<const LogFile*>& logs, uint32_t from) {
  uint32_t first = from;
  bool found = false;
  for (const LogFile* log : logs) {
    const Bytes& b = log->bytes;
    for (size_t at = 512; Inside(b.size(), at, 40) && std::memcmp(b.data() + at, "HvLE", 4) == 0;) {
      uint32_t size = Get32(b.data() + at + 4), seq = Get32(b.data() + at + 12);
      if (seq >= from && (!found || seq < first)) {
        first = seq;
        found = true;
      }
      if (size < 40 || size % 512 != 0 || !Inside(b.size(), at, size)) break;
      at += size;
    }
  }
  return first;
}

}  // namespace

Bytes LogBaseSector(const Bytes& hive, uint32_t fileType) {
  Bytes sector(hive.begin(), hive.begin() + 512);
  Put32(sector.data() + FileType, fileType);
  Put32(sector.data() + ChecksumField, BaseChecksum(sector.data()));
  return sector;
}

ReplayResult Replay(Bytes* hive, const std::vector<LogFile>& logs) {
  ReplayResult r;
  BaseInfo primary;
  if (hive->size() < BaseBlockSize || !ReadBase(hive->data(), hive->size(), &primary) || !IsDirty(primary)) {
    r.complete = true;  // clean, or no hive at all (the reader says so)
    r.lastSequence = std::max(primary.seq1, primary.seq2);
    return r;
  }
  r.dirty = true;
  r.lastSequence = std::max(primary.seq1, primary.seq2);
  std::vector<const LogFile*> newLogs, oldLogs;
  for (const LogFile& log : logs) {
    BaseInfo b;
    if (!ReadBase(log.bytes.data(), log.bytes.size(), &b) || !b.checksumOk) continue;
    if (b.type == NewLogFile) newLogs.push_back(&log);
    if (b.type == OldLogFile && b.seq1 == b.seq2) oldLogs.push_back(&log);
  }
  if (newLogs.empty() && oldLogs.empty()) {
    r.why = logs.empty() ? "its transaction logs are missing" : "none of its transaction logs is usable";
    return r;
  }
  if (!primary.checksumOk) {
    const LogFile* from = newLogs.empty() ? oldLogs[0] : newLogs[0];
    std::memcpy(hive->data(), from->bytes.data(), 512);
    Put32(hive->data() + FileType, PrimaryFile);
    Put32(hive->data() + ChecksumField, BaseChecksum(hive->data()));
    ReadBase(hive->data(), hive->size(), &primary);
    primary.checksumOk = false;  // the time stamp to match is the first bin's
  }
  if (!newLogs.empty()) {
    if (!ReplayNewLogs(hive, newLogs, FirstSequence(newLogs, primary.seq1), &r)) return r;
    if (r.applied == 0) {
      r.why = "no entry of its transaction logs continues it";
      return r;
    }
    r.complete = true;
    return r;
  }
  uint64_t stamp = primary.stamp;
  if (!primary.checksumOk) stamp = Inside(hive->size(), BaseBlockSize + 20, 8) ? Get64(hive->data() + BaseBlockSize + 20) : 0;
  for (const LogFile* log : oldLogs) {
    BaseInfo b;
    ReadBase(log->bytes.data(), log->bytes.size(), &b);
    if (b.stamp != stamp) continue;
    if (ReplayOldLog(hive, *log, &r)) {
      r.complete = true;
      r.why.clear();
      return r;
    }
  }
  if (r.why.empty()) r.why = "no transaction log matches its time stamp";
  return r;
}

}  // namespace regf
