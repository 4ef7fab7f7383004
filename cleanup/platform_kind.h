// The platform classification that picks the route of process termination,
// the memory scan, deferred removal and restart.
#pragma once

enum PlatformKind : int {
  PlatformUnknown = 0,  // GetVersionExA failed
  PlatformOther = 1,    // neither family
  PlatformWin9x = 4,    // VER_PLATFORM_WIN32_WINDOWS
  PlatformNT = 5,       // VER_PLATFORM_WIN32_NT
};

// Asks the system every time; nothing is cached.
PlatformKind GetPlatformKind();
