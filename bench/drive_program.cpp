// Drives the real sorvane.exe (next to this exe) for the benchmark, with
// the UI tests' helpers: starts it, presses SCAN, waits until the scan has
// finished, prints the results list, then presses OK. On stderr: the
// seconds from SCAN to the finished dialog and the program's peak working
// set. Exit code 0 when the list ends with the statistics block.
#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <string>
#include <vector>

#include "support/driver.h"
#include "support/program.h"

using namespace ui_test;

namespace {

constexpr int kOk = 1070, kCancel = 2, kScan = 1052, kUpperGroup = 1064, kList = 1055;
constexpr int kScanTimeoutMs = 30 * 60 * 1000;

bool Finished(HWND dialog) {
  return !Visible(dialog, kCancel) && Visible(dialog, kOk) && ControlText(dialog, kUpperGroup).empty();
}

unsigned long PeakKib(DWORD processId) {
  HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, processId);
  if (!process) return 0;
  PROCESS_MEMORY_COUNTERS counters = {};
  counters.cb = sizeof counters;
  BOOL ok = GetProcessMemoryInfo(process, &counters, sizeof counters);
  CloseHandle(process);
  return ok ? static_cast<unsigned long>(counters.PeakWorkingSetSize / 1024) : 0;
}

}  // namespace

int main() {
  // As in the UI tests: without a window manager on the display, managed
  // windows wait for answers that never come.
  HKEY key;
  if (RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Wine\\X11 Driver", 0, nullptr, 0, KEY_SET_VALUE,
                      nullptr, &key, nullptr) == ERROR_SUCCESS) {
    RegSetValueExA(key, "Managed", 0, REG_SZ, reinterpret_cast<const BYTE*>("N"), 2);
    RegCloseKey(key);
  }
  Program program;
  if (!program.Start()) {
    std::fprintf(stderr, "bench_driver: sorvane.exe did not show its dialog\n");
    return 2;
  }
  HWND dialog = program.Dialog();
  LARGE_INTEGER frequency, start, end;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&start);
  Click(dialog, kScan);
  // OK shows only once the scan has finished (a short scan may pass
  // through its scanning layout between two looks).
  bool done = WaitUntil([&] { return Finished(dialog); }, kScanTimeoutMs);
  QueryPerformanceCounter(&end);
  if (!done) {
    std::fprintf(stderr, "bench_driver: the scan did not finish\n");
    return 2;
  }
  Sync(dialog);
  unsigned long peak = PeakKib(program.Id());
  std::vector<std::string> lines = ListLines(GetDlgItem(dialog, kList));
  for (const std::string& line : lines) std::printf("%s\n", line.c_str());
  std::printf("%s\n", ControlText(dialog, 1065).c_str());
  std::fflush(stdout);
  std::fprintf(stderr, "seconds %.3f peak_kib %lu\n",
               static_cast<double>(end.QuadPart - start.QuadPart) / frequency.QuadPart, peak);
  Click(dialog, kOk);
  if (!program.Ended(10000)) {
    std::fprintf(stderr, "bench_driver: sorvane.exe did not end after OK\n");
    return 2;
  }
  bool statistics = lines.size() >= 5 && lines[lines.size() - 5] == "Scanning statistics";
  return statistics ? 0 : 1;
}
