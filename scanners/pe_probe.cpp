// PE header probes over a descriptor opened read-only in binary mode.
#include "scanners/pe_probe.h"

#include <cstring>

#include "platform/system.h"
#include "scanners/file_read.h"

PeHeaderImages PeImage;

namespace {

struct Section {
  uint32_t virtualSize, virtualAddress, rawPointer;
};

Section SectionAt(int i) {
  const uint8_t* s = PeImage.SectionTable + i * PeSectionHeaderSize;
  return {ReadLe32(s + 8), ReadLe32(s + 12), ReadLe32(s + 20)};
}

}  // namespace

uint16_t PeSectionCount() { return uint16_t(ReadLe16(PeImage.FileHeader + 2)); }
uint32_t PeEntryPoint() { return ReadLe32(PeImage.OptionalHeader + 16); }
uint32_t PeSizeOfHeaders() { return ReadLe32(PeImage.OptionalHeader + 60); }

int ReadPeHeader(int fd) {
  std::memset(PeImage.FileHeader, 0, sizeof PeImage.FileHeader);
  PeImage.PeHeaderOffset = 0;
  uint8_t two[2];
  if (!ReadAt(fd, 0x3C, two, 2)) return 0;
  PeImage.PeHeaderOffset = uint16_t(ReadLe16(two));
  uint8_t signature[4];
  if (!ReadAt(fd, PeImage.PeHeaderOffset, signature, 4) || ReadLe32(signature) != 0x00004550)
    return 0;
  return ReadAt(fd, PeImage.PeHeaderOffset + 4u, PeImage.FileHeader, PeFileHeaderSize)
             ? 1
             : 0;
}

int ReadPeSections(int fd) {
  const uint32_t base = PeImage.PeHeaderOffset;
  if (!ReadAt(fd, base + 24, PeImage.OptionalHeader, PeOptionalHeaderPart)) return 0;
  const unsigned count = PeSectionCount();
  if (count > PeMaxSections) return 0;
  std::memset(PeImage.SectionTable, 0, sizeof PeImage.SectionTable);
  if (!SeekToOffset(fd, base + 248)) return 0;
  return ReadExactly(fd, PeImage.SectionTable, count * PeSectionHeaderSize) ? 1 : 0;
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
