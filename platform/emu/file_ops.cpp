// Emulated Win32 file operations: drive types, attributes, delete, rename
// and copy, with the Windows rules a cleaner meets (read-only files refuse
// deletion, a rename never replaces an existing file). Each acts on the
// entry itself, relative to its directory: deleting or renaming a link
// acts on the link, and nothing is written on a read-only drive.
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <vector>

#include "platform/emu/fs.h"
#include "platform/emu/host_changes.h"
#include "platform/emu/machine.h"

using namespace emu;

namespace {

bool Fail(DWORD error) {
  SetLastError(error);
  return false;
}

}  // namespace

UINT WINAPI GetDriveTypeA(LPCSTR root) {
  CountCall("GetDriveTypeA");
  if (!root || !std::isalpha(static_cast<unsigned char>(root[0])) || root[1] != ':') {
    return DRIVE_NO_ROOT_DIR;
  }
  if (root[2] != 0 && !((root[2] == '\\' || root[2] == '/') && root[3] == 0)) {
    return DRIVE_NO_ROOT_DIR;  // not a root
  }
  const Drive* d = DriveOf(root);
  return d ? d->type : DRIVE_NO_ROOT_DIR;
}

DWORD WINAPI GetFileAttributesA(LPCSTR path) {
  if (FaultFor("GetFileAttributesA", path)) return INVALID_FILE_ATTRIBUTES;
  HostEntry e;
  DWORD error;
  if (!Resolve(path, &e, &error)) {
    SetLastError(error);
    return INVALID_FILE_ATTRIBUTES;
  }
  return AttributesOf(e.host, e.st);
}

BOOL WINAPI SetFileAttributesA(LPCSTR path, DWORD attributes) {
  if (FaultFor("SetFileAttributesA", path)) return FALSE;
  HostEntry e;
  DWORD error;
  if (!Resolve(path, &e, &error)) return Fail(error);
  // Attributes an NTFS volume keeps itself are a change of the file.
  if (S_ISREG(e.st.st_mode) && WritesNtfsAttributes(e.host) &&
      !BeforeHostChange(HostChange::Attributes, e.host, path)) {
    return Fail(ERROR_ACCESS_DENIED);
  }
  StoreAttributes(e.host, attributes, (AttributesOf(e.host, e.st) & FILE_ATTRIBUTE_DIRECTORY) != 0);
  return TRUE;
}

BOOL WINAPI DeleteFileA(LPCSTR path) {
  if (FaultFor("DeleteFileA", path)) return FALSE;
  HostEntry e;
  DWORD error;
  if (!Resolve(path, &e, &error)) return Fail(error);
  const bool link = e.IsLink();
  DWORD a = AttributesOf(e.host, e.st);
  if (e.isRoot || (!link && (a & FILE_ATTRIBUTE_DIRECTORY)) || (a & FILE_ATTRIBUTE_READONLY)) {
    return Fail(ERROR_ACCESS_DENIED);
  }
  // The image of a running process cannot be deleted (error 5, as on Windows).
  if (IsImageRunning(path)) return Fail(ERROR_ACCESS_DENIED);
  if (WriteProtected(e)) return Fail(ERROR_WRITE_PROTECT);
  if (!BeforeHostChange(HostChange::Delete, e.host, path)) return Fail(ERROR_ACCESS_DENIED);
  HostNamesChanged();
  if (unlinkat(e.dir->fd, e.name.c_str(), 0) != 0) return Fail(ErrorFromErrno(errno));
  ForgetAttributes(e.host);
  if (link) Note(FileNote::LinkRemoved, path, "only the link, nothing it points to");
  return TRUE;
}

BOOL WINAPI MoveFileA(LPCSTR from, LPCSTR to) {
  if (FaultFor("MoveFileA", from)) return FALSE;
  HostEntry source, target;
  DWORD error;
  if (!Resolve(from, &source, &error)) return Fail(error);
  if (!Resolve(to, &target, &error, true)) return Fail(error);
  if (source.isRoot) return Fail(ERROR_ACCESS_DENIED);
  if (target.exists && target.host != source.host) return Fail(ERROR_ALREADY_EXISTS);
  if (WriteProtected(source) || WriteProtected(target)) return Fail(ERROR_WRITE_PROTECT);
  if (!BeforeHostChange(HostChange::Rename, source.host, from, target.host)) return Fail(ERROR_ACCESS_DENIED);
  HostNamesChanged();
  if (renameat(source.dir->fd, source.name.c_str(), target.dir->fd, target.name.c_str()) != 0) {
    return Fail(ErrorFromErrno(errno));
  }
  MoveAttributes(source.host, target.host);
  return TRUE;
}

BOOL WINAPI CopyFileA(LPCSTR from, LPCSTR to, BOOL failIfExists) {
  if (FaultFor("CopyFileA", from)) return FALSE;
  HostEntry source, target;
  DWORD error;
  if (!Resolve(from, &source, &error)) return Fail(error);
  if (!Resolve(to, &target, &error, true)) return Fail(error);
  if (RefusedWininitRead(source) || RefusedWininitWrite(target)) return Fail(ERROR_WRITE_PROTECT);
  if (!S_ISREG(source.st.st_mode)) return Fail(ERROR_ACCESS_DENIED);
  if (target.exists && failIfExists) return Fail(ERROR_FILE_EXISTS);
  // Only a regular file of one name is replaced: never a link, nor a file
  // whose other names would change with it.
  if (target.exists && (!S_ISREG(target.st.st_mode) || target.st.st_nlink > 1 ||
                        (AttributesOf(target.host, target.st) & FILE_ATTRIBUTE_READONLY))) {
    return Fail(ERROR_ACCESS_DENIED);
  }
  if (WriteProtected(target)) return Fail(ERROR_WRITE_PROTECT);
  if (!BeforeHostChange(HostChange::Write, target.host, to)) return Fail(ERROR_ACCESS_DENIED);
  int in = openat(source.dir->fd, source.name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (in < 0) return Fail(ErrorFromErrno(errno));
  struct stat st;
  if (fstat(in, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(in);
    return Fail(ERROR_ACCESS_DENIED);
  }
  HostFilesChanged();
  int out = openat(target.dir->fd, target.name.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC,
                   0644);
  if (out < 0) {
    close(in);
    return Fail(errno == ELOOP ? ERROR_ACCESS_DENIED : ErrorFromErrno(errno));
  }
  if (fstat(out, &st) != 0 || !S_ISREG(st.st_mode) || st.st_nlink > 1 || ftruncate(out, 0) != 0) {
    close(in);
    close(out);
    return Fail(ERROR_ACCESS_DENIED);
  }
  std::vector<char> buffer(1 << 16);
  bool ok = true;
  for (;;) {
    ssize_t n = read(in, buffer.data(), buffer.size());
    if (n == 0) break;
    if (n < 0 || write(out, buffer.data(), n) != n) {
      ok = false;
      break;
    }
  }
  close(in);
  if (close(out) != 0) ok = false;
  if (!ok) return Fail(ERROR_ACCESS_DENIED);
  DWORD a;
  if (StoredAttributes(source.host, &a)) StoreAttributes(target.host, a, false);
  return TRUE;
}
