// Access to files below one root directory that never leaves it: a path
// relative to the root is walked component by component from a descriptor
// of the root, no link is followed, only regular files are read or
// written, and a file with other hard links is never written (its other
// names, perhaps outside the root, would change with it).
#pragma once

#include <string>

namespace confined {

// An open root; the descriptor closes with the object.
class Root {
 public:
  Root() = default;
  ~Root();
  Root(const Root&) = delete;
  Root& operator=(const Root&) = delete;

  // Opens `dir` (which may itself be reached through links: the caller
  // named it). False with errno set.
  bool Open(const std::string& dir);
  bool IsOpen() const { return fd_ >= 0; }
  int fd() const { return fd_; }

  // The whole of the regular file `rel` ("a/b/c", no "." or ".."
  // components); false with errno set (ELOOP for a link, EISDIR or EINVAL
  // for what is not a regular file).
  bool Read(const std::string& rel, std::string* bytes) const;
  // Writes `bytes` over `rel` in place (same inode, so its NTFS attributes
  // and security stay), creating it when missing (the folders above must
  // exist); fsynced. EMLINK for a file with other hard links.
  bool Write(const std::string& rel, const std::string& bytes) const;
  // Removes the regular file `rel` (never a link's target, never a folder).
  bool Remove(const std::string& rel) const;
  // True when `rel` exists (a link counts, unfollowed); *regular tells
  // whether it is a regular file.
  bool Exists(const std::string& rel, bool* regular = nullptr) const;
  // The number of names of the entry `rel` (0 when it cannot be seen).
  unsigned LinkCount(const std::string& rel) const;
  // Reads or writes an extended attribute of the regular file `rel`.
  bool GetAttribute(const std::string& rel, const char* name, std::string* value) const;
  bool SetAttribute(const std::string& rel, const char* name, const std::string& value) const;

 private:
  // The folder holding `rel`'s last component (O_PATH descriptor, to close)
  // and that component; -1 with errno set.
  int OpenParent(const std::string& rel, std::string* leaf) const;
  int fd_ = -1;
};

// True when `rel` is a relative path of plain components.
bool IsPlainRelative(const std::string& rel);

}  // namespace confined
