// Internals of the emulated file system shared by its source files: drives,
// Windows path rules over host directories, and the attribute table.
#pragma once

#include <sys/stat.h>

#include <string>

#include "platform/system.h"

namespace emu {

struct Drive {
  std::string host;  // host directory, no trailing slash
  UINT type = DRIVE_NO_ROOT_DIR;
};

// The drive a Windows path starts with ("C:..."), or nullptr.
const Drive* DriveOf(const char* windowsPath);

// Resolves an existing Windows path to its host path, looking each component
// up ignoring case (exact spelling first). On failure returns false and sets
// *error to ERROR_FILE_NOT_FOUND, ERROR_PATH_NOT_FOUND, ERROR_INVALID_NAME or
// ERROR_FILENAME_EXCED_RANGE. *isRoot tells whether the path names a drive root;
// *status, when given, receives the lstat of the resolved host path.
bool ResolvePath(const char* windowsPath, std::string* host, DWORD* error,
                 bool* isRoot = nullptr, struct stat* status = nullptr);

// Like ResolvePath for a path whose last component need not exist: the parent
// must exist; an existing last component is found ignoring case, a missing
// one is kept as spelled.
bool ResolveForCreate(const char* windowsPath, std::string* host, DWORD* error);

// True for a host file name that a Windows search can return (no characters
// that Windows forbids in names); other host entries are invisible.
bool IsWindowsName(const char* name);

// Windows attributes of a host path from lstat and the attribute table.
DWORD AttributesOf(const std::string& host, const struct stat& st);

// The settable attribute bits stored for a host path (absent: none stored).
// Bits equal to what an untouched entry shows (ARCHIVE for a file, none for
// a directory) are not kept, so the table holds only files whose attributes
// the scan really changed, however large the tree.
bool StoredAttributes(const std::string& host, DWORD* attributes);
void StoreAttributes(const std::string& host, DWORD attributes, bool isDirectory);
void ForgetAttributes(const std::string& host);
void MoveAttributes(const std::string& from, const std::string& to);

// errno value the run-time reports for a Windows error.
int ErrnoFromError(DWORD error);
// Windows error for an errno value of a host call.
DWORD ErrorFromErrno(int error);

// Called whenever the emulation creates, writes, truncates, deletes or
// renames a host file: open descriptors drop the content and length they
// keep (crt_io.cpp), and the remembered search entry is dropped.
void HostFilesChanged();
uint64_t HostGeneration();

// The entry a search has just returned, with its lstat: the calls that
// follow for that path (the scanners' attribute calls and opens) use it
// instead of asking the host again. It lasts until the next search call or
// the next change the emulation makes to the host's files.
void RememberEntry(const std::string& host, const struct stat& st);
void ForgetEntry();
// Changes whenever the remembered entry is set or dropped.
uint64_t EntryEpoch();

// Counts the call and applies any injected fault; true when it must fail
// (the last error is then set to the injected error).
bool FaultFor(const char* op, const char* windowsPath);

}  // namespace emu
