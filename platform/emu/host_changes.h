// A hook the emulation calls before it changes an existing host file for
// the code under test (delete, rename, write, truncate, and its DOS
// attributes where they are the volume's own) and before it
// records a file's removal at the next start. sorvane-offline keeps a copy
// of the file there, or refuses every change in a report run.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace emu {

enum class HostChange { Delete, Rename, Write, Truncate, Attributes, RemoveAtRestart };

// `host` is the file about to change, `windowsPath` the name the code used,
// `newHost` the destination of a rename. Returning false refuses the change:
// the call fails with ERROR_ACCESS_DENIED (EACCES for the run-time calls).
using HostChangeHook = std::function<bool(HostChange change, const std::string& host,
                                          const std::string& windowsPath, const std::string& newHost)>;
// Installs the hook (an empty one removes it); ResetMachine removes it too.
void SetHostChangeHook(HostChangeHook hook);
// The hook installed now (empty when none), so that another can wrap it.
HostChangeHook CurrentHostChangeHook();

// Called by the emulated calls; true when the change may go ahead (always
// without a hook).
bool BeforeHostChange(HostChange change, const std::string& host, const std::string& windowsPath,
                      const std::string& newHost = "");

// Files with DOS attributes of their own: on an ntfs-3g mount every file
// carries them in the extended attribute "system.ntfs_attrib_be" (4 bytes,
// big-endian). Below `hostRoot` they are read from there; with
// `writeThrough` SetFileAttributesA writes them there too, else the
// emulation's table keeps the change and the volume is left alone.
void UseNtfsAttributes(const std::string& hostRoot, bool writeThrough);
// The settable attributes of a host entry below such a root; false when
// the path is not below one or carries no such attribute.
bool NtfsAttributes(const std::string& host, unsigned long* attributes);
// Writes them (keeping the bits SetFileAttributesA cannot change); false
// when the path is not below a write-through root or the write failed.
bool SetNtfsAttributes(const std::string& host, unsigned long attributes);
// True when SetNtfsAttributes would change the file itself (a write-through
// root, a file that carries the attribute).
bool WritesNtfsAttributes(const std::string& host);
// The whole attribute value (4 bytes as a number) a file carried before
// the run first changed it; false when the run did not change it.
bool NtfsAttributesBefore(const std::string& host, unsigned long* raw);

// Mount points below a drive: a directory on another file system than the
// one that lists it is entered only when allowed. The walk calls
// EnterOtherFileSystem for each such directory it meets; every one is
// recorded (OtherFileSystems) whether entered or not.
void SetCrossFileSystems(bool enter);
bool EnterOtherFileSystem(const std::string& windowsPath);
const std::vector<std::string>& OtherFileSystems();

}  // namespace emu
