// The recursive directory walk. In one directory every entry first passes
// through the display and (files only) the scanner table, in listing order;
// then its subdirectories are walked one after another. Paths that would
// not fit their 260-byte buffers are skipped, never truncated.
#include "engine/walk.h"

#include <cstring>

#include "platform/message_box.h"
#include "engine/results_line.h"
#include "engine/scanner_table.h"
#include "engine/shared_state.h"
#include "engine/text.h"

namespace {

constexpr int DisplayLimit = 60;
constexpr int DisplaySize = 512;
constexpr int EscapeKey = 27;

// Ends `path` just before the character that precedes its last "." (for a
// pattern ending in "\*.*" this leaves the directory with its backslash).
// False when the path has no ".".
bool CutBeforeLastDot(char* path) {
  char* dot = std::strrchr(path, '.');
  if (!dot) return false;
  path[dot == path ? 0 : dot - path - 1] = 0;
  return true;
}

// The drive root probe: remembers the drive's "\Program Files" directory
// for the run's second pass when it exists.
void ProbeProgramFiles(const char* pattern) {
  CopyText(ProgramFilesPattern, pattern);
  char* colon = std::strchr(ProgramFilesPattern, ':');
  if (!colon) return;
  colon[1] = 0;
  AppendText(ProgramFilesPattern, "\\Program Files");
  if (_access(ProgramFilesPattern, 0) == 0) {
    ProgramFilesPending = 1;
    AppendText(ProgramFilesPattern, "\\*.*");
  }
}

// Shows one entry's path and, for a file, hands it to the scanner rows.
// The memory scan's second walk goes to the row that recognised the image
// in the first: each row acts on its own detections (a worm-infected
// program is repaired, not deleted as a backdoor).
void HandleEntry(const char* entryPath, const WIN32_FIND_DATAA& data) {
  char display[DisplaySize];
  if (ShortenForDisplay(entryPath, display, DisplayLimit, sizeof display)) ShowStatus(display);
  if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return;
  if (!SingleFileMode) ++FilesScanned;
  if (MemoryAction && DetectingRow) {
    DetectingRow->routine(DetectingRow->name, entryPath);
    return;
  }
  // A file the host's readers ruled out: each row leaves what it would
  // have left, without reading the file. Only drive walks with the real
  // table ask; a single file and the memory scan's walks always scan.
  if (EntryScreenedOut && !SingleFileMode && !MemoryAction && ActiveScannerTable == ScannerTable &&
      EntryScreenedOut(entryPath)) {
    for (const ScannerEntry* row = ActiveScannerTable; row->name; ++row) row->screened(row->name, entryPath);
    return;
  }
  for (const ScannerEntry* row = ActiveScannerTable; row->name; ++row) {
    if (row->routine(row->name, entryPath) != 0) {
      if (SingleFileMode && FileDetected) DetectingRow = row;
      break;
    }
  }
}

// The file pass over `pattern`: 0 when cancelled, -1 for a pattern without
// ".", 1 otherwise.
int FilePass(const char* pattern) {
  WIN32_FIND_DATAA data;
  HANDLE search = FindFirstFileA(pattern, &data);
  if (search == INVALID_HANDLE_VALUE) return 1;
  do {
    PumpOneMessage();
    if (CancelRequested) {
      FindClose(search);
      return 0;
    }
    char entryPath[PathBufferSize];
    bool fits;
    if (SingleFileMode) {
      fits = CopyText(entryPath, pattern);
    } else {
      CopyText(entryPath, pattern);
      if (!CutBeforeLastDot(entryPath)) {
        FindClose(search);
        return -1;
      }
      fits = AppendText(entryPath, data.cFileName);
    }
    if (fits) HandleEntry(entryPath, data);
    PumpOneMessage();
    if (CancelRequested) {
      FindClose(search);
      return 0;
    }
  } while (FindNextFileA(search, &data));
  FindClose(search);
  return 1;
}

bool IsDotEntry(const char* name) { return std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0; }

}  // namespace

int WalkDirectory(const char* pattern) {
  FileDetected = 0;
  if (!MemoryAction) DetectingRow = nullptr;
  char walkPattern[PathBufferSize];
  if (!CopyText(walkPattern, pattern)) return FilesScanned;
  // One file, and only that file: a directory pass would walk a folder
  // whose name shares the file's stem (clearing FileDetected on the way),
  // and a wildcard would reach the scanners as a path.
  if (SingleFileMode) {
    if (std::strpbrk(walkPattern, "*?")) return FilesScanned;
    int pass = FilePass(walkPattern);
    return pass <= 0 ? pass : FilesScanned;
  }
  if (std::strlen(walkPattern) <= 6) ProbeProgramFiles(walkPattern);

  int pass = FilePass(walkPattern);
  if (pass <= 0) return pass;

  // Directory pass: everything after the last "." becomes "*".
  char directoryPattern[PathBufferSize];
  CopyText(directoryPattern, walkPattern);
  if (char* dot = std::strrchr(directoryPattern, '.')) {
    dot[1] = 0;
    AppendText(directoryPattern, "*");
  } else if (!AppendText(directoryPattern, "*")) {
    return FilesScanned;
  }
  WIN32_FIND_DATAA data;
  HANDLE search = FindFirstFileA(directoryPattern, &data);
  if (search == INVALID_HANDLE_VALUE) return FilesScanned;
  do {
    PumpOneMessage();
    if (CancelRequested) {
      FindClose(search);
      return 0;
    }
    if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || IsDotEntry(data.cFileName)) continue;
    // Junctions and symbolic links can form cycles or show a tree twice.
    if (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) continue;
    char subPattern[PathBufferSize];
    CopyText(subPattern, walkPattern);
    if (!CutBeforeLastDot(subPattern)) {
      FindClose(search);
      return -1;
    }
    if (!AppendText(subPattern, data.cFileName) || !AppendText(subPattern, "\\*.*")) continue;
    if (std::strstr(subPattern, "\\Program Files\\")) ProgramFilesVisited = 1;
    if (WalkDirectory(subPattern) == -1) {
      FindClose(search);
      return -1;
    }
  } while (FindNextFileA(search, &data));
  FindClose(search);
  return FilesScanned;
}

void PumpOneMessage() {
  MSG msg;
  if (!PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) return;
  if (LOWORD(msg.wParam) == EscapeKey) {
    if (ExMessageBox("Terminate the Scan now?", "Sorvane Ver 1.0", 0x24) == IDNO) return;
    CancelRequested = 1;
    return;
  }
  if (msg.message == WM_QUIT || msg.message == WM_DESTROY) {
    CancelRequested = 1;
    return;
  }
  TranslateMessage(&msg);
  DispatchMessageA(&msg);
}

bool ShortenForDisplay(const char* source, char* destination, int limit, size_t destinationSize) {
  size_t n = std::strlen(source);
  int half = limit / 2 - 1;
  if (n <= static_cast<size_t>(limit < 0 ? 0 : limit) || half <= 0) {
    return CopyText(destination, destinationSize, source);
  }
  if (static_cast<size_t>(limit) >= destinationSize) return false;
  std::memcpy(destination, source, half);
  std::memset(destination + half, '.', limit - 2 * half);
  std::memcpy(destination + limit - half, source + n - half, half);
  destination[limit] = 0;
  return true;
}
