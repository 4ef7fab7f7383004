// The two actions the scanners take on a detected file, each with its
// results line: removal (terminating the processes that run the file and
// scheduling the deletion for the next start when needed) and rename.
#pragma once

// Resets the attributes and deletes `path`; when the deletion is refused,
// ends the processes running it and tries again, and when that fails too,
// schedules the deletion (RestartNeeded set once one succeeded). Lines carry `name`, except the
// failed attribute reset, which carries `attributeName`.
void RemoveDetectedFile(const char* path, const char* name, const char* attributeName);

// Renames `path` to its BuildRenameTarget name: "renamed" or "Rename failed".
void RenameDetectedFile(const char* path, const char* name);
