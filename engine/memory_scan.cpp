// The memory scan. Each listed image is walked once in SingleFileMode,
// where a scanner that recognises it only sets FileDetected; the process is
// then ended (on NT 4 and 5 also stopped as a service) and the image walked
// a second time with MemoryAction set, so the backdoor scanner removes it.
#include "engine/memory_scan.h"

#include "cleanup/deferred_removal.h"
#include "cleanup/nt_version.h"
#include "cleanup/platform_kind.h"
#include "cleanup/running_images.h"
#include "cleanup/service_stop.h"
#include "platform/message_box.h"
#include "engine/shared_state.h"
#include "engine/walk.h"
#include "platform/system.h"

namespace {

const DWORD TerminateAccess = PROCESS_TERMINATE | PROCESS_QUERY_INFORMATION;

bool EndProcess(DWORD id) {
  HANDLE process = OpenProcess(TerminateAccess, FALSE, id);
  if (!process) return false;
  bool ended = TerminateProcess(process, 0) != 0;
  CloseHandle(process);
  return ended;
}

// First walk of an image: its value, or 0 when the image is not readable.
int ExamineImage(const char* path, bool* readable) {
  *readable = _access(path, 4) == 0;
  return *readable ? WalkDirectory(path) : 0;
}

// Second walk: the scanners act on the image as ActionMode says.
int ActOnImage(const char* path) {
  MemoryAction = ActionMode;
  int result = WalkDirectory(path);
  MemoryAction = 0;
  return result;
}

}  // namespace

int MemoryScan9x() {
  RunningImage* list = ListToolhelpImages();
  int detected = 0;
  for (RunningImage* node = list; node; node = node->Next) {
    bool readable;
    ExamineImage(node->ImagePath, &readable);
    if (!readable || !FileDetected) continue;
    detected = 1;
    char path[512];
    snprintf(path, sizeof path, "%s", node->ImagePath);
    if (ActionMode == ActionReport) continue;
    // Removal is tried even when the process could not be ended: the
    // scanner then defers it to the next start.
    EndProcess(node->ProcessId);
    ActOnImage(path);
  }
  FreeRunningImages(list);
  return detected;
}

int MemoryScanNT() {
  RunningImage* list = ListPsapiImages();
  int detected = 0;
  for (RunningImage* node = list; node; node = node->Next) {
    bool readable;
    int result = ExamineImage(node->ImagePath, &readable);
    if (!readable || !FileDetected) continue;
    detected = 1;
    if (ActionMode != ActionClean && ActionMode != ActionRename && ActionMode != ActionDelete) continue;
    bool ended = EndProcess(node->ProcessId);
    if (ended) result = 1;
    if (!EndProcess(node->ProcessId)) {
      NtVersionKind version = GetNtVersionKind();
      char service[MAX_PATH];
      if ((version == NtVersion4 || version == NtVersion5) &&
          ServiceNameForImage(node->ImagePath, service, sizeof service)) {
        // Only a service that runs this very image is stopped: another
        // program's service may merely share its file name.
        if (ServiceRunsImage(service, node->ImagePath) && StopService(service)) {
          ServiceRegistryKeys(service, node->ImagePath);
          ActOnImage(node->ImagePath);
          continue;
        }
        ServiceRegistryKeys(service, node->ImagePath);
        // A process the first attempt ended is gone, whatever the service
        // manager says about a service of that name.
        if (!ended) ServiceStopFailed = 1;
      }
      if (result == 0) continue;
    }
    ActOnImage(node->ImagePath);
  }
  FreeRunningImages(list);
  return detected;
}

void MemoryScan() {
  PlatformKind platform = GetPlatformKind();
  SingleFileMode = 1;
  if (platform == PlatformWin9x && MemoryScan9x()) InfectedInMemory = 1;
  if (platform == PlatformNT && MemoryScanNT()) {
    InfectedInMemory = 1;
    // Ending the program here when every infected process was dealt with
    // would throw away the results just shown; the drives are scanned.
    if (ServiceStopFailed == 1) {
      int answer = ExMessageBox(
          "W32/Murkel.Backdoor found in memory! registry entries created by the worm are "
          "removed. You must restart the computer and run this program to continue "
          "scanning.\n\nRestart the computer now?",
          "Sorvane Ver 1.0", MB_OKCANCEL | MB_ICONINFORMATION);
      if (answer == IDOK) RestartComputer();
      ExitProgram(0);
    }
  }
  SingleFileMode = 0;
}
