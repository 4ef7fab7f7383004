// Whether a running process runs a given image file: the NT route of
// process termination ends a process matched by name only once its full
// image path names the file being removed.
#pragma once

#include "platform/system.h"

// True when the two paths name the same file: equal ignoring case, once a
// "\??\" or "\\?\" prefix is set aside, or equal in their short (8.3) forms.
bool SameImageFile(const char* a, const char* b);

// A handle to process `id` opened for PROCESS_QUERY_INFORMATION and
// PROCESS_VM_READ when its image path (psapi's GetModuleFileNameExA, psapi
// loaded from the system directory) names `path`; null when it names
// another file or cannot be read. While the handle is open the id cannot
// pass to another process.
HANDLE OpenProcessRunningImage(DWORD id, const char* path);
