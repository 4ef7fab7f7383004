// Confined access below a root directory, one component at a time.
#include "tools/sorvane-offline/confined_path.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "platform/host/host_files.h"

namespace confined {
namespace {

std::vector<std::string> Components(const std::string& rel) {
  std::vector<std::string> parts;
  size_t start = 0;
  while (start <= rel.size()) {
    size_t slash = rel.find('/', start);
    if (slash == std::string::npos) slash = rel.size();
    parts.push_back(rel.substr(start, slash - start));
    start = slash + 1;
  }
  return parts;
}

// Opens the regular file `leaf` of `dir` without following a link.
int OpenFile(int dir, const std::string& leaf, int flags, bool forWrite) {
  int fd = openat(dir, leaf.c_str(), flags | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
  if (fd < 0) return -1;
  struct stat st;
  int why = 0;
  if (fstat(fd, &st) != 0) {
    why = errno;
  } else if (!S_ISREG(st.st_mode)) {
    why = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
  } else if (forWrite && st.st_nlink > 1) {
    why = EMLINK;
  }
  if (why) {
    close(fd);
    errno = why;
    return -1;
  }
  return fd;
}

}  // namespace

bool IsPlainRelative(const std::string& rel) {
  if (rel.empty() || rel[0] == '/') return false;
  for (const auto& c : Components(rel)) {
    if (c.empty() || c == "." || c == ".." || c.find('\0') != std::string::npos) return false;
  }
  return true;
}

Root::~Root() {
  if (fd_ >= 0) close(fd_);
}

bool Root::Open(const std::string& dir) {
  if (fd_ >= 0) close(fd_);
  fd_ = open(dir.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  return fd_ >= 0;
}

int Root::OpenParent(const std::string& rel, std::string* leaf) const {
  if (fd_ < 0 || !IsPlainRelative(rel)) {
    errno = EINVAL;
    return -1;
  }
  std::vector<std::string> parts = Components(rel);
  int dir = dup(fd_);
  for (size_t i = 0; dir >= 0 && i + 1 < parts.size(); ++i) {
    int next = openat(dir, parts[i].c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    int why = errno;
    close(dir);
    errno = why;
    dir = next;
  }
  *leaf = parts.back();
  return dir;
}

bool Root::Read(const std::string& rel, std::string* bytes) const {
  std::string leaf;
  int dir = OpenParent(rel, &leaf);
  if (dir < 0) return false;
  int fd = OpenFile(dir, leaf, O_RDONLY, false);
  close(dir);
  if (fd < 0) return false;
  bool ok = host::ReadFileAt(fd, bytes);
  int why = errno;
  close(fd);
  errno = why;
  return ok;
}

bool Root::Write(const std::string& rel, const std::string& bytes) const {
  std::string leaf;
  int dir = OpenParent(rel, &leaf);
  if (dir < 0) return false;
  int fd = OpenFile(dir, leaf, O_WRONLY | O_CREAT, true);
  close(dir);
  if (fd < 0) return false;
  bool ok = ftruncate(fd, 0) == 0 && host::WriteAllTo(fd, bytes);
  int why = errno;
  if (close(fd) != 0 && ok) return false;
  errno = why;
  return ok;
}

bool Root::Remove(const std::string& rel) const {
  std::string leaf;
  int dir = OpenParent(rel, &leaf);
  if (dir < 0) return false;
  struct stat st;
  bool ok = fstatat(dir, leaf.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
  if (ok && !S_ISREG(st.st_mode)) {
    errno = EINVAL;
    ok = false;
  }
  ok = ok && unlinkat(dir, leaf.c_str(), 0) == 0;
  int why = errno;
  close(dir);
  errno = why;
  return ok;
}

bool Root::Exists(const std::string& rel, bool* regular) const {
  std::string leaf;
  int dir = OpenParent(rel, &leaf);
  if (dir < 0) return false;
  struct stat st;
  bool exists = fstatat(dir, leaf.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
  close(dir);
  if (regular) *regular = exists && S_ISREG(st.st_mode);
  return exists;
}

unsigned Root::LinkCount(const std::string& rel) const {
  std::string leaf;
  int dir = OpenParent(rel, &leaf);
  if (dir < 0) return 0;
  struct stat st;
  bool seen = fstatat(dir, leaf.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
  close(dir);
  return seen ? static_cast<unsigned>(st.st_nlink) : 0;
}

bool Root::GetAttribute(const std::string& rel, const char* name, std::string* value) const {
  std::string leaf;
  int dir = OpenParent(rel, &leaf);
  if (dir < 0) return false;
  int fd = OpenFile(dir, leaf, O_RDONLY, false);
  close(dir);
  if (fd < 0) return false;
  char buffer[256];
  ssize_t n = fgetxattr(fd, name, buffer, sizeof buffer);
  close(fd);
  if (n < 0) return false;
  value->assign(buffer, static_cast<size_t>(n));
  return true;
}

bool Root::SetAttribute(const std::string& rel, const char* name, const std::string& value) const {
  std::string leaf;
  int dir = OpenParent(rel, &leaf);
  if (dir < 0) return false;
  int fd = OpenFile(dir, leaf, O_RDONLY, true);
  close(dir);
  if (fd < 0) return false;
  bool ok = fsetxattr(fd, name, value.data(), value.size(), 0) == 0;
  close(fd);
  return ok;
}

}  // namespace confined
