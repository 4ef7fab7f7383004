// Recognition and repair of one worm variant in an open PE file: the
// nameless writable last section, the decryptor at the entry point, its
// emulation over the first body bytes, and the repair of the headers.
#include <cstring>

#include "platform/system.h"
#include "scanners/pe_probe.h"
#include "scanners/worm_decryptor.h"
#include "scanners/worm_disinfector.h"

namespace {

constexpr uint32_t WormSectionCharacteristics = 0xE0000020;  // code, exec, read, write
// Offsets in the optional header and a section header.
constexpr int ImageBaseField = 28;
constexpr int SizeOfImageField = 56;
constexpr int EntryPointField = 16;
constexpr int VirtualSizeField = 8;
constexpr int CharacteristicsField = 36;

uint32_t Le32(const uint8_t* p) {
  return p[0] | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
void Put32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}

// Seeks to a 32-bit file offset (as the run-time's 32-bit long sees it)
// and reads exactly `count` bytes.
bool ReadAt(int fd, uint32_t offset, uint8_t* buffer, unsigned count) {
  const long at = long(int32_t(offset));
  if (at < 0 || _lseek(fd, at, SEEK_SET) != at) return false;
  return _read(fd, buffer, count) == int(count);
}

bool WriteAt(int fd, long offset, const uint8_t* buffer, unsigned count) {
  if (_lseek(fd, offset, SEEK_SET) != offset) return false;
  return _write(fd, buffer, count) == int(count);
}

// The repair once the variant is recognised; body holds the decrypted bytes.
int Repair(int fd, const WormVariant& variant, const uint8_t* body, long length,
           uint32_t entryOffset) {
  uint8_t* optional = PeImage.OptionalHeader;
  const unsigned count = PeSectionCount();
  uint8_t* last = PeImage.SectionTable + (count - 1) * PeSectionHeaderSize;

  uint32_t field = Le32(body + variant.HostEntryOffset);
  if (variant.HostEntryComplemented) field = ~field;
  const uint32_t hostEntry = field - Le32(optional + ImageBaseField);
  if (hostEntry > uint32_t(length)) return 0;

  Put32(optional + EntryPointField, hostEntry);
  Put32(optional + SizeOfImageField,
        Le32(optional + SizeOfImageField) - Le32(last + VirtualSizeField));
  std::memset(last, 0, PeSectionHeaderSize);
  WritePeHeaders(fd);  // the old count: the zeroed header reaches the file
  PeImage.FileHeader[2] = uint8_t(count - 1);
  PeImage.FileHeader[3] = uint8_t((count - 1) >> 8);
  WritePeHeaders(fd);  // the new count
  return _chsize(fd, long(entryOffset)) == 0 ? 1 : 0;
}

}  // namespace

bool WritePeHeaders(int fd) {
  const long base = PeImage.PeHeaderOffset;
  const unsigned count = PeSectionCount();
  if (count > PeMaxSections) return false;
  bool ok = WriteAt(fd, base + 4, PeImage.FileHeader, PeFileHeaderSize);
  ok = WriteAt(fd, base + 24, PeImage.OptionalHeader, PeOptionalHeaderPart) && ok;
  ok = WriteAt(fd, base + 248, PeImage.SectionTable, count * PeSectionHeaderSize) && ok;
  return ok;
}

int ProbeWormVariant(int fd, const WormVariant& variant, int repair) {
  const long length = _filelength(fd);
  if (length < 0) return 0;
  if (!ReadPeSections(fd)) return 0;
  const unsigned count = PeSectionCount();
  if (count == 0) return 0;
  const uint8_t* last = PeImage.SectionTable + (count - 1) * PeSectionHeaderSize;
  if (last[0] != 0 || Le32(last + CharacteristicsField) != WormSectionCharacteristics) return 0;

  const uint32_t entryOffset = RvaToFileOffset(PeEntryPoint(), fd);
  uint8_t entry[WormBlockSize];
  if (!ReadAt(fd, entryOffset, entry, sizeof entry)) return 0;

  uint8_t counter = 0;
  const int anchor = FindWormAnchor(entry, variant, &counter);
  if (anchor < 0) return 0;
  const int loopEnd = FindWormLoopEnd(entry, anchor);
  if (loopEnd < 0) return 0;

  uint8_t body[WormBlockSize];
  if (!ReadAt(fd, entryOffset + uint32_t(loopEnd) + 3, body, sizeof body)) return 0;
  if (!EmulateWormDecryptor(entry, anchor + 6, counter, body)) return 0;
  if (std::memcmp(body, variant.Plaintext, size_t(variant.PlaintextLength)) != 0) return 0;
  if (!repair) return 1;
  return Repair(fd, variant, body, length, entryOffset);
}
