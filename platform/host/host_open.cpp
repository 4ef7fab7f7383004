// The checks around opening a host file for the emulated file calls.
#include "platform/host/host_open.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace host {

bool MayOpen(const struct stat& st, bool writes) { return S_ISREG(st.st_mode) && !(writes && st.st_nlink > 1); }

int OpenEntry(int dirFd, const std::string& name, int flags) {
  return openat(dirFd, name.c_str(), flags | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644);
}

bool CheckOpened(int fd, bool writes, struct stat* st) {
  if (fstat(fd, st) == 0 && MayOpen(*st, writes)) return true;
  close(fd);
  errno = EACCES;
  return false;
}

}  // namespace host
