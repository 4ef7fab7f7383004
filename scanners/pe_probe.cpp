// PE header probes over a descriptor opened read-only in binary mode.
#include "scanners/pe_probe.h"

#include <cstring>

#include "platform/system.h"

PeHeaderImages PeImage;

namespace {

uint32_t Le16(const uint8_t* p) { return p[0] | (uint32_t(p[1]) << 8); }
uint32_t Le32(const uint8_t* p) {
  return p[0] | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}

// Seeks to `offset` from the start and reads exactly `count` bytes.
bool ReadAt(int fd, long offset, void* buffer, unsigned count) {
  if (_lseek(fd, offset, SEEK_SET) != offset) return false;
  return _read(fd, buffer, count) == int(count);
}

struct Section {
  uint32_t virtualSize, virtualAddress, rawPointer;
};

Section SectionAt(int i) {
  const uint8_t* s = PeImage.SectionTable + i * PeSectionHeaderSize;
  return {Le32(s + 8), Le32(s + 12), Le32(s + 20)};
}

}  // namespace

uint16_t PeSectionCount() { return uint16_t(Le16(PeImage.FileHeader + 2)); }
uint32_t PeEntryPoint() { return Le32(PeImage.OptionalHeader + 16); }
uint32_t PeSizeOfHeaders() { return Le32(PeImage.OptionalHeader + 60); }

int ReadPeHeader(int fd) {
  std::memset(PeImage.FileHeader, 0, sizeof PeImage.FileHeader);
  PeImage.PeHeaderOffset = 0;
  uint8_t two[2];
  if (!ReadAt(fd, 0x3C, two, 2)) return 0;
  PeImage.PeHeaderOffset = uint16_t(Le16(two));
  uint8_t signature[4];
  if (!ReadAt(fd, PeImage.PeHeaderOffset, signature, 4) || Le32(signature) != 0x00004550)
    return 0;
  return ReadAt(fd, long(PeImage.PeHeaderOffset) + 4, PeImage.FileHeader, PeFileHeaderSize)
             ? 1
             : 0;
}

int ReadPeSections(int fd) {
  const long base = PeImage.PeHeaderOffset;
  if (!ReadAt(fd, base + 24, PeImage.OptionalHeader, PeOptionalHeaderPart)) return 0;
  const unsigned count = PeSectionCount();
  if (count > PeMaxSections) return 0;
  std::memset(PeImage.SectionTable, 0, sizeof PeImage.SectionTable);
  if (_lseek(fd, base + 248, SEEK_SET) != base + 248) return 0;
  const unsigned bytes = count * PeSectionHeaderSize;
  return _read(fd, PeImage.SectionTable, bytes) == int(bytes) ? 1 : 0;
}

uint32_t RvaToFileOffset(uint32_t address, int fd) {
  // The count is at most 20 after a successful ReadPeSections; the clamp
  // keeps a misuse inside the table.
  int count = PeSectionCount();
  if (count > PeMaxSections) count = PeMaxSections;
  int chosen = count > 0 ? count - 1 : 0;
  for (int i = 0; i < count; ++i) {
    Section s = SectionAt(i);
    if (uint32_t(s.virtualAddress + s.virtualSize) > address) {
      chosen = i;
      break;
    }
  }
  Section s = SectionAt(chosen);
  uint32_t result = address + s.rawPointer - s.virtualAddress;
  if (result >= uint32_t(_filelength(fd))) result = address;
  return result == 0 ? PeSizeOfHeaders() : result;
}
