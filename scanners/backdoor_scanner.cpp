// Backdoor scanner: the memory action, the archive matchers, the archive
// and backdoor record searches, and the action step.
#include "scanners/backdoor_scanner.h"

#include <cstring>

#include "cleanup/registry_cleanup.h"
#include "engine/scan_result.h"
#include "engine/shared_state.h"
#include "engine/text.h"
#include "platform/system.h"
#include "scanners/archive_match.h"
#include "scanners/pe_probe.h"
#include "scanners/file_actions.h"
#include "scanners/signature_match.h"

namespace {

// Length of the file under examination, taken once after opening, and the
// entry point every backdoor offset is relative to.
int32_t FileLength;
uint32_t EntryPointRva;

struct ArchiveMatcher {
  int (*match)(int fd);
  const char* name;
};

const ArchiveMatcher ArchiveMatchers[] = {
    {MatchArchive1, "W32/Bagle.H.Worm"}, {MatchArchive2, "W32/Bagle.K.Worm"},
    {MatchArchive3, "W32/Bagle.J.Worm"}, {MatchArchive4, "W32/Bagle.N.Worm"},
    {MatchArchive5, "W32/Bagle.O.Worm"}, {MatchArchive6, "W32/Bagle.N.Worm"},
    {MatchArchive7, "W32/Bagle.O.Worm"}, {MatchArchive8, "W32/Bagle.Aa.Worm"},
};

// Records a detection for the registry cleanup and the path display.
void NoteDetection(const char* path, const char* name) {
  CopyText(CurrentDetection, name);
  CopyText(StatusText, path);
}

int Finish(int fd, int result) {
  if (fd >= 0) _close(fd);
  CurrentScanFile[0] = 0;
  return result;
}

}  // namespace

void ActOnDetectedFile(const char* path, const char* name) {
  switch (ActionMode) {
    case ActionClean:
    case ActionDelete:
      RemoveDetectedFile(path, name, name);
      break;
    case ActionRename:
      RenameDetectedFile(path, name);
      break;
    case ActionReport:
      EmitFileResult(path, name, "not disinfected as per user's selection");
      break;
    default:
      break;
  }
}

int ScreenedBackdoorFile(const char*, const char* path) {
  if (InfectedInMemory == 1) InfectedInMemory = 0;
  if (std::strlen(path) < sizeof CurrentScanFile) CurrentScanFile[0] = 0;
  return 0;
}

int ScanBackdoorFile(const char* name, const char* path) {
  // Second call of the memory pass: the process is gone, act on its image.
  if (MemoryAction && (MainWindow || WindowlessScan)) {
    ActionMode = MemoryAction;
    EmitMemoryResult("W32/Murkel.Backdoor", "removed");
    Sleep(1000);
    ActOnDetectedFile(path, name);
    return 0;
  }
  if (InfectedInMemory == 1) InfectedInMemory = 0;

  // A path that does not fit CurrentScanFile is skipped, never truncated.
  if (std::strlen(path) >= sizeof CurrentScanFile) return 0;
  int fd = _open(path, _O_RDONLY | _O_BINARY);
  if (fd < 0) return 0;
  CopyText(CurrentScanFile, path);
  const long length = _filelength(fd);
  if (length < 0 || length > 0x7FFFFFFFL) return Finish(fd, 0);
  FileLength = int32_t(length);

  if (!ReadPeHeader(fd)) {
    for (const ArchiveMatcher& m : ArchiveMatchers) {
      if (!m.match(fd)) continue;
      ++FilesInfected;
      _close(fd);
      ActOnDetectedFile(path, m.name);
      return Finish(-1, 0);
    }
    const int found = FindArchiveRecord(fd, FileLength);
    if (found < 0) return Finish(fd, 0);
    const char* record = ArchiveSignatures[found].Name;
    ++FilesInfected;
    _close(fd);
    CleanWormRegistry();
    NoteDetection(path, record);
    ActOnDetectedFile(path, record);
    return Finish(-1, 1);
  }

  if (!ReadPeSections(fd)) return Finish(fd, 0);
  EntryPointRva = PeEntryPoint();
  const int found = FindBackdoorRecord(fd, FileLength, EntryPointRva);
  if (found < 0) return Finish(fd, 0);
  const char* record = BackdoorSignatures[found].Name;
  ++FilesInfected;
  _close(fd);
  CleanWormRegistry();
  NoteDetection(path, record);
  if (SingleFileMode) {
    // The memory scan ends the process and calls back with MemoryAction.
    FileDetected = 1;
    return Finish(-1, 1);
  }
  ActOnDetectedFile(path, record);
  return Finish(-1, 1);
}
