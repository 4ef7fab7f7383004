// ScanScriptFile: match the file, close it, then act on it under the
// matching record's name. In the memory scan a match is only recorded, and
// the second walk acts once the process has ended.
#include "scanners/script_scanner.h"

#include "engine/scan_result.h"
#include "engine/shared_state.h"
#include "engine/text.h"
#include "platform/system.h"
#include "scanners/rename_target.h"
#include "scanners/script_match.h"

namespace {

constexpr int ReadOnlyBinary = 0x8000;  // _O_RDONLY | _O_BINARY
constexpr int ReadWritePermission = 0x180;

void Act(const char* path, const char* name) {
  switch (ActionMode) {
    case ActionClean:
    case ActionDelete:
      if (DeleteFileA(path)) {
        ++FilesRemoved;
        EmitFileResult(path, name, "Virus removed");
      } else {
        EmitFileResult(path, name, "Unable to remove");
      }
      break;
    case ActionRename: {
      char target[ScanFileBufferSize];
      if (BuildRenameTarget(path, target, sizeof target) && MoveFileA(path, target))
        EmitFileResult(path, name, "Virus renamed");
      else
        EmitFileResult(path, name, "Rename failed");
      break;
    }
    case ActionReport:
      EmitFileResult(path, name, "Not Disinfected As Per User's Selection");
      break;
    default:
      break;
  }
}

void PreparePatterns() {
  if (PatternsPrepared) return;
  PatternsPrepared = true;
  PrepareScriptSignatures();
}

}  // namespace

int ScreenedScriptFile(const char*, const char*) {
  PreparePatterns();
  return 0;
}

int ScanScriptFile(const char*, const char* path) {
  // The memory scan's second walk of an image this row recognised: the
  // process has ended; act on it under the name the first walk found,
  // without examining it again.
  if (MemoryAction && DetectingRow && DetectingRow->routine == ScanScriptFile) {
    Act(path, CurrentDetection);
    return 1;
  }
  PreparePatterns();
  const int fd = _open(path, ReadOnlyBinary, ReadWritePermission);
  if (fd < 0) return 0;
  const ScriptSignature* match = nullptr;
  const int found = MatchScriptSignature(fd, &match);
  if (found) {
    CopyText(CurrentDetection, match->Name);
    CopyText(StatusText, path);
  }
  _close(fd);
  if (!found) return 0;
  // A running image: the memory scan ends its process first.
  if (SingleFileMode) {
    FileDetected = 1;
    return 1;
  }
  Act(path, match->Name);
  return 1;
}
