// Ends the processes that run an image file, before the file is deleted:
// a Toolhelp snapshot on the 9x family, the performance data on the NT
// family, where every process found by name is confirmed by its image
// path. The pauses give the system time to release the image.
#include "cleanup/process_termination.h"

#include <cstdlib>

#include "cleanup/entry_point.h"
#include "cleanup/image_identity.h"
#include "cleanup/perf_task_table.h"
#include "cleanup/platform_kind.h"
#include "cleanup/termination_routes.h"
#include "platform/system.h"

namespace {

typedef HANDLE(WINAPI* SnapshotCall)(DWORD, DWORD);
typedef BOOL(WINAPI* EntryCall)(HANDLE, LPPROCESSENTRY32);

const int NameBufferSize = 264;

const char* BaseName(const char* path) {
  const char* slash = strrchr(path, '\\');
  return slash ? slash + 1 : path;
}

// Copies the base name of an entry's image (terminated within its field).
void EntryBaseName(PROCESSENTRY32* entry, char* name) {
  entry->szExeFile[MAX_PATH - 1] = 0;
  snprintf(name, NameBufferSize, "%s", BaseName(entry->szExeFile));
}

bool EndProcess(DWORD id, DWORD access) {
  HANDLE process = OpenProcess(access, FALSE, id);
  if (!process) return false;
  bool ended = TerminateProcess(process, 0) != 0;
  CloseHandle(process);
  return ended;
}

// NT family: a process matched by name is ended only when its image is the
// file itself; the confirming handle stays open meanwhile, so the id
// cannot pass to another process in between. True when termination was
// tried (*result becomes 1 when it succeeded); false when the process was
// left running as another program's, or one whose path cannot be read.
bool EndProcessRunning(DWORD id, const char* path, int* result) {
  HANDLE confirmed = OpenProcessRunningImage(id, path);
  if (!confirmed) return false;
  if (EndProcess(id, PROCESS_TERMINATE)) *result = 1;
  CloseHandle(confirmed);
  return true;
}

}  // namespace

int TerminateProcessByPath(const char* path) {
  switch (GetPlatformKind()) {
    case PlatformWin9x:
      return TerminateByToolhelp(path) ? 1 : 0;
    case PlatformNT:
      return TerminateByPerfData(path) ? 1 : 0;
    default:
      return 1;
  }
}

int TerminateByToolhelp(const char* path) {
  char target[NameBufferSize];
  char candidate[NameBufferSize];
  if (strlen(path) >= sizeof target) return 0;
  HMODULE kernel = LoadLibraryA("Kernel32.dll");
  Sleep(100);
  if (!kernel) return 0;
  PROCESSENTRY32* entry = static_cast<PROCESSENTRY32*>(calloc(1, sizeof(PROCESSENTRY32)));
  if (!entry) return 0;
  SnapshotCall snapshot = EntryPoint<SnapshotCall>(kernel, "CreateToolhelp32Snapshot");
  if (!snapshot) {
    free(entry);
    return 0;
  }
  HANDLE list = snapshot(TH32CS_SNAPPROCESS, 0);
  Sleep(100);
  if (list == INVALID_HANDLE_VALUE) {
    free(entry);
    return 0;
  }
  EntryCall first = EntryPoint<EntryCall>(kernel, "Process32First");
  entry->dwSize = sizeof(PROCESSENTRY32);
  bool more = first && first(list, entry);
  snprintf(target, sizeof target, "%s", BaseName(path));
  _strupr(target);

  // The first entry is compared too; then one entry per pass.
  bool match = false;
  if (more) {
    EntryBaseName(entry, candidate);
    match = _stricmp(candidate, target) == 0;
  }
  while (more && !match) {
    EntryCall next = EntryPoint<EntryCall>(kernel, "Process32Next");
    if (!next) break;
    Sleep(100);
    if (!next(list, entry)) break;
    Sleep(100);
    EntryBaseName(entry, candidate);
    match = _stricmp(candidate, target) == 0;
  }
  int result = 0;
  if (match) {
    Sleep(50);
    HANDLE process =
        OpenProcess(PROCESS_TERMINATE | PROCESS_QUERY_INFORMATION, FALSE, entry->th32ProcessID);
    if (process && TerminateProcess(process, 0)) result = 1;
    Sleep(500);
    if (process) CloseHandle(process);
  }
  free(entry);
  CloseHandle(list);
  return result;
}

bool InstanceNameMatches(const char* instance, const char* target) {
  size_t n = strlen(target);
  if (n == 0 || _strnicmp(instance, target, n) != 0) return false;
  const char* rest = instance + n;
  if (*rest == 0) return true;
  if (*rest != '#' || !rest[1]) return false;
  for (++rest; *rest; ++rest) {
    if (*rest < '0' || *rest > '9') return false;
  }
  return true;
}

int TerminateByPerfData(const char* path) {
  char target[NameBufferSize];
  size_t length = strlen(path);
  if (length >= sizeof target || length <= 4) return 0;
  memcpy(target, path, length + 1);
  _strupr(target);
  char* name = strrchr(target, '\\');
  name = name ? name + 1 : target;
  if (char* dot = strrchr(name, '.')) *dot = 0;
  if (!*name) return 0;  // an empty name would stand for every process

  int rows = ReadPerfTaskTable();
  if (rows == 0) return TerminateByImageName(path);
  int result = 0;
  for (int i = 0; i < rows; ++i) {
    if (!InstanceNameMatches(PerfTaskTable[i].Name, name)) continue;
    if (EndProcessRunning(PerfTaskTable[i].ProcessId, path, &result)) Sleep(500);
  }
  return result;
}

int TerminateByImageName(const char* path) {
  char candidate[NameBufferSize];
  const char* target = BaseName(path);
  if (!*target) return 0;
  HMODULE kernel = LoadLibraryA("Kernel32.dll");
  if (!kernel) return 0;
  SnapshotCall snapshot = EntryPoint<SnapshotCall>(kernel, "CreateToolhelp32Snapshot");
  EntryCall first = EntryPoint<EntryCall>(kernel, "Process32First");
  EntryCall next = EntryPoint<EntryCall>(kernel, "Process32Next");
  if (!snapshot || !first || !next) return 0;  // NT 4 has no Toolhelp
  HANDLE list = snapshot(TH32CS_SNAPPROCESS, 0);
  if (list == INVALID_HANDLE_VALUE) return 0;
  PROCESSENTRY32 entry;
  memset(&entry, 0, sizeof entry);
  entry.dwSize = sizeof entry;
  int result = 0;
  for (BOOL more = first(list, &entry); more; more = next(list, &entry)) {
    EntryBaseName(&entry, candidate);
    if (entry.th32ProcessID == 0 || _stricmp(candidate, target) != 0) continue;
    if (EndProcessRunning(entry.th32ProcessID, path, &result)) Sleep(500);
  }
  CloseHandle(list);
  return result;
}
