// Removal of the Run values that launch the file under examination.
#pragma once

#include "platform/system.h"

// Deletes every value of the key whose command line, as written or with
// its environment variables expanded, begins with CurrentScanFile (ignoring
// case and one leading quote).
void CleanRunEntriesForFile(HKEY root, const char* keyPath);
