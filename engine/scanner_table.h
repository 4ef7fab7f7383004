// The table of file scanners the walk hands every file to, in order.
#pragma once

// (detection name of the row, full path) -> non-zero when the file is
// finished and no later row is to be called for it.
typedef int (*FileScanner)(const char* name, const char* path);

struct ScannerEntry {
  const char* name;  // a row without a name ends the table
  FileScanner routine;
};

extern const ScannerEntry ScannerTable[];

// The rows the walk uses: ScannerTable, unless a test installs its own.
extern const ScannerEntry* ActiveScannerTable;
