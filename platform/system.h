// The one header through which engine, scanners and cleanup reach the
// system. On Windows it is the real SDK; on Linux it declares the same
// subset (same names, types, sizes and constant values), implemented by the
// emulated machine in platform/emu.
#pragma once

#ifdef _WIN32
#include <windows.h>
#include <io.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <tlhelp32.h>
#include <psapi.h>
#include <winperf.h>
#include <cstdlib>

// Ends the program at once with the given exit code (the run-time's exit).
[[noreturn]] inline void ExitProgram(int code) { exit(code); }
#else
#include "platform/emu/win32_types.h"
#include "platform/emu/win32_files.h"
#include "platform/emu/win32_window.h"
#include "platform/emu/win32_crt.h"
#include "platform/emu/win32_registry.h"
#include "platform/emu/win32_perf.h"
#include "platform/emu/win32_process.h"
#include "platform/emu/win32_system.h"
#include "platform/emu/win32_service.h"
#include "platform/emu/win32_psapi.h"
#endif

#include <cstdio>
#include <cstring>
