// System information of the emulated machine: the version GetVersionExA
// reports, the Windows, system and temporary directories, and the
// environment with ExpandEnvironmentStringsA.
#include <strings.h>

#include <cstring>
#include <map>

#include "platform/emu/fs.h"
#include "platform/emu/machine.h"
#include "platform/emu/system_state.h"

namespace emu {
namespace {

struct Version {
  DWORD platformId, major, minor, build;
  std::string servicePack;
};

struct NoCase {
  bool operator()(const std::string& a, const std::string& b) const {
    return strcasecmp(a.c_str(), b.c_str()) < 0;
  }
};

Version version;
std::string windowsDir;
std::map<std::string, std::string, NoCase> environment;

void ResetSystem() {
  version = Version{VER_PLATFORM_WIN32_NT, 5, 1, 2600, "Service Pack 3"};
  environment.clear();
  SetWindowsDirectory("C:\\WINDOWS");
  environment["SystemDrive"] = "C:";
  environment["TEMP"] = "C:\\WINDOWS\\TEMP";
  environment["TMP"] = "C:\\WINDOWS\\TEMP";
  environment["ProgramFiles"] = "C:\\Program Files";
  environment["ComSpec"] = "C:\\WINDOWS\\system32\\cmd.exe";
}
ResetHook systemHook(ResetSystem);

// Copies text the way the directory calls do: the length without the
// terminator when it fits, else the size needed with it (nothing written).
UINT CopyOut(const std::string& text, LPSTR buffer, UINT size) {
  if (!buffer || size <= text.size()) return static_cast<UINT>(text.size() + 1);
  std::memcpy(buffer, text.c_str(), text.size() + 1);
  return static_cast<UINT>(text.size());
}

const std::string* Variable(const std::string& name) {
  auto it = environment.find(name);
  return it == environment.end() ? nullptr : &it->second;
}

}  // namespace

DWORD PlatformId() { return version.platformId; }
DWORD MajorVersion() { return version.major; }
bool IsWin9xFamily() { return version.platformId == VER_PLATFORM_WIN32_WINDOWS; }
bool DeletesKeyTrees() { return IsWin9xFamily(); }

void SetVersion(DWORD platformId, DWORD major, DWORD minor, DWORD build,
                const std::string& servicePack) {
  version = Version{platformId, major, minor, build, servicePack};
}

void SetPlatform(Platform platform) {
  switch (platform) {
    case Platform::Win98: SetVersion(VER_PLATFORM_WIN32_WINDOWS, 4, 10, 0x040A08AE, " A"); break;
    case Platform::NT4: SetVersion(VER_PLATFORM_WIN32_NT, 4, 0, 1381, "Service Pack 6"); break;
    case Platform::Win2000: SetVersion(VER_PLATFORM_WIN32_NT, 5, 0, 2195, "Service Pack 4"); break;
    case Platform::WinXP: SetVersion(VER_PLATFORM_WIN32_NT, 5, 1, 2600, "Service Pack 3"); break;
    case Platform::Win7: SetVersion(VER_PLATFORM_WIN32_NT, 6, 1, 7601, "Service Pack 1"); break;
    case Platform::Other: SetVersion(VER_PLATFORM_WIN32s, 3, 10, 0, ""); break;
  }
}

bool ParsePlatform(const std::string& name, Platform* platform) {
  static const std::pair<const char*, Platform> names[] = {
      {"9x", Platform::Win98}, {"nt4", Platform::NT4}, {"nt5", Platform::WinXP},
      {"nt6", Platform::Win7}, {"other", Platform::Other},
  };
  for (const auto& n : names) {
    if (strcasecmp(name.c_str(), n.first) == 0) {
      *platform = n.second;
      return true;
    }
  }
  return false;
}

void SetWindowsDirectory(const std::string& windowsPath) {
  windowsDir = windowsPath;
  while (windowsDir.size() > 3 && windowsDir.back() == '\\') windowsDir.pop_back();
  environment["SystemRoot"] = windowsDir;
  environment["windir"] = windowsDir;
}

std::string WindowsDirectory() { return windowsDir; }

std::string SystemDirectory() {
  std::string sep = windowsDir.size() == 3 ? "" : "\\";
  return windowsDir + sep + (IsWin9xFamily() ? "SYSTEM" : "system32");
}

void SetEnvironmentVariable(const std::string& name, const std::string& value) {
  environment[name] = value;
}

void UnsetEnvironmentVariable(const std::string& name) { environment.erase(name); }

}  // namespace emu

using namespace emu;

BOOL WINAPI GetVersionExA(LPOSVERSIONINFOA info) {
  if (FaultFor("GetVersionExA", "")) return FALSE;
  if (!info || (info->dwOSVersionInfoSize != sizeof(OSVERSIONINFOA) &&
                info->dwOSVersionInfoSize != sizeof(OSVERSIONINFOA) + 8)) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  info->dwMajorVersion = version.major;
  info->dwMinorVersion = version.minor;
  info->dwBuildNumber = version.build;
  info->dwPlatformId = version.platformId;
  std::memset(info->szCSDVersion, 0, sizeof info->szCSDVersion);
  std::strncpy(info->szCSDVersion, version.servicePack.c_str(), sizeof info->szCSDVersion - 1);
  if (info->dwOSVersionInfoSize > sizeof(OSVERSIONINFOA)) {
    std::memset(reinterpret_cast<char*>(info) + sizeof(OSVERSIONINFOA), 0, 8);
  }
  return TRUE;
}

UINT WINAPI GetWindowsDirectoryA(LPSTR buffer, UINT size) {
  CountCall("GetWindowsDirectoryA");
  return CopyOut(windowsDir, buffer, size);
}

UINT WINAPI GetSystemDirectoryA(LPSTR buffer, UINT size) {
  CountCall("GetSystemDirectoryA");
  return CopyOut(SystemDirectory(), buffer, size);
}

DWORD WINAPI GetTempPathA(DWORD size, LPSTR buffer) {
  CountCall("GetTempPathA");
  std::string dir = windowsDir;
  for (const char* name : {"TMP", "TEMP", "USERPROFILE"}) {
    if (const std::string* v = Variable(name)) {
      dir = *v;
      break;
    }
  }
  if (dir.empty() || dir.back() != '\\') dir += '\\';
  return CopyOut(dir, buffer, size);
}

DWORD WINAPI GetEnvironmentVariableA(LPCSTR name, LPSTR buffer, DWORD size) {
  CountCall("GetEnvironmentVariableA");
  const std::string* v = name ? Variable(name) : nullptr;
  if (!v) {
    SetLastError(203);  // ERROR_ENVVAR_NOT_FOUND
    return 0;
  }
  return CopyOut(*v, buffer, size);
}

DWORD WINAPI ExpandEnvironmentStringsA(LPCSTR source, LPSTR destination, DWORD size) {
  if (FaultFor("ExpandEnvironmentStringsA", source)) return 0;
  if (!source) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  // "%NAME%" of a defined variable is replaced; anything else stays as
  // written, and the closing "%" of an unknown name may open the next one.
  std::string out;
  for (const char* p = source; *p;) {
    if (*p == '%') {
      const char* close = std::strchr(p + 1, '%');
      if (close && close > p + 1) {
        const std::string* v = Variable(std::string(p + 1, close));
        if (v) {
          out += *v;
          p = close + 1;
          continue;
        }
      }
    }
    out += *p++;
  }
  DWORD needed = static_cast<DWORD>(out.size() + 1);
  if (destination && size) {
    // Too small a buffer receives what fits, unterminated: callers must go
    // by the result.
    std::memcpy(destination, out.c_str(), needed <= size ? needed : size);
  }
  return needed;
}
