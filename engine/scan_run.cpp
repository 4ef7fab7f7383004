// The scan run: memory scan, drive walk C to Z with the "\Program Files"
// second pass, statistics, final status and the restart question.
#include "engine/scan_run.h"

#include <cstdio>

#include "cleanup/deferred_removal.h"
#include "engine/memory_scan.h"
#include "platform/message_box.h"
#include "engine/results_line.h"
#include "engine/shared_state.h"
#include "engine/walk.h"

namespace {

constexpr int FirstDrive = 2;  // C
constexpr int LastDrive = 25;  // Z

void WalkDrives() {
  for (int index = FirstDrive; index <= LastDrive; ++index) {
    char root[4] = "C:\\";
    root[0] = static_cast<char>('A' + index);
    if (GetDriveTypeA(root) != DRIVE_FIXED) continue;
    char pattern[8];
    snprintf(pattern, sizeof pattern, "%s*.*", root);
    WalkDirectory(pattern);
    // A drive whose walk never entered "\Program Files\" in exactly that
    // letter case gets a second pass through the directory found by the probe.
    if (ProgramFilesPending == 1 && ProgramFilesVisited == 0) {
      WalkDirectory(ProgramFilesPattern);
      ProgramFilesPending = 0;
    }
  }
}

void WriteStatistics() {
  if (FilesInfected > 0) EmitResultLine(" ");
  EmitResultLine("Scanning statistics");
  EmitResultLine("------------------------------");
  EmitResultLine("Total files scanned\t\t:  %d", FilesScanned);
  EmitResultLine("Total files infected\t\t:  %d", FilesInfected);
  // Counters are not guarded against overflow; the sum wraps like the counters.
  int32_t removed = static_cast<int32_t>(static_cast<uint32_t>(FilesRemoved) +
                                         static_cast<uint32_t>(FilesDisinfected));
  EmitResultLine("Total files removed\t\t:  %d", removed);
}

}  // namespace

int ScanRun() {
  MemoryScan();
  WalkDrives();
  SummaryStarted = 1;
  WriteStatistics();
  ShowStatus(CancelRequested ? "Scanning terminated" : "Scanning completed");
  if (RestartNeeded) {
    int answer = ExMessageBox(
        "The system has to be restarted to remove the virus completely from your system. "
        "\n\n Restart now?",
        "Sorvane Ver 1.0", 0x24);
    if (answer == IDYES) RestartComputer();
  }
  return 1;
}
