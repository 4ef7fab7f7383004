// The script and page cleaner, second row of the scanner table: text files
// and pages the worm family leaves behind, deleted, renamed or reported as
// ActionMode says. A recognised file is never rewritten.
#pragma once

// FileScanner: 1 when the file matched a record, whatever was then done.
int ScanScriptFile(const char* name, const char* path);
// What ScanScriptFile leaves for a file it would not act on, without
// reading it: the patterns prepared.
int ScreenedScriptFile(const char* name, const char* path);
