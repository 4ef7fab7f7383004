// Loading system libraries by their full path in the system directory.
#pragma once

#include "platform/system.h"

// Loads `fileName` from the system directory, never by bare name: the tool
// is often started from a downloads folder, where a planted DLL of the same
// name would otherwise be loaded first and run with the tool's rights.
// Null when the library or the directory is not available.
HMODULE LoadSystemLibrary(const char* fileName);
