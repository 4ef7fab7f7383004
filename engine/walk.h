// The directory walk: every file below a search pattern, depth first,
// through the scanner table, with the window kept alive between entries.
#pragma once

#include <cstddef>

// Walks `pattern` (a search pattern ending in "*.*", or in SingleFileMode the
// full path of one file). Returns 0 when cancelled, -1 when a pattern had no
// "." in it (the whole walk is abandoned), otherwise FilesScanned.
int WalkDirectory(const char* pattern);

// Retrieves and handles at most one pending window message; Escape asks
// whether to terminate the scan, WM_QUIT and WM_DESTROY cancel it.
void PumpOneMessage();

// Writes the display form of `source`: unchanged when it has at most `limit`
// characters, else its first and last limit/2-1 characters joined by dots.
// False (and nothing written) when the result would not fit destinationSize.
bool ShortenForDisplay(const char* source, char* destination, int limit,
                       size_t destinationSize = 512);
