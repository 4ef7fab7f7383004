// Fuzz target: the worm disinfector's decryptor emulation on raw blocks,
// and the variant probes with and without repair, and the scanner, on
// arbitrary files.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "engine/shared_state.h"
#include "platform/system.h"
#include "scanners/pe_probe.h"
#include "scanners/worm_decryptor.h"
#include "scanners/worm_disinfector.h"
#include "tests/fuzz/fuzz_file.h"

namespace {

// The first 1000 input bytes as an entry block and a body block.
void EmulateBlocks(const uint8_t* data, size_t size) {
  uint8_t entry[WormBlockSize] = {}, body[WormBlockSize] = {};
  std::memcpy(entry, data, size < WormBlockSize ? size : WormBlockSize);
  if (size > WormBlockSize) {
    const size_t rest = size - WormBlockSize;
    std::memcpy(body, data + WormBlockSize, rest < WormBlockSize ? rest : WormBlockSize);
  }
  for (const WormVariant& v : WormVariants) {
    uint8_t counter = 0;
    const int anchor = FindWormAnchor(entry, v, &counter);
    if (anchor < 0) continue;
    FindWormLoopEnd(entry, anchor);
    EmulateWormDecryptor(entry, anchor + 6, counter, body);
  }
  // Any start, also outside the block.
  const int start = size ? int(int8_t(data[0])) * 5 + 250 : 0;
  EmulateWormDecryptor(entry, start, size > 1 ? data[1] : 0, body);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  EmulateBlocks(data, size);
  if (!WriteFuzzFile("input.exe", data, size)) return 0;

  int fd = _open("C:\\input.exe", _O_RDWR | _O_BINARY);
  if (fd < 0) return 0;
  if (ReadPeHeader(fd)) {
    for (const WormVariant& v : WormVariants) ProbeWormVariant(fd, v, 0);
    for (const WormVariant& v : WormVariants)
      if (ProbeWormVariant(fd, v, 1)) break;
  }
  _close(fd);

  // The whole scanner on what is left: report only, or repair.
  if (!WriteFuzzFile("input.exe", data, size)) return 0;
  MainWindow = nullptr;
  SingleFileMode = 0;
  ActionMode = size & 1 ? ActionReport : ActionClean;
  ScanWormFile("W32/Joleee.Worm", "C:\\input.exe");
  return 0;
}
