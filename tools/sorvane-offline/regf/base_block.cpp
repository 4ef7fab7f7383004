// Base block fields and checksum.
#include "tools/sorvane-offline/regf/base_block.h"

#include <cstring>

namespace regf {

uint32_t BaseChecksum(const uint8_t* p) {
  uint32_t sum = 0;
  for (size_t at = 0; at < ChecksumField; at += 4) sum ^= Get32(p + at);
  if (sum == 0xFFFFFFFFu) return 0xFFFFFFFEu;
  return sum == 0 ? 1 : sum;
}

bool ReadBase(const uint8_t* p, size_t size, BaseInfo* info) {
  if (size < 512 || std::memcmp(p, "regf", 4) != 0) return false;
  info->seq1 = Get32(p + SeqPrimary);
  info->seq2 = Get32(p + SeqSecondary);
  info->stamp = Get64(p + LastWritten);
  info->major = Get32(p + MajorVersion);
  info->minor = Get32(p + MinorVersion);
  info->type = Get32(p + FileType);
  info->root = Get32(p + RootCell);
  info->binsSize = Get32(p + BinsSize);
  info->clustering = Get32(p + Clustering);
  info->checksumOk = BaseChecksum(p) == Get32(p + ChecksumField);
  return true;
}

void SealBase(uint8_t* p, uint32_t seq) {
  Put32(p + SeqPrimary, seq);
  Put32(p + SeqSecondary, seq);
  Put32(p + ChecksumField, BaseChecksum(p));
}

}  // namespace regf
