// Internals of the emulated file system shared by its source files: drives,
// Windows path rules over host directories, and the attribute table.
//
// Every path is resolved component by component from a descriptor of the
// drive's host directory, and no symbolic link is ever followed: a link is
// an entry of its own (shown as a reparse point), never a way elsewhere.
// Operations then act relative to the descriptor of the directory that
// holds the entry, so nothing reaches outside the drives.
#pragma once

#include <sys/stat.h>

#include <memory>
#include <string>

#include "platform/emu/machine.h"
#include "platform/system.h"

namespace emu {

struct Drive {
  std::string host;  // host directory, no trailing slash
  UINT type = DRIVE_NO_ROOT_DIR;
  bool readOnly = false;  // forced by the control API (a read-only mount is asked of the host)
};

// The drive a Windows path starts with ("C:..."), or nullptr.
const Drive* DriveOf(const char* windowsPath);

// An open host directory reached without following a link.
struct HostDir {
  int fd = -1;       // O_PATH descriptor
  std::string host;  // its host path, for the attribute table and messages
  HostDir(int f, std::string h) : fd(f), host(std::move(h)) {}
  HostDir(const HostDir&) = delete;
  HostDir& operator=(const HostDir&) = delete;
  ~HostDir();
};
using DirRef = std::shared_ptr<const HostDir>;

// A Windows path resolved on its drive: the directory that holds the entry
// and the entry's host name there.
struct HostEntry {
  DirRef dir;
  std::string name;  // "." for a drive root
  std::string host;  // full host path (the key of the attribute table)
  struct stat st;    // lstat of the entry when `exists`
  bool exists = false;
  bool isRoot = false;
  bool IsLink() const { return exists && S_ISLNK(st.st_mode); }
};

// Resolves a Windows path, looking each component up ignoring case (exact
// spelling first) and never through a link. With `mayBeMissing` the last
// component need not exist (it is then kept as spelled; the parent must be
// a directory). On failure returns false and sets *error to
// ERROR_FILE_NOT_FOUND, ERROR_PATH_NOT_FOUND, ERROR_INVALID_NAME,
// ERROR_FILENAME_EXCED_RANGE or (the root, when it may be missing)
// ERROR_ACCESS_DENIED.
bool Resolve(const char* windowsPath, HostEntry* entry, DWORD* error, bool mayBeMissing = false);

// Resolve for a path that must exist, without copying: the entry kept for
// the path resolved last when it still holds, else *scratch filled; nullptr
// on failure. The entry is valid until the next call that resolves a path.
const HostEntry* ResolveKept(const char* path, HostEntry* scratch, DWORD* error);

// The directory a Windows path names ("C:\a\" or "C:\a"), or nullptr with
// *error set; *isRoot tells whether it is a drive root.
DirRef ResolveDirectory(const char* windowsPath, DWORD* error, bool* isRoot);

// True when the entry lies on a read-only drive or mount: nothing may be
// written there.
bool WriteProtected(const HostEntry& entry);

// True (and noted) when `target` is a wininit.ini that must not be written:
// its drive is read-only, or the file whose deletion entry is being
// written (the last GetShortPathNameA) lies on a read-only drive.
// A wininit.ini that is a link (or no regular file) is refused and noted
// too, as is an entry for a file the host-change hook refuses to let go.
bool RefusedWininitWrite(const HostEntry& target);
// True (and noted) when `source` is a wininit.ini that cannot be read as
// the file it stands for: a link or no regular file.
bool RefusedWininitRead(const HostEntry& source);

// True for a host file name that a Windows search can return (no characters
// that Windows forbids in names); other host entries are invisible.
bool IsWindowsName(const char* name);

// Windows attributes of a host entry from its lstat and the attribute table.
// A link shows as a reparse point with the directory bit, as a junction
// does: what it points to is never looked at.
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
// keep (crt_io.cpp), and the remembered search entry is dropped. A rename
// or deletion also drops the resolved directories.
void HostFilesChanged();
void HostNamesChanged();
uint64_t HostGeneration();
// Closes the read-only descriptor kept after _close for the next scanner
// (crt_io.cpp), at once: a file about to be deleted or renamed must not be
// held open (a FUSE volume keeps a deleted open file under a hidden name).
void CloseParkedDescriptor();

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
// (ApplyFault: the part that asks for a fault, only when one is set.)
bool ApplyFault(const char* op, const char* windowsPath);
inline bool FaultFor(const char* op, const char* windowsPath) {
  CountCall(op);
  return FaultsSet && ApplyFault(op, windowsPath);
}

// Reports an entry the emulation did not let the scan examine, or an act
// it did not carry out (see emu::OnFileNote); each path once per kind.
void Note(FileNote kind, const std::string& windowsPath, const std::string& detail);

// The long path last given to GetShortPathNameA: the file a deletion entry
// of wininit.ini is being written for.
const std::string& LastShortPathRequest();
void SetLastShortPathRequest(const char* windowsPath);

}  // namespace emu
