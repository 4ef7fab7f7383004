// Confined file access on the host: resolution without links, whole-file
// reads and writes that are synced, and the NTFS attribute of ntfs-3g.
#include "platform/host/host_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>

#include "platform/host/host_faults.h"

namespace host {
namespace {

const char NtfsAttributeName[] = "system.ntfs_attrib_be";

// Closes `fd` keeping the errno of the failure that led here.
int CloseKeepingError(int fd) {
  int saved = errno;
  close(fd);
  errno = saved;
  return -1;
}


// Opens a regular file for writing; with `create` a missing file is made.
int OpenForWriting(const std::string& path, int extraFlags, mode_t mode) {
  int fd = OpenFile(path, O_WRONLY | O_NONBLOCK | extraFlags, mode);
  if (fd < 0) return -1;
  struct stat st;
  if (fstat(fd, &st) != 0) return CloseKeepingError(fd);
  if (!S_ISREG(st.st_mode)) {
    close(fd);
    errno = EINVAL;
    return -1;
  }
  if (st.st_nlink > 1) {
    close(fd);
    errno = EMLINK;
    return -1;
  }
  // Only now, once the file is known to be a lone regular file.
  if (ftruncate(fd, 0) != 0) return CloseKeepingError(fd);
  return fd;
}

bool WriteAndClose(int fd, const std::string& bytes) {
  bool ok = WriteAllTo(fd, bytes);
  int saved = errno;
  if (close(fd) != 0 && ok) return false;
  errno = saved;
  return ok;
}

}  // namespace

int OpenRoot(const std::string& path) { return open(path.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC); }

int OpenChildDirectory(int parentFd, const std::string& name) {
  int fd = openat(parentFd, name.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return -1;
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISDIR(st.st_mode)) {
    close(fd);
    errno = ENOTDIR;
    return -1;
  }
  return fd;
}

int OpenBelow(int rootFd, const std::string& relative, int flags, mode_t mode) {
  int dir = rootFd;
  size_t start = 0;
  for (;;) {
    size_t slash = relative.find('/', start);
    std::string part = relative.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
    if (part.empty() || part == "." || part == "..") {
      if (dir != rootFd) close(dir);
      errno = EINVAL;
      return -1;
    }
    if (slash == std::string::npos) {
      int fd = openat(dir, part.c_str(), flags | O_NOFOLLOW | O_CLOEXEC, mode);
      if (dir != rootFd) CloseKeepingError(dir);
      return fd;
    }
    int next = OpenChildDirectory(dir, part);
    if (dir != rootFd) CloseKeepingError(dir);
    if (next < 0) return -1;
    dir = next;
    start = slash + 1;
  }
}

int OpenFile(const std::string& path, int flags, mode_t mode) {
  size_t slash = path.rfind('/');
  std::string dirPath = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  int dir = OpenRoot(dirPath);
  if (dir < 0) return -1;
  int fd = OpenBelow(dir, path.substr(slash == std::string::npos ? 0 : slash + 1), flags, mode);
  if (fd < 0) return CloseKeepingError(dir);
  close(dir);
  return fd;
}

bool WriteAllTo(int fd, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = EIO;
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return fsync(fd) == 0;
}

bool ReadFileAt(int fd, std::string* bytes) {
  struct stat st;
  if (fstat(fd, &st) != 0) return false;
  if (!S_ISREG(st.st_mode)) {
    errno = EINVAL;
    return false;
  }
  bytes->clear();
  char buffer[65536];
  ssize_t n;
  while ((n = read(fd, buffer, sizeof buffer)) != 0) {
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    bytes->append(buffer, static_cast<size_t>(n));
  }
  return true;
}

bool ReadFile(const std::string& path, std::string* bytes) {
  if (Injected("host read", path)) return false;
  int fd = OpenFile(path, O_RDONLY | O_NONBLOCK);
  if (fd < 0) return false;
  bool ok = ReadFileAt(fd, bytes);
  CloseKeepingError(fd);
  return ok;
}

bool WriteOver(const std::string& path, const std::string& bytes) {
  if (Injected("host write", path)) return false;
  int fd = OpenForWriting(path, 0, 0);
  return fd >= 0 && WriteAndClose(fd, bytes);
}

bool CreateExclusive(const std::string& path, const std::string& bytes, mode_t mode) {
  if (Injected("host create", path)) return false;
  int fd = OpenFile(path, O_WRONLY | O_CREAT | O_EXCL, mode);
  return fd >= 0 && WriteAndClose(fd, bytes);
}

bool WriteFile(const std::string& path, const std::string& bytes, mode_t mode) {
  if (Injected("host write", path)) return false;
  int fd = OpenForWriting(path, O_CREAT, mode);
  return fd >= 0 && WriteAndClose(fd, bytes);
}

bool NtfsAttributes(const std::string& path, uint32_t* attributes) {
  unsigned char b[4];
  if (lgetxattr(path.c_str(), NtfsAttributeName, b, sizeof b) != 4) return false;
  *attributes = uint32_t(b[0]) << 24 | uint32_t(b[1]) << 16 | uint32_t(b[2]) << 8 | b[3];
  return true;
}

bool SetNtfsAttributes(const std::string& path, uint32_t attributes, bool replaceOnly) {
  if (Injected("host attributes", path)) return false;
  const unsigned char b[4] = {static_cast<unsigned char>(attributes >> 24), static_cast<unsigned char>(attributes >> 16),
                              static_cast<unsigned char>(attributes >> 8), static_cast<unsigned char>(attributes)};
  return lsetxattr(path.c_str(), NtfsAttributeName, b, sizeof b, replaceOnly ? XATTR_REPLACE : 0) == 0;
}

}  // namespace host
