// The two process-status calls of psapi.dll for the Linux build. Programs
// reach them through LoadLibraryA and GetProcAddress, as on systems where
// the library may be missing.
#pragma once

#include "platform/emu/win32_types.h"

// Fills `ids` with up to size / 4 process ids; *bytesReturned gets the
// bytes written.
BOOL WINAPI EnumProcesses(DWORD* ids, DWORD size, DWORD* bytesReturned);

// Full path of a module of a process (module 0: its image), opened with
// PROCESS_QUERY_INFORMATION and PROCESS_VM_READ. Returns the characters
// copied without the terminator, 0 on failure.
DWORD WINAPI GetModuleFileNameExA(HANDLE process, HMODULE module, LPSTR fileName, DWORD size);
