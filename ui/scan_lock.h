// One scan at a time on a machine: a named mutex held while a scan runs,
// by the window program from SCAN to the end of its run and by an
// unattended run for its whole life.
#pragma once

#include <windows.h>

// Opens the machine's scan lock. `*alone` is false when another scan holds
// it (or it cannot be opened, as when another user's scan made it). The
// handle, when not null, keeps the lock taken until ReleaseScanLock.
HANDLE TakeScanLock(bool* alone);
void ReleaseScanLock(HANDLE lock);
