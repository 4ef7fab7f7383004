// Which volume a drive root lies on, in a form that survives a remount
// (another mount point, another device number): the NTFS volume serial
// number from the boot sector when the file system is NTFS, else the file
// system's UUID as libblkid reads it, else (no device to read: tmpfs, an
// overlay, a device we may not read) only the folder's inode number, a weak
// stand-in; with the folder's path inside that file system. Also: whether
// a folder lies on a volume being cleaned.
#pragma once

#include <string>
#include <vector>

struct VolumeIdentity {
  std::string kind;    // "ntfs", "uuid", "inode", or "none" (the folder cannot be seen)
  std::string id;      // serial number (16 hex digits), "TYPE:UUID" or the inode number
  std::string folder;  // path of the root inside its file system ("/" for a whole volume)

  bool Known() const { return kind == "ntfs" || kind == "uuid" || kind == "inode"; }
  bool operator==(const VolumeIdentity& o) const {
    return kind == o.kind && id == o.id && folder == o.folder;
  }
  std::string Text() const;  // for messages
};

// The identity of the file system holding `dir`, read from
// /proc/self/mountinfo and the device (or image file) behind the mount.
VolumeIdentity IdentityOf(const std::string& dir);

// The NTFS serial number in a boot sector of 512 bytes; empty when it is
// no NTFS boot sector.
std::string NtfsSerial(const std::string& bootSector);

// True, with the root in *root, when `folder` (which need not exist yet)
// lies below one of `roots` or on the same file system as a root that is a
// whole file system (a mounted volume).
bool FolderOnVolume(const std::string& folder, const std::vector<std::string>& roots, std::string* root);
