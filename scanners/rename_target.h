// The new name a scanner gives a detected file in rename mode.
#pragma once

#include <cstddef>

// target = path with the character after its last "." replaced by "V"
// (x.exe -> x.Vxe; the "." may belong to a directory name). A path ending
// in "." gets a "V" appended. False when the result does not fit in `size`
// bytes, or names the same file: a path without "." or whose character
// after the last "." is already a "v" (x.vbs) would keep a name that still
// runs, so such a rename counts as failed.
bool BuildRenameTarget(const char* path, char* target, size_t size);
