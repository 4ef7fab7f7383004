// The run-time's low-level descriptor calls over emulated drives, with the
// Windows semantics a scanner relies on: 32-bit offsets, read-only files
// refusing write access, directories refusing to open.
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdarg>
#include <map>

#include "platform/emu/fs.h"
#include "platform/emu/machine.h"

using namespace emu;

namespace {

struct OpenFile {
  std::string windowsPath;
  std::string host;
};

std::map<int, OpenFile> openFiles;
int64_t bytesRead;

void ResetCrt() {
  for (auto& f : openFiles) close(f.first);
  openFiles.clear();
  bytesRead = 0;
}
ResetHook crtHook(ResetCrt);

const OpenFile* Lookup(int fd) {
  auto it = openFiles.find(fd);
  if (it == openFiles.end()) {
    errno = EBADF;
    return nullptr;
  }
  return &it->second;
}

int FailWith(int error) {
  errno = error;
  return -1;
}

}  // namespace

int _open(const char* path, int flags, ...) {
  if (FaultFor("_open", path)) return -1;
  std::string host;
  DWORD error;
  bool ok = (flags & _O_CREAT) ? ResolveForCreate(path, &host, &error)
                               : ResolvePath(path, &host, &error);
  if (!ok) return FailWith(ErrnoFromError(error));
  int access = flags & 3;
  struct stat st;
  bool exists = stat(host.c_str(), &st) == 0;
  if (exists && S_ISDIR(st.st_mode)) return FailWith(EACCES);
  if (exists && access != _O_RDONLY) {
    DWORD a;
    if (StoredAttributes(host, &a) && (a & FILE_ATTRIBUTE_READONLY)) return FailWith(EACCES);
    if (IsImageRunning(path)) return FailWith(EACCES);  // a running image is not writable
  }
  int hostFlags = access == _O_WRONLY ? O_WRONLY : access == _O_RDWR ? O_RDWR : O_RDONLY;
  if (flags & _O_APPEND) hostFlags |= O_APPEND;
  if (flags & _O_CREAT) hostFlags |= O_CREAT;
  if (flags & _O_TRUNC) hostFlags |= O_TRUNC;
  if (flags & _O_EXCL) hostFlags |= O_EXCL;
  int fd = open(host.c_str(), hostFlags | O_CLOEXEC, 0644);
  if (fd < 0) return -1;
  openFiles[fd] = OpenFile{path, host};
  return fd;
}

int _close(int fd) {
  CountCall("_close");
  if (!Lookup(fd)) return -1;
  openFiles.erase(fd);
  return close(fd);
}

int _read(int fd, void* buffer, unsigned count) {
  const OpenFile* f = Lookup(fd);
  if (!f) {
    CountCall("_read");
    return -1;
  }
  if (FaultFor("_read", f->windowsPath.c_str())) return -1;
  if (count > INT_MAX) return FailWith(EINVAL);
  char* out = static_cast<char*>(buffer);
  unsigned done = 0;
  while (done < count) {
    ssize_t n = read(fd, out + done, count - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    if (n == 0) break;
    done += static_cast<unsigned>(n);
  }
  bytesRead += done;
  return static_cast<int>(done);
}

int _write(int fd, const void* buffer, unsigned count) {
  const OpenFile* f = Lookup(fd);
  if (!f) {
    CountCall("_write");
    return -1;
  }
  if (FaultFor("_write", f->windowsPath.c_str())) return -1;
  if (count > INT_MAX) return FailWith(EINVAL);
  const char* in = static_cast<const char*>(buffer);
  unsigned done = 0;
  while (done < count) {
    ssize_t n = write(fd, in + done, count - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    done += static_cast<unsigned>(n);
  }
  return static_cast<int>(done);
}

long _lseek(int fd, long offset, int origin) {
  const OpenFile* f = Lookup(fd);
  if (!f) {
    CountCall("_lseek");
    return -1;
  }
  if (FaultFor("_lseek", f->windowsPath.c_str())) return -1;
  // Windows' long is 32 bits: an offset the caller built from an unsigned
  // 32-bit value arrives negative there, and so it does here.
  int64_t delta = static_cast<int32_t>(static_cast<uint32_t>(offset));
  int64_t base;
  if (origin == SEEK_SET) {
    base = 0;
  } else if (origin == SEEK_CUR) {
    base = lseek(fd, 0, SEEK_CUR);
  } else if (origin == SEEK_END) {
    struct stat st;
    base = fstat(fd, &st) == 0 ? st.st_size : -1;
  } else {
    return FailWith(EINVAL);
  }
  if (base < 0) return -1;
  int64_t target = base + delta;
  if (target < 0 || target > INT32_MAX) return FailWith(EINVAL);
  return lseek(fd, target, SEEK_SET) < 0 ? -1 : static_cast<long>(target);
}

long _filelength(int fd) {
  const OpenFile* f = Lookup(fd);
  if (!f) {
    CountCall("_filelength");
    return -1;
  }
  if (FaultFor("_filelength", f->windowsPath.c_str())) return -1;
  struct stat st;
  if (fstat(fd, &st) != 0) return -1;
  if (st.st_size > INT32_MAX) return FailWith(EFBIG);  // beyond a 32-bit long
  return static_cast<long>(st.st_size);
}

int _chsize(int fd, long size) {
  const OpenFile* f = Lookup(fd);
  if (!f) {
    CountCall("_chsize");
    return -1;
  }
  if (FaultFor("_chsize", f->windowsPath.c_str())) return -1;
  if (size < 0 || size > INT32_MAX) return FailWith(EINVAL);
  return ftruncate(fd, size) == 0 ? 0 : -1;
}

int _access(const char* path, int mode) {
  if (FaultFor("_access", path)) return -1;
  std::string host;
  DWORD error;
  if (!ResolvePath(path, &host, &error)) return FailWith(ErrnoFromError(error));
  if (mode & 2) {
    DWORD a;
    if (StoredAttributes(host, &a) && (a & FILE_ATTRIBUTE_READONLY)) return FailWith(EACCES);
  }
  return 0;
}

namespace emu {
int64_t BytesRead() { return bytesRead; }
size_t OpenDescriptors() { return openFiles.size(); }
}  // namespace emu
