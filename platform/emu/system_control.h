// Control API of the emulated system information: the platform and version,
// the Windows, system and temporary directories, environment variables,
// token privileges, the pending renames of the next start and the requests
// to end the session. Faults on GetVersionExA, OpenProcessToken,
// AdjustTokenPrivileges and ExitWindowsEx are keyed by ""; on
// GetShortPathNameA and MoveFileExA by the path; on ExpandEnvironmentStringsA
// by the source text.
#pragma once

#include <string>
#include <vector>

#include "platform/system.h"

namespace emu {

enum class Platform {
  Win98,   // platform id 1, 4.10.2222
  NT4,     // platform id 2, 4.0.1381
  Win2000, // 5.0.2195
  WinXP,   // 5.1.2600 (the fresh machine)
  Win7,    // 6.1.7601
  Other,   // platform id 0 (Win32s)
};
// Sets the version GetVersionExA reports and the system directory that goes
// with the family (WINDIR\SYSTEM or WINDIR\system32).
void SetPlatform(Platform platform);
void SetVersion(DWORD platformId, DWORD major, DWORD minor, DWORD build,
                const std::string& servicePack = "");
// Parses "9x", "nt4", "nt5", "nt6", "other" (the sorvane-offline names).
bool ParsePlatform(const std::string& name, Platform* platform);

// Windows directory as a Windows path ("C:\\WINDOWS" on a fresh machine);
// also sets %SystemRoot% and %windir% and the system directory below it.
void SetWindowsDirectory(const std::string& windowsPath);
std::string WindowsDirectory();
std::string SystemDirectory();

// Environment variables (names ignoring case); GetTempPathA follows TMP and
// TEMP as on Windows ("C:\\WINDOWS\\TEMP" on a fresh machine).
void SetEnvironmentVariable(const std::string& name, const std::string& value);
void UnsetEnvironmentVariable(const std::string& name);

// Privileges of the own token: "SeShutdownPrivilege" and "SeDebugPrivilege"
// are held (not enabled) on a fresh machine.
void SetPrivilegeHeld(const std::string& name, bool held);
bool PrivilegeEnabled(const std::string& name);

// The system's pending-rename list (NT family), as MoveFileExA with
// MOVEFILE_DELAY_UNTIL_REBOOT records it in the registry; `to` empty means
// the file is deleted.
struct PendingRename {
  std::string from;
  std::string to;
};
std::vector<PendingRename> PendingRenames();

struct ExitRequest {
  UINT flags;
  DWORD reason;
  bool accepted;  // false when the platform refused it (privilege not held)
};
const std::vector<ExitRequest>& ExitRequests();
// True when an accepted request asked for a reboot.
bool RestartRequested();

}  // namespace emu
