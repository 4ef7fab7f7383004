// Removal and rename of a detected file, shared by the scanners.
#include "scanners/file_actions.h"

#include "cleanup/deferred_removal.h"
#include "cleanup/process_termination.h"
#include "engine/report.h"
#include "engine/shared_state.h"
#include "engine/text.h"
#include "scanners/rename_target.h"

void RemoveDetectedFile(const char* path, const char* name, const char* attributeName,
                        DWORD oldAttributes) {
  if (oldAttributes == 0) oldAttributes = GetFileAttributesA(path);
  if (!SetFileAttributesA(path, FILE_ATTRIBUTE_ARCHIVE)) {
    EmitResultLine("%s     %s Unable to remove", path, attributeName);
    return;
  }
  if (DeleteFileA(path) || (TerminateProcessByPath(path) && DeleteFileA(path))) {
    ++FilesRemoved;
    EmitResultLine("%s     %s removed", path, name);
    return;
  }
  // The file stays: with the attributes it had.
  if (oldAttributes != INVALID_FILE_ATTRIBUTES && oldAttributes != FILE_ATTRIBUTE_ARCHIVE)
    SetFileAttributesA(path, oldAttributes);
  EmitResultLine("%s     %s Unable to remove", path, name);
  // Once one removal is pending the run must ask for the restart: a later
  // scheduling that fails does not take that back.
  if (ScheduleDeleteAtRestart(path)) RestartNeeded = 1;
}

bool RenameDetectedFile(const char* path, const char* name, char* renamedTo) {
  char target[ScanFileBufferSize];
  if (BuildRenameTarget(path, target, sizeof target) && MoveFileA(path, target)) {
    EmitResultLine("%s     %s renamed", path, name);
    if (renamedTo) CopyText(renamedTo, ScanFileBufferSize, target);
    return true;
  }
  EmitResultLine("%s     %s Rename failed", path, name);
  return false;
}
