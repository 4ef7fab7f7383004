// Building the memory scan's process lists. Libraries other than
// Kernel32.dll are loaded by their full path in the system directory: the
// tool is often started from a downloads folder, where a planted DLL of the
// same name would otherwise be loaded first and run with the tool's rights.
#include "cleanup/running_images.h"

#include <cstdlib>

#include "cleanup/entry_point.h"
#include "cleanup/system_library.h"

namespace {

typedef HANDLE(WINAPI* SnapshotCall)(DWORD, DWORD);
typedef BOOL(WINAPI* EntryCall)(HANDLE, LPPROCESSENTRY32);
typedef BOOL(WINAPI* EnumProcessesCall)(DWORD*, DWORD, DWORD*);
typedef DWORD(WINAPI* ModuleFileNameCall)(HANDLE, HMODULE, LPSTR, DWORD);

const int MaxProcessIds = 1024;
const DWORD ListingAccess = PROCESS_QUERY_INFORMATION | PROCESS_VM_READ;

// A zeroed node for the entry, or null when out of memory.
RunningImage* NodeFor(DWORD id, const char* path) {
  RunningImage* node = static_cast<RunningImage*>(calloc(1, sizeof(RunningImage)));
  if (!node) return nullptr;
  node->ProcessId = id;
  snprintf(node->ImagePath, sizeof node->ImagePath, "%s", path);
  return node;
}

RunningImage* EntryNode(PROCESSENTRY32* entry) {
  entry->szExeFile[MAX_PATH - 1] = 0;
  return NodeFor(entry->th32ProcessID, entry->szExeFile);
}

// Enables "SeDebugPrivilege" in the own token so that processes of other
// users can be opened.
void EnableDebugPrivilege() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) {
    MessageBoxA(nullptr, "false", "TEMP", MB_OK);
    return;
  }
  TOKEN_PRIVILEGES privileges;
  memset(&privileges, 0, sizeof privileges);
  privileges.PrivilegeCount = 1;
  privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
  if (LookupPrivilegeValueA(nullptr, SE_DEBUG_NAME, &privileges.Privileges[0].Luid)) {
    AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr);
  }
  CloseHandle(token);
}

}  // namespace

void FreeRunningImages(RunningImage* list) {
  while (list) {
    RunningImage* next = list->Next;
    free(list);
    list = next;
  }
}

RunningImage* ListToolhelpImages() {
  HMODULE kernel = LoadLibraryA("Kernel32.dll");
  if (!kernel) return nullptr;
  PROCESSENTRY32* entry = static_cast<PROCESSENTRY32*>(calloc(1, sizeof(PROCESSENTRY32)));
  if (!entry) return nullptr;
  SnapshotCall snapshot = EntryPoint<SnapshotCall>(kernel, "CreateToolhelp32Snapshot");
  HANDLE list = snapshot ? snapshot(TH32CS_SNAPPROCESS, 0) : INVALID_HANDLE_VALUE;
  if (list == INVALID_HANDLE_VALUE) {
    free(entry);
    return nullptr;
  }
  EntryCall first = EntryPoint<EntryCall>(kernel, "Process32First");
  entry->dwSize = sizeof(PROCESSENTRY32);
  RunningImage* head = nullptr;
  if (first && first(list, entry)) head = EntryNode(entry);
  RunningImage* tail = head;
  bool complete = head != nullptr;
  while (complete) {
    EntryCall next = EntryPoint<EntryCall>(kernel, "Process32Next");
    if (!next) {
      complete = false;
      break;
    }
    if (!next(list, entry)) break;
    RunningImage* node = EntryNode(entry);
    if (!node) {
      complete = false;
      break;
    }
    tail->Next = node;
    tail = node;
  }
  free(entry);
  CloseHandle(list);
  if (!complete) {
    FreeRunningImages(head);
    return nullptr;
  }
  return head;
}

RunningImage* ListPsapiImages() {
  HMODULE psapi = LoadSystemLibrary("psapi.dll");
  if (!psapi) return nullptr;
  EnumProcessesCall enumProcesses = EntryPoint<EnumProcessesCall>(psapi, "EnumProcesses");
  if (!enumProcesses) return nullptr;
  DWORD ids[MaxProcessIds];
  memset(ids, 0, sizeof ids);
  DWORD bytes = 0;
  enumProcesses(ids, sizeof ids, &bytes);
  DWORD count = bytes / sizeof(DWORD);
  if (count > MaxProcessIds) count = MaxProcessIds;
  if (count == 0) return nullptr;
  ModuleFileNameCall moduleFileName = EntryPoint<ModuleFileNameCall>(psapi, "GetModuleFileNameExA");
  if (!moduleFileName) return nullptr;

  RunningImage* head = nullptr;
  RunningImage* tail = nullptr;
  for (DWORD i = 0; i < count; ++i) {
    HANDLE process = OpenProcess(ListingAccess, FALSE, ids[i]);
    if (!process && GetLastError() == ERROR_ACCESS_DENIED) {
      EnableDebugPrivilege();
      process = OpenProcess(ListingAccess, FALSE, ids[i]);
    }
    if (!process) continue;
    // A buffer as wide as the node's field: a path that fills a 260-byte
    // buffer may have been cut, and a cut path names another file.
    char path[ImagePathFieldSize];
    DWORD length = moduleFileName(process, nullptr, path, sizeof path);
    CloseHandle(process);
    if (length == 0 || length >= MAX_PATH) continue;
    path[length] = 0;
    RunningImage* node = NodeFor(ids[i], path);
    if (!node) {
      FreeRunningImages(head);
      return nullptr;
    }
    if (tail) {
      tail->Next = node;
    } else {
      head = node;
    }
    tail = node;
  }
  return head;
}
