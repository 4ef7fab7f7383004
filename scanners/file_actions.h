// The two actions the scanners take on a detected file, each with its
// results line: removal (terminating the processes that run the file and
// scheduling the deletion for the next start when needed) and rename.
#pragma once

#include "platform/system.h"

// Resets the attributes and deletes `path`; when the deletion is refused,
// ends the processes running it and tries again, and when that fails too,
// puts the file's attributes back (`oldAttributes`, or when 0 those it has
// now) and schedules the deletion (RestartNeeded set once one succeeded).
// Lines carry `name`, except the failed attribute reset, which carries
// `attributeName`.
void RemoveDetectedFile(const char* path, const char* name, const char* attributeName,
                        DWORD oldAttributes = 0);

// Renames `path` to its BuildRenameTarget name: "renamed" or "Rename failed".
// On success the new name goes to `renamedTo` (ScanFileBufferSize bytes)
// when given.
bool RenameDetectedFile(const char* path, const char* name, char* renamedTo = nullptr);
