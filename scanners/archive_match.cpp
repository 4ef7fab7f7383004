// The eight archive matchers: one ZIP and one RAR routine, parameterised
// by each member's size band and entry rule.
#include "scanners/archive_match.h"

#include <cstdint>
#include <cstring>

#include "platform/system.h"
#include "scanners/file_read.h"

namespace {

constexpr unsigned NameBufferSize = 300;  // longer names are not read

bool InBand(uint32_t size, uint32_t low, uint32_t high) { return size >= low && size <= high; }

// Reads the entry's name at `at` and, when it has a ".", requires one of
// the executable extensions after the last one.
bool NameAllowed(int fd, uint32_t at, uint32_t length) {
  if (length >= NameBufferSize) return true;
  char name[NameBufferSize];
  std::memset(name, 0, sizeof name);
  if (!SeekToOffset(fd, at) || !ReadExactly(fd, name, length)) return false;
  const char* dot = std::strrchr(name, '.');
  if (!dot) return true;
  static const char* const kExtensions[] = {"EXE", "SCR", "COM", "BAT", "PIF"};
  for (const char* ext : kExtensions)
    if (_stricmp(dot + 1, ext) == 0) return true;
  return false;
}

enum class ZipRule { StoredPlus12, MethodBits };

struct ZipMember {
  ZipRule rule;
  uint32_t low, high;    // entry size band, inclusive
  uint32_t low2, high2;  // second band (high2 0: none)
  bool shortEndMatches;  // an end record under 22 bytes still matches
};

int MatchZip(int fd, const ZipMember& m) {
  uint8_t local[30];
  if (!SeekToOffset(fd, 0) || !ReadExactly(fd, local, sizeof local)) return 0;
  if (local[0] != 'P' || local[1] != 'K') return 0;
  if ((ReadLe16(local + 6) & 1) == 0) return 0;  // not encrypted
  const uint32_t method = ReadLe16(local + 8);
  const uint32_t packed = ReadLe32(local + 18), size = ReadLe32(local + 22);
  const uint32_t nameLength = ReadLe16(local + 26), extraLength = ReadLe16(local + 28);
  if (m.rule == ZipRule::StoredPlus12) {
    // Traditional encryption puts a 12-byte header before stored data.
    if (packed - size != 12 || !InBand(size, m.low, m.high) || method != 0) return 0;
  } else {
    bool band = InBand(size, m.low, m.high) || (m.high2 && InBand(size, m.low2, m.high2));
    if (!band || (method & 0x06) != 0) return 0;
  }
  if (!NameAllowed(fd, 30, nameLength)) return 0;

  // A: past the entry's data, where the central directory should start.
  const uint32_t a = 30 + nameLength + extraLength + packed;
  uint8_t central[46];
  if (!SeekToOffset(fd, a) || !ReadExactly(fd, central, sizeof central)) return 1;  // cut after the entry
  // B: past one central entry, where the end record should start.
  const uint32_t b = a + 46 + ReadLe16(central + 28) + ReadLe16(central + 30) + ReadLe16(central + 32);
  uint8_t end[22];
  if (!SeekToOffset(fd, b)) return 0;
  if (!ReadExactly(fd, end, sizeof end)) {
    // A short end record is taken for a damaged single-entry archive only
    // when a central header really follows the entry: behind a second
    // entry's local header, B is just a number read from its name.
    const bool follows = central[0] == 'P' && central[1] == 'K' && central[2] == 1 && central[3] == 2;
    return m.shortEndMatches && follows ? 1 : 0;
  }
  return ReadLe16(end + 8) == 1 && ReadLe16(end + 10) == 1 ? 1 : 0;
}

int MatchRar(int fd, uint32_t low, uint32_t high) {
  uint8_t marker[7];
  if (!SeekToOffset(fd, 0) || !ReadExactly(fd, marker, sizeof marker)) return 0;
  if (marker[0] != 'R' || marker[1] != 'a' || marker[2] != 'r') return 0;
  const uint32_t archiveAt = ReadLe16(marker + 5);
  uint8_t archive[13];
  if (!SeekToOffset(fd, archiveAt) || !ReadExactly(fd, archive, sizeof archive)) return 0;
  const uint32_t fileAt = archiveAt + ReadLe16(archive + 5);
  uint8_t file[32];
  if (!SeekToOffset(fd, fileAt) || !ReadExactly(fd, file, sizeof file)) return 0;
  if ((ReadLe16(file + 3) & 0x04) == 0) return 0;  // not encrypted
  const uint32_t packed = ReadLe32(file + 7), size = ReadLe32(file + 11);
  if (size > packed || !InBand(size, low, high) || file[25] != 0x30) return 0;
  return NameAllowed(fd, fileAt + 32, ReadLe16(file + 26)) ? 1 : 0;
}

}  // namespace

int MatchArchive1(int fd) { return MatchZip(fd, {ZipRule::StoredPlus12, 0x4C00, 0x6400, 0, 0, false}); }
int MatchArchive2(int fd) { return MatchZip(fd, {ZipRule::StoredPlus12, 0x2C00, 0x3C00, 0, 0, false}); }
int MatchArchive3(int fd) { return MatchZip(fd, {ZipRule::StoredPlus12, 0x4400, 0x4C00, 0, 0, false}); }
int MatchArchive4(int fd) { return MatchZip(fd, {ZipRule::MethodBits, 0x4C00, 0x6000, 0, 0, false}); }
int MatchArchive5(int fd) { return MatchZip(fd, {ZipRule::MethodBits, 0xA800, 0xBC00, 0, 0, false}); }
int MatchArchive6(int fd) { return MatchRar(fd, 0x4C00, 0x6400); }
int MatchArchive7(int fd) { return MatchRar(fd, 0xA800, 0xBC00); }
int MatchArchive8(int fd) {
  return MatchZip(fd, {ZipRule::MethodBits, 0x4400, 0x7800, 0x10400, 0x12400, true});
}
