// Internal: the HKEY_PERFORMANCE_DATA query of the emulated registry.
#pragma once

#include "platform/system.h"

namespace emu {

// RegQueryValueExA on HKEY_PERFORMANCE_DATA: `name` lists object title
// indexes ("230") or "Global". Answers ERROR_MORE_DATA (leaving *size as
// given, as Windows does not report the size needed) when the buffer is
// too small.
LONG QueryPerformanceData(LPCSTR name, LPDWORD type, LPBYTE data, LPDWORD size);

}  // namespace emu
