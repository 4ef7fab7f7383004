// The scan engine without the window: a Win32 console exe that runs
// ScanRun over the real drives (C: under Wine), prints every results line
// and the final status, and on stderr the scan's seconds and the process's
// peak working set. ExMessageBox answers from a script: No to a Yes/No
// question, OK to anything else (or the answers given as arguments).
//   bench_engine [yes|no|ok|cancel]...
#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "platform/message_box.h"
#include "engine/scan_run.h"
#include "engine/shared_state.h"

namespace {

std::vector<int> answers;
size_t nextAnswer = 0;

LRESULT CALLBACK ResultsProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == AddLineMessage) {
    std::printf("%s\n", LogLine);
    return 0;
  }
  if (message == RefreshStatusMessage) return 0;
  return DefWindowProcA(window, message, wParam, lParam);
}

int ParseAnswer(const char* text) {
  static const struct {
    const char* name;
    int code;
  } names[] = {{"yes", IDYES}, {"no", IDNO}, {"ok", IDOK}, {"cancel", IDCANCEL}};
  for (const auto& n : names) {
    if (std::strcmp(text, n.name) == 0) return n.code;
  }
  return 0;
}

}  // namespace

int ExMessageBox(const char* text, const char* title, unsigned style) {
  int answer = (style & 0xF) == MB_YESNO ? IDNO : IDOK;
  if (nextAnswer < answers.size()) answer = answers[nextAnswer++];
  std::fprintf(stderr, "prompt: \"%s\" [%s] -> %d\n", text, title, answer);
  return answer;
}

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    int answer = ParseAnswer(argv[i]);
    if (!answer) {
      std::fprintf(stderr, "usage: bench_engine [yes|no|ok|cancel]...\n");
      return 2;
    }
    answers.push_back(answer);
  }
  WNDCLASSA windowClass = {};
  windowClass.lpfnWndProc = ResultsProcedure;
  windowClass.hInstance = GetModuleHandleA(nullptr);
  windowClass.lpszClassName = "SorvaneBenchResults";
  RegisterClassA(&windowClass);
  MainWindow = CreateWindowA(windowClass.lpszClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                             windowClass.hInstance, nullptr);
  if (!MainWindow) {
    std::fprintf(stderr, "bench_engine: no window\n");
    return 2;
  }
  ActionMode = 100;
  ScanInProgress = 1;
  CancelRequested = 0;
  LARGE_INTEGER frequency, start, end;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&start);
  ScanRun();
  QueryPerformanceCounter(&end);
  ScanInProgress = 0;
  std::printf("%s\n", StatusText);
  PROCESS_MEMORY_COUNTERS counters = {};
  counters.cb = sizeof counters;
  GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
  std::fflush(stdout);
  std::fprintf(stderr, "seconds %.3f peak_kib %lu\n",
               static_cast<double>(end.QuadPart - start.QuadPart) / frequency.QuadPart,
               static_cast<unsigned long>(counters.PeakWorkingSetSize / 1024));
  return FilesInfected > 0 ? 1 : 0;
}
