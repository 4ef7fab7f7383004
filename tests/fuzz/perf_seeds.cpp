// Writes the seeds of the performance-data target: the emulated machine's
// Process object for a few running processes (one name longer than 16
// characters, one twice), and its perflib counter names.
// Usage: perf_seeds DIR
#include <cstdio>
#include <string>
#include <vector>

#include "platform/emu/machine.h"

namespace {

bool Write(const std::string& path, const std::string& bytes) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return std::fclose(f) == 0 && ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  const std::string dir = argv[1];
  emu::ResetMachine();
  emu::AddProcessWithId(8, "C:\\WINDOWS\\system32\\winlogon.exe");
  emu::AddProcessWithId(412, "C:\\WINDOWS\\system32\\svchost.exe");
  emu::AddProcessWithId(413, "C:\\WINDOWS\\system32\\svchost.exe");
  emu::AddProcessWithId(900, "C:\\Program Files\\a name longer than sixteen.exe");
  std::vector<BYTE> block(1 << 16);
  DWORD size = DWORD(block.size());
  if (RegQueryValueExA(HKEY_PERFORMANCE_DATA, "230", nullptr, nullptr, block.data(), &size) !=
      ERROR_SUCCESS) {
    return 1;
  }
  std::string counters;
  if (!emu::GetRegistryValue("HKLM\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Perflib\\009",
                             "Counters", nullptr, &counters)) {
    return 1;
  }
  return Write(dir + "/process-object", std::string(block.begin(), block.begin() + size)) &&
                 Write(dir + "/counters", counters)
             ? 0
             : 1;
}
