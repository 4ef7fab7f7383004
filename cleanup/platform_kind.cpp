// Platform classification from GetVersionExA's platform id.
#include "cleanup/platform_kind.h"

#include "platform/system.h"

PlatformKind GetPlatformKind() {
  OSVERSIONINFOA info;
  memset(&info, 0, sizeof info);
  info.dwOSVersionInfoSize = sizeof info;
  if (!GetVersionExA(&info)) return PlatformUnknown;
  switch (info.dwPlatformId) {
    case VER_PLATFORM_WIN32_WINDOWS:
      return PlatformWin9x;
    case VER_PLATFORM_WIN32_NT:
      return PlatformNT;
    default:
      return PlatformOther;
  }
}
