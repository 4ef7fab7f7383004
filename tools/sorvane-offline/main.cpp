// sorvane-offline: the scan run on the emulated machine, over directories
// that stand for drives (a mounted Windows volume, or any tree). Prints every
// results line as the results list shows it, then the final status.
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <ctime>

#include "engine/scan_run.h"
#include "engine/shared_state.h"
#include "platform/emu/machine.h"
#include "tools/sorvane-offline/options.h"
#include "tools/sorvane-offline/system_setup.h"

namespace {

bool showProgress;
int32_t detections;
time_t lastProgress;

// Stands for the main dialog: request 11 prints LogLine, request 10 shows
// progress on a terminal.
LRESULT MainWindowProcedure(HWND, UINT message, WPARAM, LPARAM) {
  if (message == AddLineMessage) {
    std::printf("%s\n", LogLine);
  } else if (message == RefreshStatusMessage && showProgress) {
    time_t now = time(nullptr);
    if (now != lastProgress) {
      lastProgress = now;
      std::fprintf(stderr, "\r\033[K%d files  %s", FilesScanned, StatusText);
    }
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  OfflineOptions options;
  std::string error;
  if (argc > 1 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
    std::fputs(OfflineUsage, stdout);
    return 0;
  }
  if (!ParseOptions(argc, argv, &options, &error)) {
    std::fprintf(stderr, "sorvane-offline: %s\n%s", error.c_str(), OfflineUsage);
    return 2;
  }
  emu::ResetMachine();
  for (const auto& d : options.drives) emu::MapDrive(d.letter, d.dir, d.type);
  if (!SetUpSystem(options, &error)) {
    std::fprintf(stderr, "sorvane-offline: %s\n", error.c_str());
    return 2;
  }
  AddEmulatedProcesses(options.processes);
  emu::ScriptAnswers(options.answers);
  showProgress = isatty(STDERR_FILENO);

  MainWindow = emu::CreateWindow(MainWindowProcedure);
  ActionMode = ActionClean;
  ScanInProgress = 1;
  CancelRequested = 0;
  int code = 0;
  try {
    ScanRun();
  } catch (const emu::ProgramEnded& end) {
    code = end.code;
  }
  ScanInProgress = 0;
  if (showProgress) std::fprintf(stderr, "\r\033[K");
  std::printf("%s\n", StatusText);
  for (const auto& p : emu::Prompts()) {
    std::fprintf(stderr, "prompt: \"%s\" [%s] -> %d\n", p.text.c_str(), p.title.c_str(), p.answer);
  }
  detections = FilesInfected;
  std::fflush(stdout);
  if (!FinishSystem(options, &error)) {
    std::fprintf(stderr, "sorvane-offline: %s\n", error.c_str());
    return 2;
  }
  if (code != 0) return code;
  return detections > 0 ? 1 : 0;
}
