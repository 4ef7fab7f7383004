// The scan lock: the existence of one named mutex says that a scan runs.
// Every scan opens it and keeps its handle; the object lives as long as one
// handle does, so a scan that finds it already there knows it is not alone.
#include "ui/scan_lock.h"

namespace {

// Since Windows 2000 the name lives in the global namespace, so that a scan
// in another session (a service, a remote desktop) is seen too. Windows 9x
// and NT 4 know no namespaces and refuse a backslash in the name.
const char* LockName() {
  OSVERSIONINFOA version = {};
  version.dwOSVersionInfoSize = sizeof version;
  bool namespaces = GetVersionExA(&version) && version.dwPlatformId == VER_PLATFORM_WIN32_NT &&
                    version.dwMajorVersion >= 5;
  return namespaces ? "Global\\Sorvane.Scan" : "Sorvane.Scan";
}

}  // namespace

HANDLE TakeScanLock(bool* alone) {
  HANDLE lock = CreateMutexA(nullptr, FALSE, LockName());
  // Access denied: a scan of another user holds it.
  *alone = lock && GetLastError() != ERROR_ALREADY_EXISTS;
  return lock;
}

void ReleaseScanLock(HANDLE lock) {
  if (lock) CloseHandle(lock);
}
