// ScanWormFile: the worm disinfector's row of the scanner table. Detects
// with the three variant probes, sweeps the registry, then repairs,
// renames, deletes or reports the file.
#include <cstring>

#include "cleanup/registry_cleanup.h"
#include "engine/scan_result.h"
#include "engine/shared_state.h"
#include "engine/text.h"
#include "platform/system.h"
#include "scanners/pe_probe.h"
#include "scanners/file_actions.h"
#include "scanners/worm_disinfector.h"

namespace {

constexpr int ReadOnlyBinary = 0x8000;   // _O_RDONLY | _O_BINARY
constexpr int ReadWriteBinary = 0x8002;  // _O_RDWR | _O_BINARY
constexpr int ReadWritePermission = 0x180;

const WormVariant* DetectVariant(int fd) {
  for (const WormVariant& v : WormVariants) {
    if (ProbeWormVariant(fd, v, 0)) return &v;
  }
  return nullptr;
}

void RepairFile(const char* path) {
  const int fd = _open(path, ReadWriteBinary, ReadWritePermission);
  if (fd < 0) {
    // The file stays infected: say so rather than leave it unreported.
    EmitFileResult(path, CurrentDetection, "Unable to remove");
    return;
  }
  // The headers again, from this descriptor: the repair writes back what
  // it read here.
  bool repaired = false;
  if (ReadPeHeader(fd)) {
    for (const WormVariant& v : WormVariants) {
      if (ProbeWormVariant(fd, v, 1)) {
        repaired = true;
        break;
      }
    }
  }
  _close(fd);
  if (repaired) {
    ++FilesDisinfected;
    EmitFileResult(path, CurrentDetection, "Virus removed");
  } else {
    EmitFileResult(path, CurrentDetection, "Unable to remove");
  }
}

// The row's first step, before it reads the file: the path becomes
// CurrentScanFile and the file's attributes the archive attribute alone
// (*reset: they were something else, to be set back). False when the row
// stops here.
bool OpenAttributes(const char* path, DWORD* attributes, bool* reset) {
  // A path that does not fit CurrentScanFile is skipped, never truncated.
  if (!CopyText(CurrentScanFile, path)) return false;
  *attributes = GetFileAttributesA(path);
  if (*attributes == 0 || *attributes == INVALID_FILE_ATTRIBUTES) return false;
  // Most files carry the archive attribute alone. Setting and restoring the
  // value a file already has changes nothing but costs two system calls per
  // file (and moves the change time on some file systems): skip both then.
  *reset = *attributes != FILE_ATTRIBUTE_ARCHIVE;
  return !*reset || SetFileAttributesA(path, FILE_ATTRIBUTE_ARCHIVE);
}

}  // namespace

int ScreenedWormFile(const char*, const char* path) {
  DWORD attributes;
  bool reset;
  if (OpenAttributes(path, &attributes, &reset) && reset) SetFileAttributesA(path, attributes);
  return 0;
}

int ScanWormFile(const char* name, const char* path) {
  DWORD attributes;
  bool reset;
  if (!OpenAttributes(path, &attributes, &reset)) return 0;

  const int fd = _open(path, ReadOnlyBinary, ReadWritePermission);
  if (fd < 0) {
    if (reset) SetFileAttributesA(path, attributes);
    return 0;
  }
  const WormVariant* found = ReadPeHeader(fd) ? DetectVariant(fd) : nullptr;
  _close(fd);
  if (!found) {
    if (reset) SetFileAttributesA(path, attributes);
    return 0;
  }
  CopyText(CurrentDetection, found->Name);
  // The memory scan's second walk acts on an image the first walk already
  // counted and swept the registry for; it then acts as a drive walk does.
  if (!MemoryAction) {
    ++FilesInfected;
    CleanWormRegistry();
  }
  if (SingleFileMode && !MemoryAction) {
    if (reset) SetFileAttributesA(path, attributes);
    FileDetected = 1;
    return 1;
  }
  CopyText(StatusText, path);
  // Whatever the action, a file still there gets its attributes back,
  // under its new name after a rename.
  char renamed[ScanFileBufferSize];
  const char* endsAt = path;
  switch (ActionMode) {
    case ActionClean: RepairFile(path); break;
    case ActionRename:
      if (RenameDetectedFile(path, name, renamed)) endsAt = renamed;
      break;
    case ActionDelete:
      RemoveDetectedFile(path, name, CurrentDetection, attributes);
      return 0;
    case ActionReport: EmitFileResult(path, CurrentDetection, "found"); break;
    default: break;
  }
  if (reset) SetFileAttributesA(endsAt, attributes);
  return 0;
}
