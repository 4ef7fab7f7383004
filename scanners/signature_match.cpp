// Signature record matching for the backdoor scanner.
#include "scanners/signature_match.h"

#include <cstring>

#include "platform/system.h"
#include "scanners/file_read.h"
#include "scanners/pe_probe.h"

namespace {

bool FragmentAt(int fd, uint32_t offset, const uint8_t* pattern) {
  uint8_t bytes[FragmentSize];
  return SeekToOffset(fd, offset) && ReadExactly(fd, bytes, FragmentSize) &&
         std::memcmp(bytes, pattern, FragmentSize) == 0;
}

bool FragmentInWindow(int fd, int32_t offset, const uint8_t* pattern) {
  uint8_t window[ArchiveWindowSize];
  if (!SeekToOffset(fd, uint32_t(offset)) || !ReadExactly(fd, window, ArchiveWindowSize))
    return false;
  // Candidates start below ArchiveWindowSize - FragmentSize.
  const uint8_t* at = window;
  const uint8_t* const end = window + (ArchiveWindowSize - FragmentSize);
  while (at < end) {
    at = static_cast<const uint8_t*>(std::memchr(at, pattern[0], size_t(end - at)));
    if (!at) return false;
    if (std::memcmp(at, pattern, FragmentSize) == 0) return true;
    ++at;
  }
  return false;
}

bool BeginsWithPk(int fd) {
  uint8_t head[40];
  return SeekToOffset(fd, 0) && ReadExactly(fd, head, sizeof head) && head[0] == 'P' &&
         head[1] == 'K';
}

}  // namespace

int SizeRulePasses(const SignatureRecord& record, int32_t length) {
  switch (record.SizeRule) {
    case ExactSize:
      return int64_t(record.FileSize) == length;
    case NearSize: {
      const int64_t difference = int64_t(record.FileSize) - length;
      return difference > -SizeTolerance && difference < SizeTolerance;
    }
    case AnySize:
      return 1;
    default:
      return 0;
  }
}

int BackdoorFragmentsMatch(const SignatureRecord& record, int fd, uint32_t entryPoint) {
  // entry point + offset wraps around as a 32-bit sum.
  if (!FragmentAt(fd, RvaToFileOffset(entryPoint + uint32_t(record.Offset1), fd), record.Pattern1))
    return 0;
  return FragmentAt(fd, RvaToFileOffset(entryPoint + uint32_t(record.Offset2), fd), record.Pattern2)
             ? 1
             : 0;
}

int FindBackdoorRecord(int fd, int32_t length, uint32_t entryPoint) {
  for (int i = 0; BackdoorSignatures[i].Name[0]; ++i) {
    const SignatureRecord& record = BackdoorSignatures[i];
    if (SizeRulePasses(record, length) && BackdoorFragmentsMatch(record, fd, entryPoint)) return i;
  }
  return -1;
}

int ArchiveFragmentsMatch(const SignatureRecord& record, int fd) {
  return FragmentInWindow(fd, record.Offset1, record.Pattern1) &&
                 FragmentInWindow(fd, record.Offset2, record.Pattern2)
             ? 1
             : 0;
}

int FindArchiveRecord(int fd, int32_t length) {
  for (int i = 0; ArchiveSignatures[i].Name[0]; ++i) {
    const SignatureRecord& record = ArchiveSignatures[i];
    if (!SizeRulePasses(record, length)) continue;
    if (!BeginsWithPk(fd)) return -1;
    if (ArchiveFragmentsMatch(record, fd)) return i;
  }
  return -1;
}
