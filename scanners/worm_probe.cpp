// Recognition and repair of one worm variant in an open PE file: the
// nameless writable last section, the decryptor at the entry point, its
// emulation over the first body bytes, and the repair of the headers.
#include <cstring>

#include "platform/system.h"
#include "scanners/file_read.h"
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


// The repair once the variant is recognised; body holds the decrypted bytes.
int Repair(int fd, const WormVariant& variant, const uint8_t* body, long length,
           uint32_t entryOffset) {
  uint8_t* optional = PeImage.OptionalHeader;
  const unsigned count = PeSectionCount();
  uint8_t* last = PeImage.SectionTable + (count - 1) * PeSectionHeaderSize;

  uint32_t field = ReadLe32(body + variant.HostEntryOffset);
  if (variant.HostEntryComplemented) field = ~field;
  const uint32_t hostEntry = field - ReadLe32(optional + ImageBaseField);
  if (hostEntry > uint32_t(length)) return 0;

  // All or nothing: the header bytes as the file holds them now, written
  // back when any step fails, so the file stays the infected program.
  const PeHeaderImages original = PeImage;
  WriteLe32(optional + EntryPointField, hostEntry);
  WriteLe32(optional + SizeOfImageField,
        ReadLe32(optional + SizeOfImageField) - ReadLe32(last + VirtualSizeField));
  std::memset(last, 0, PeSectionHeaderSize);
  // The old count first, so the zeroed header reaches the file; then the
  // new count; then the cut where the worm's code began.
  bool done = WritePeHeaders(fd);
  if (done) {
    PeImage.FileHeader[2] = uint8_t(count - 1);
    PeImage.FileHeader[3] = uint8_t((count - 1) >> 8);
    done = WritePeHeaders(fd) && _chsize(fd, long(entryOffset)) == 0;
  }
  if (done) return 1;
  PeImage = original;
  WritePeHeaders(fd);
  return 0;
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
  if (last[0] != 0 || ReadLe32(last + CharacteristicsField) != WormSectionCharacteristics) return 0;

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
