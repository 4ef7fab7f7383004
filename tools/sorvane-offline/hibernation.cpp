// The header of hiberfil.sys, read before a run changes a volume.
#include "tools/sorvane-offline/hibernation.h"

#include <dirent.h>
#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>

Hibernation CheckHibernation(const std::string& root, std::string* detail) {
  std::string name;
  if (DIR* d = opendir(root.c_str())) {
    while (dirent* e = readdir(d)) {
      if (strcasecmp(e->d_name, "hiberfil.sys") == 0) {
        name = e->d_name;
        break;
      }
    }
    closedir(d);
  }
  if (name.empty()) return Hibernation::None;
  std::string path = root + "/" + name;
  struct stat st;
  if (lstat(path.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return Hibernation::None;
  if (!S_ISREG(st.st_mode)) {
    *detail = name + " is not a regular file";
    return Hibernation::Unreadable;
  }
  int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  char magic[4] = {};
  ssize_t n = fd < 0 ? -1 : pread(fd, magic, sizeof magic, 0);
  int saved = errno;
  if (fd >= 0) close(fd);
  if (n < 0) {
    *detail = name + " cannot be read (" + std::strerror(saved) + ")";
    return Hibernation::Unreadable;
  }
  if (n < 4) return Hibernation::None;
  std::string lower;
  for (char c : magic) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (lower == "hibr" || lower == "rstr") {
    *detail = name + " begins with \"" + std::string(magic, 4) + "\"";
    return Hibernation::InUse;
  }
  return Hibernation::None;
}

bool RefuseIfHibernated(const std::string& root, std::string* error) {
  std::string detail;
  switch (CheckHibernation(root, &detail)) {
    case Hibernation::None:
      return true;
    case Hibernation::InUse:
      *error = "this Windows is hibernated or was shut down with Fast Startup (" + detail +
               "): it would resume from memory and write over every change, so only --action report "
               "runs. Start Windows and shut it down fully (Shift with Shut down, or shutdown /s /t 0), "
               "or turn off Fast Startup, then run again.";
      return false;
    default:
      *error = "cannot tell whether this Windows is hibernated (" + detail +
               "), so only --action report runs. Start Windows and shut it down fully, or turn off "
               "Fast Startup, then run again.";
      return false;
  }
}
