// The 9x family's list of renames at the next start: the "[rename]" section
// of "wininit.ini" in the Windows directory.
#pragma once

// Adds the line destination "=" source to the "[rename]" section (created
// when missing). True when every write succeeded; when a rewrite fails,
// the file's old content is put back.
bool AddWininitRename(const char* destination, const char* source);
