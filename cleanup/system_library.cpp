// Loads system libraries by their full path in the system directory.
#include "cleanup/system_library.h"

HMODULE LoadSystemLibrary(const char* fileName) {
  char path[MAX_PATH];
  UINT n = GetSystemDirectoryA(path, sizeof path);
  if (n == 0 || n >= sizeof path) return nullptr;
  size_t room = sizeof path - n;
  int written = snprintf(path + n, room, "\\%s", fileName);
  if (written <= 0 || static_cast<size_t>(written) >= room) return nullptr;
  return LoadLibraryA(path);
}
