// The sample forge: writes inert synthetic files that the scanners must
// recognise (or, for the near misses, must not). Plain standard C++ on
// byte vectors; nothing here touches the platform seam.
//
// Forged backdoor executables start without the "MZ" signature and with
// machine type 0, so no loader runs them; their first two bytes are the
// DOS "int 20h" (end program) for the one loader that would run them as a
// flat image. Archive worms carry random bytes where the packed program
// would be. Every sample is deterministic.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace forge {

using Bytes = std::vector<uint8_t>;

// ---- Backdoor executables ---------------------------------------------------

// The sample of BackdoorSignatures[index] (0-based): a PE of the record's
// exact size with both fragments where entry point + offset maps.
Bytes BackdoorSample(int index);

enum class BackdoorMiss {
  FirstFragmentByte,   // one byte of fragment 1 changed
  SecondFragmentByte,  // one byte of fragment 2 changed
  OneByteLonger,       // the sample plus one byte
  OneByteShorter,      // the sample less its last byte
  FirstFragmentOnly,   // fragment 2 left out
  SecondFragmentOnly,  // fragment 1 left out
};
Bytes BackdoorNearMiss(int index, BackdoorMiss kind);

// A copy of a working executable, made detectable as record `index`
// without changing what it does: the copy is padded to the record's size
// with an overlay that holds both fragments where the probes look. False
// (with a reason) when the record's size or offsets do not allow it.
bool MakeDetectableCopy(const Bytes& exe, int index, Bytes* out, std::string* why);

// The first record MakeDetectableCopy can use for `exe`, or -1.
int FindRecordForExe(const Bytes& exe);

// Index of the first backdoor record that matches `file` by the scanner's
// rules (size, headers, both fragments), or -1. A second implementation of
// the scanner's search, used to check samples.
int FirstMatchingBackdoorRecord(const Bytes& file);

// ---- Archives -------------------------------------------------------------------

// A ZIP matching ArchiveSignatures[index]: one plain stored entry, each
// fragment at its window position (0 to 1003) past the record's offset.
// size 0 gives the record's own size (NearSize rows) or a fitting length.
Bytes ArchiveRecordSample(int index, uint32_t window1 = 0x155, uint32_t window2 = 0x2A9,
                          uint32_t size = 0);

// Options of the archive worms; zero or empty fields take the variant's
// defaults. `cut` >= 0 keeps only the first `cut` bytes.
struct ArchiveOptions {
  uint32_t entrySize = 0;
  std::string name;
  int method = -1;          // ZIP method, or RAR method byte
  int64_t packedSize = -1;  // compressed / packed size stored in the header
  bool encrypted = true;
  bool secondEntry = false; // ZIP: a second entry after the first
  uint32_t secondSize = 60000;  // ZIP: its length
  bool secondEncrypted = false; // ZIP: stored behind a 12-byte encryption header
  int endRecordBytes = 22;  // ZIP: bytes of the end record kept (< 22: short)
  uint16_t extraLength = 0; // ZIP: extra field bytes after the name
  int64_t cut = -1;
};

// ZIP worm copies: variant H, K, J, N, O or Aa. False for another variant.
bool ZipWorm(const std::string& variant, const ArchiveOptions& options, Bytes* out);

// RAR worm copies: variant N or O.
bool RarWorm(const std::string& variant, const ArchiveOptions& options, Bytes* out);

// ---- Sets of samples ------------------------------------------------------------

struct CorpusEntry {
  std::string path;      // relative to the corpus directory, '/' separated
  std::string expected;  // detection name, empty for a near miss
};

// Writes every sample (one per backdoor record, the archive records, the
// archive worms) under detect/ and every near miss under clean/, plus
// manifest.txt ("path<TAB>name", "-" for clean). Files above maxSize are
// left out (0: no limit). False with a reason on a write error.
bool WriteCorpus(const std::string& dir, uint32_t maxSize, std::vector<CorpusEntry>* written,
                 std::string* why);

// ---- Files --------------------------------------------------------------------------

bool WriteBytes(const std::string& path, const Bytes& bytes);
bool ReadBytes(const std::string& path, Bytes* bytes);

// ---- Registry hives ----------------------------------------------------------

// An empty hive (regf) whose root key is named `rootName`.
Bytes EmptyHive(const std::string& rootName);

// A profile hive left dirty with its transaction logs: the primary file
// holds an older state (Run: keep.exe, stale.exe; Software\Old with a
// value and a subkey), the logs take it to `expected` (stale.exe and
// Software\Old gone, Software\New with "added" and a 20,000-byte
// "large", Run: d3dupdate.exe naming bbeagle.exe). `corrupt` damages the
// last entry (new format) or a dirty bin (old format).
enum class HiveLogFormat { New, Old };
struct HiveLog {
  std::string suffix;  // ".LOG1", ".LOG2" or ".LOG"
  Bytes bytes;
};
struct DirtyHive {
  Bytes primary;
  std::vector<HiveLog> logs;
  Bytes expected;  // the hive as Windows would have it after replay (sealed clean)
};
DirtyHive MakeDirtyHive(HiveLogFormat format, bool corrupt);

}  // namespace forge
