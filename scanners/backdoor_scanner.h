// The scanner of the first ScannerTable row: copies of the backdoor family
// (PE files matched against BackdoorSignatures) and worm copies packed in
// archives (the archive matchers, then ArchiveSignatures). It reports the
// detection and acts on the file as ActionMode says.
#pragma once

// FileScanner: non-zero when a signature record matched; 0 otherwise,
// also after an archive matcher's detection and after the memory action.
int ScanBackdoorFile(const char* name, const char* path);
// What ScanBackdoorFile leaves for a file it would not act on, without
// reading it: the memory report's flag cleared and CurrentScanFile empty.
int ScreenedBackdoorFile(const char* name, const char* path);

// The action step on a recognised, closed file, by ActionMode: delete
// (terminating the processes running it, or scheduling the removal for the
// next start, when the deletion is refused), rename, or report. Each
// outcome writes its results line under `name`.
void ActOnDetectedFile(const char* path, const char* name);
