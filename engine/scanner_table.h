// The table of file scanners the walk hands every file to, in order.
#pragma once

#include "engine/shared_state.h"

extern const ScannerEntry ScannerTable[];

// The rows the walk uses: ScannerTable, unless a test installs its own.
extern const ScannerEntry* ActiveScannerTable;
