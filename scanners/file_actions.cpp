// Removal and rename of a detected file, shared by the scanners.
#include "scanners/file_actions.h"

#include "cleanup/deferred_removal.h"
#include "cleanup/process_termination.h"
#include "engine/scan_result.h"
#include "engine/shared_state.h"
#include "engine/text.h"
#include "scanners/rename_target.h"

void RemoveDetectedFile(const char* path, const char* name, const char* attributeName,
                        DWORD oldAttributes) {
  if (oldAttributes == 0) oldAttributes = GetFileAttributesA(path);
  if (!SetFileAttributesA(path, FILE_ATTRIBUTE_ARCHIVE)) {
    EmitFileResult(path, attributeName, "Unable to remove");
    return;
  }
  if (DeleteFileA(path) || (TerminateProcessByPath(path) && DeleteFileA(path))) {
    ++FilesRemoved;
    EmitFileResult(path, name, "removed");
    return;
  }
  EmitFileResult(path, name, "Unable to remove");
  // Once one removal is pending the run must ask for the restart: a later
  // scheduling that fails does not take that back.
  const bool scheduled = ScheduleDeleteAtRestart(path) != 0;
  if (scheduled) RestartNeeded = 1;
  // The file stays, with the attributes it had; but the removal at the
  // next start refuses a read-only file, so one waiting for it is left
  // without that attribute.
  if (oldAttributes == INVALID_FILE_ATTRIBUTES) return;
  DWORD attributes = oldAttributes;
  if (scheduled) attributes &= ~DWORD(FILE_ATTRIBUTE_READONLY);
  if (attributes == 0) attributes = FILE_ATTRIBUTE_NORMAL;
  if (attributes != FILE_ATTRIBUTE_ARCHIVE) SetFileAttributesA(path, attributes);
}

bool RenameDetectedFile(const char* path, const char* name, char* renamedTo) {
  char target[ScanFileBufferSize];
  if (BuildRenameTarget(path, target, sizeof target) && MoveFileA(path, target)) {
    EmitFileResult(path, name, "renamed");
    if (renamedTo) CopyText(renamedTo, ScanFileBufferSize, target);
    return true;
  }
  EmitFileResult(path, name, "Rename failed");
  return false;
}
