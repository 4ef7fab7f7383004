// Removal and rename of a detected file, shared by the scanners.
#include "scanners/file_actions.h"

#include "cleanup/deferred_removal.h"
#include "cleanup/process_termination.h"
#include "engine/report.h"
#include "engine/shared_state.h"
#include "scanners/rename_target.h"

void RemoveDetectedFile(const char* path, const char* name, const char* attributeName) {
  if (!SetFileAttributesA(path, FILE_ATTRIBUTE_ARCHIVE)) {
    EmitResultLine("%s     %s Unable to remove", path, attributeName);
    return;
  }
  if (DeleteFileA(path) || (TerminateProcessByPath(path) && DeleteFileA(path))) {
    ++FilesRemoved;
    EmitResultLine("%s     %s removed", path, name);
    return;
  }
  EmitResultLine("%s     %s Unable to remove", path, name);
  // Once one removal is pending the run must ask for the restart: a later
  // scheduling that fails does not take that back.
  if (ScheduleDeleteAtRestart(path)) RestartNeeded = 1;
}

void RenameDetectedFile(const char* path, const char* name) {
  char target[ScanFileBufferSize];
  if (BuildRenameTarget(path, target, sizeof target) && MoveFileA(path, target))
    EmitResultLine("%s     %s renamed", path, name);
  else
    EmitResultLine("%s     %s Rename failed", path, name);
}
