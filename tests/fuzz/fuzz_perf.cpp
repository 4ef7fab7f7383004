// Fuzz target: the performance-data parser over arbitrary blocks, with the
// standard title indexes and with indexes taken from the input, and the
// walk of the perflib counter names over an arbitrary "Counters" value.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "cleanup/perf_task_table.h"
#include "platform/emu/machine.h"

namespace {

void CheckRows(int rows) {
  if (rows < 0 || rows > PerfTaskRowLimit) std::abort();
  for (int i = 0; i < rows; ++i) {
    if (strnlen(PerfTaskTable[i].Name, sizeof PerfTaskTable[i].Name) > 16) std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool ready = false;
  if (!ready) {
    emu::ResetMachine();
    ready = true;
  }
  std::memset(PerfTaskTable, 0, sizeof PerfTaskTable);
  CheckRows(ParsePerfTaskTable(data, DWORD(size), StandardProcessIndex, StandardIdProcessIndex));
  if (size >= 8) {
    DWORD indexes[2];
    std::memcpy(indexes, data, sizeof indexes);
    std::memset(PerfTaskTable, 0, sizeof PerfTaskTable);
    CheckRows(ParsePerfTaskTable(data + 8, DWORD(size - 8), indexes[0], indexes[1]));
  }
  emu::SetRegistryValue("HKLM\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Perflib\\009",
                        "Counters", REG_MULTI_SZ,
                        std::string(reinterpret_cast<const char*>(data), size));
  DWORD process, idProcess;
  FindPerfIndexes(&process, &idProcess);
  return 0;
}
