// Fuzz target: the script and page cleaner's gates, whitespace stripping,
// pattern search and record loop on arbitrary files.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "engine/shared_state.h"
#include "platform/system.h"
#include "scanners/script_match.h"
#include "scanners/script_scanner.h"
#include "tests/fuzz/fuzz_file.h"

namespace {

// The input's first bytes as a pattern searched in a working buffer made
// of the rest, at a limit taken from the input.
void SearchBlock(const uint8_t* data, size_t size) {
  if (size < 3) return;
  const int length = 1 + data[0] % 100;
  const int limit = int(data[1]) * 17;
  if (size_t(length) + 2 > size) return;
  uint8_t block[ScriptWorkSize] = {};
  const size_t rest = size - 2 - size_t(length);
  const int kept = StripWhitespace(data + 2 + length, block,
                                   int(rest < ScriptRegionSize ? rest : ScriptRegionSize));
  (void)kept;
  FindPattern(block, limit, data + 2, length);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (!PatternsPrepared) {
    PatternsPrepared = true;
    PrepareScriptSignatures();
  }
  SearchBlock(data, size);
  if (!WriteFuzzFile("input.htm", data, size)) return 0;
  const int fd = _open("C:\\input.htm", _O_RDONLY | _O_BINARY);
  if (fd < 0) return 0;
  HasLineFeed(fd);
  EndsWithClosingTag(fd);
  _close(fd);

  // The scanner, reporting only: the file stays for the next input.
  MainWindow = nullptr;
  ActionMode = ActionReport;
  ScanScriptFile("W32/Joleee.Worm", "C:\\input.htm");
  return 0;
}
