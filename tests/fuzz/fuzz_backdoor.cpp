// Fuzz target: the PE probes and the backdoor scanner's whole search
// (archive matchers and records for non-PE input) on arbitrary files.
#include <cstddef>
#include <cstdint>

#include "engine/shared_state.h"
#include "platform/system.h"
#include "scanners/backdoor_scanner.h"
#include "scanners/pe_probe.h"
#include "tests/fuzz/fuzz_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (!WriteFuzzFile("input.exe", data, size)) return 0;

  // The probes and the address mapping on their own, at addresses taken
  // from the input's end.
  int fd = _open("C:\\input.exe", _O_RDONLY | _O_BINARY);
  if (fd < 0) return 0;
  if (ReadPeHeader(fd) && ReadPeSections(fd)) {
    uint32_t address = PeEntryPoint();
    if (size >= 4) address += data[size - 4] | data[size - 3] << 8 | data[size - 2] << 16;
    RvaToFileOffset(address, fd);
    RvaToFileOffset(0xFFFFFFFFu - address, fd);
  }
  _close(fd);

  // The scanner, reporting only: the file stays for the next input.
  ActionMode = ActionReport;
  MainWindow = nullptr;
  SingleFileMode = size & 1;
  ScanBackdoorFile("W32/Murkel.Trojan", "C:\\input.exe");
  return 0;
}
