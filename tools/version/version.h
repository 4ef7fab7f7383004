// What `--version` prints for the native tools: name, version, the commit
// built from, and the size of the detection data compiled in.
#pragma once

#include <string>

// Set at build time (cmake/build_info.cmake).
extern const char* const BuildVersion;
extern const char* const BuildCommit;

// The version text of `program`, one item a line.
std::string VersionText(const char* program);
