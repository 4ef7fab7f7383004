// NT version classification from one GetVersionExA call.
#include "cleanup/nt_version.h"

#include "platform/system.h"

NtVersionKind GetNtVersionKind() {
  OSVERSIONINFOA info;
  memset(&info, 0, sizeof info);
  info.dwOSVersionInfoSize = sizeof info;
  if (!GetVersionExA(&info) || info.dwPlatformId != VER_PLATFORM_WIN32_NT) return NtVersionOther;
  if (info.dwMajorVersion <= 4) return NtVersion4;
  if (info.dwMajorVersion == 5) return NtVersion5;
  return NtVersionOther;
}
