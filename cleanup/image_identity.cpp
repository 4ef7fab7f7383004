// Confirms that a process runs the very file being removed before it is
// ended: two processes of one name may run different files, and the other
// one may be a part of the system.
#include "cleanup/image_identity.h"

#include "cleanup/entry_point.h"
#include "cleanup/system_library.h"

namespace {

typedef DWORD(WINAPI* ModuleFileNameCall)(HANDLE, HMODULE, LPSTR, DWORD);

const DWORD QueryAccess = PROCESS_QUERY_INFORMATION | PROCESS_VM_READ;

// The path without the native prefixes that image paths may carry.
const char* WithoutPrefix(const char* path) {
  if (_strnicmp(path, "\\??\\", 4) == 0 || _strnicmp(path, "\\\\?\\", 4) == 0) return path + 4;
  return path;
}

// The short form of an existing path; false when there is none.
bool ShortForm(const char* path, char* out) {
  DWORD n = GetShortPathNameA(path, out, MAX_PATH);
  return n > 0 && n < MAX_PATH;
}

}  // namespace

bool SameImageFile(const char* a, const char* b) {
  a = WithoutPrefix(a);
  b = WithoutPrefix(b);
  if (!*a || !*b) return false;
  if (_stricmp(a, b) == 0) return true;
  char shortA[MAX_PATH], shortB[MAX_PATH];
  bool hasA = ShortForm(a, shortA);
  bool hasB = ShortForm(b, shortB);
  return (hasA && _stricmp(shortA, b) == 0) || (hasB && _stricmp(a, shortB) == 0) ||
         (hasA && hasB && _stricmp(shortA, shortB) == 0);
}

HANDLE OpenProcessRunningImage(DWORD id, const char* path) {
  HMODULE psapi = LoadSystemLibrary("psapi.dll");
  if (!psapi) return nullptr;
  ModuleFileNameCall moduleFileName = EntryPoint<ModuleFileNameCall>(psapi, "GetModuleFileNameExA");
  if (!moduleFileName) return nullptr;
  HANDLE process = OpenProcess(QueryAccess, FALSE, id);
  if (!process) return nullptr;
  // Wider than MAX_PATH: a path that fills a 260-byte buffer may be cut.
  char image[MAX_PATH + 80];
  DWORD length = moduleFileName(process, nullptr, image, sizeof image);
  if (length > 0 && length < MAX_PATH) {
    image[length] = 0;
    if (SameImageFile(image, path)) return process;
  }
  CloseHandle(process);
  return nullptr;
}
