// The 4 KiB base block that opens a hive (and, cut to one sector, each of
// its transaction logs): signature, the two sequence numbers whose
// difference marks a hive dirty, the root cell, the size of the bins and
// the XOR checksum over the first 508 bytes.
#pragma once

#include <string>

#include "tools/sorvane-offline/regf/bytes.h"

namespace regf {

// Field offsets.
enum BaseField : size_t {
  SeqPrimary = 4,
  SeqSecondary = 8,
  LastWritten = 12,
  MajorVersion = 20,
  MinorVersion = 24,
  FileType = 28,
  FileFormat = 32,
  RootCell = 36,
  BinsSize = 40,
  Clustering = 44,
  ChecksumField = 508,
};

enum FileKind : uint32_t { PrimaryFile = 0, OldLogFile = 1, NewLogFile = 6 };

struct BaseInfo {
  uint32_t seq1 = 0, seq2 = 0;
  uint64_t stamp = 0;
  uint32_t major = 0, minor = 0, type = 0, root = 0, binsSize = 0, clustering = 0;
  bool checksumOk = false;
};

// The checksum of the 508 bytes at `p` as Windows writes it (0 becomes 1,
// all ones becomes all ones less one).
uint32_t BaseChecksum(const uint8_t* p);

// Reads the base block at `p` (at least 512 bytes); false when the
// signature is not "regf".
bool ReadBase(const uint8_t* p, size_t size, BaseInfo* info);

// Dirty: a wrong checksum or differing sequence numbers.
inline bool IsDirty(const BaseInfo& b) { return !b.checksumOk || b.seq1 != b.seq2; }

// Sets both sequence numbers and the checksum of the base block at `p`.
void SealBase(uint8_t* p, uint32_t seq);

}  // namespace regf
