// Removal at the next start of the system for files that cannot be deleted
// now, and the restart that carries it out.
#include "cleanup/deferred_removal.h"

#include "cleanup/platform_kind.h"
#include "cleanup/wininit_rename.h"
#include "platform/system.h"

int ScheduleDeleteAtRestart(const char* path) {
  switch (GetPlatformKind()) {
    case PlatformWin9x: {
      // The 9x start-up reads short names only.
      char shortPath[260];
      DWORD n = GetShortPathNameA(path, shortPath, sizeof shortPath);
      if (n == 0 || n >= sizeof shortPath) return 0;
      return AddWininitRename("NUL", shortPath) ? 1 : 0;
    }
    case PlatformNT:
      return MoveFileExA(path, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT) ? 1 : 0;
    default:
      return 0;
  }
}

void RestartComputer() {
  if (GetPlatformKind() == PlatformWin9x) {
    ExitWindowsEx(EWX_REBOOT | EWX_FORCE, 0);
    return;
  }
  HANDLE token;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) return;
  TOKEN_PRIVILEGES privileges;
  memset(&privileges, 0, sizeof privileges);
  LookupPrivilegeValueA(nullptr, "SeShutdownPrivilege", &privileges.Privileges[0].Luid);
  privileges.PrivilegeCount = 1;
  privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
  BOOL adjusted = AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr);
  DWORD error = GetLastError();
  CloseHandle(token);
  // ERROR_NOT_ALL_ASSIGNED: the privilege is not ours to enable.
  if (!adjusted || error != ERROR_SUCCESS) return;
  ExitWindowsEx(EWX_REBOOT | EWX_FORCE, 0);
}
