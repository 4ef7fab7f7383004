// Fuzz target: the eight archive matchers and the archive record search
// on arbitrary files.
#include <cstddef>
#include <cstdint>

#include "platform/system.h"
#include "scanners/archive_match.h"
#include "scanners/signature_match.h"
#include "tests/fuzz/fuzz_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (!WriteFuzzFile("input.zip", data, size)) return 0;
  int fd = _open("C:\\input.zip", _O_RDONLY | _O_BINARY);
  if (fd < 0) return 0;
  int (*const matchers[])(int) = {MatchArchive1, MatchArchive2, MatchArchive3, MatchArchive4,
                                  MatchArchive5, MatchArchive6, MatchArchive7, MatchArchive8};
  for (auto match : matchers) match(fd);
  FindArchiveRecord(fd, int32_t(size));
  _close(fd);
  return 0;
}
