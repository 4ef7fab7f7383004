// Confined access to a real directory tree on the host, for the emulation
// and for the rescue code (hives, quarantine, restore). Nothing here ever
// follows a symbolic link below the directory a caller starts from: a
// path is taken component by component from a directory descriptor, only
// regular files are read or written, and a file with other hard links is
// never written in place (that would change the other names too).
//
// Failures return false or -1 with errno set, as the system calls do.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>

namespace host {

// Opens a directory the user named (a drive, a volume) as an O_PATH
// descriptor; that path may go through links, as the user chose it.
int OpenRoot(const std::string& path);

// Opens directory `name` of the directory open as `parentFd` (O_PATH),
// without following a link; -1 (ENOTDIR) when it is no directory.
int OpenChildDirectory(int parentFd, const std::string& name);

// Opens `relative` ("a/b/c", no "." or ".." components) below `rootFd`:
// every directory without following a link, the last component with
// `flags` | O_NOFOLLOW | O_CLOEXEC. -1 with errno on failure.
int OpenBelow(int rootFd, const std::string& relative, int flags, mode_t mode = 0);

// The same for a whole host path: its directory as the caller gave it,
// the file itself never through a link.
int OpenFile(const std::string& path, int flags, mode_t mode = 0);

// Reads a whole regular file (a FIFO or device is refused, never waited on).
bool ReadFile(const std::string& path, std::string* bytes);
bool ReadFileAt(int fd, std::string* bytes);
// Writes all of `bytes` at the descriptor's position and syncs it.
bool WriteAllTo(int fd, const std::string& bytes);

// Writes `bytes` over an existing regular file in place (same inode, so
// its attributes and security stay) and syncs it. A file with other hard
// links is refused (EMLINK).
bool WriteOver(const std::string& path, const std::string& bytes);

// Creates a new file (never one that exists: EEXIST) with `bytes` and
// syncs it.
bool CreateExclusive(const std::string& path, const std::string& bytes, mode_t mode = 0600);

// Writes a whole file: over it in place when it exists (as WriteOver),
// created when it does not.
bool WriteFile(const std::string& path, const std::string& bytes, mode_t mode = 0644);

// The DOS attributes ntfs-3g keeps for a file on an NTFS volume, in the
// extended attribute "system.ntfs_attrib_be" (4 bytes, big-endian), read
// and written on the entry itself (never through a link). False when the
// entry carries none or the write failed; with `replaceOnly` an entry
// that carries none is not given one.
bool NtfsAttributes(const std::string& path, uint32_t* attributes);
bool SetNtfsAttributes(const std::string& path, uint32_t attributes, bool replaceOnly = false);

}  // namespace host
