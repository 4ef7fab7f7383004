// Definitions of the shared state declared in shared_state.h.
#include "engine/shared_state.h"

#include <cstring>

#include "engine/scan_result.h"

int ScanInProgress;
int CancelRequested;
int SummaryStarted;
int32_t FilesScanned;
int32_t FilesInfected;
int32_t FilesRemoved;
int32_t FilesDisinfected;
int ActionMode;
int SingleFileMode;
int FileDetected;
int MemoryAction;
const ScannerEntry* DetectingRow;
int InfectedInMemory;
int ServiceStopFailed;
int RestartNeeded;
char CurrentScanFile[ScanFileBufferSize];
char CurrentDetection[DetectionNameSize];
int ProgramFilesPending;
int ProgramFilesVisited;
char ProgramFilesPattern[PathBufferSize];
char LogLine[LogLineSize];
char StatusText[StatusTextSize];
HWND MainWindow;
int WindowlessScan;
bool (*EntryScreenedOut)(const char* path);

void ResetSharedState() {
  ScanInProgress = CancelRequested = SummaryStarted = 0;
  FilesScanned = FilesInfected = FilesRemoved = FilesDisinfected = 0;
  ActionMode = 0;
  SingleFileMode = FileDetected = MemoryAction = 0;
  DetectingRow = nullptr;
  InfectedInMemory = ServiceStopFailed = 0;
  RestartNeeded = 0;
  std::memset(CurrentScanFile, 0, sizeof CurrentScanFile);
  std::memset(CurrentDetection, 0, sizeof CurrentDetection);
  ProgramFilesPending = ProgramFilesVisited = 0;
  std::memset(ProgramFilesPattern, 0, sizeof ProgramFilesPattern);
  std::memset(LogLine, 0, sizeof LogLine);
  std::memset(StatusText, 0, sizeof StatusText);
  MainWindow = nullptr;
  WindowlessScan = 0;
  EntryScreenedOut = nullptr;
  ClearResultSinks();
}
