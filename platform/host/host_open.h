// The checks the emulated file calls make on a host file around opening
// it: only a regular file is opened, a file with other hard links is never
// opened for writing, and the descriptor's own status is checked again,
// since the entry may have been replaced after it was resolved.
#pragma once

#include <sys/stat.h>

#include <string>

namespace host {

// True when an entry with status `st` may be opened: a regular file, and
// for a write one with no other name (the other names would change too).
bool MayOpen(const struct stat& st, bool writes);

// Opens `name` of the directory open as `dirFd` with `flags`, never through
// a link (ELOOP) and never waiting on a FIFO; a new file gets mode 0644.
int OpenEntry(int dirFd, const std::string& name, int flags);

// Takes the status of the opened descriptor into *st and checks it as
// MayOpen does; when that fails the descriptor is closed, errno is EACCES.
bool CheckOpened(int fd, bool writes, struct stat* st);

}  // namespace host
