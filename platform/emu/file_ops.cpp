// Emulated Win32 file operations: drive types, attributes, delete, rename
// and copy, with the Windows rules a cleaner meets (read-only files refuse
// deletion, a rename never replaces an existing file).
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <vector>

#include "platform/emu/fs.h"
#include "platform/emu/machine.h"

using namespace emu;

namespace {

DWORD AttributesOfHost(const std::string& host) {
  struct stat st;
  if (lstat(host.c_str(), &st) != 0) return INVALID_FILE_ATTRIBUTES;
  return AttributesOf(host, st);
}

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
  std::string host;
  DWORD error;
  struct stat st;
  if (!ResolvePath(path, &host, &error, nullptr, &st)) {
    SetLastError(error);
    return INVALID_FILE_ATTRIBUTES;
  }
  return AttributesOf(host, st);
}

BOOL WINAPI SetFileAttributesA(LPCSTR path, DWORD attributes) {
  if (FaultFor("SetFileAttributesA", path)) return FALSE;
  std::string host;
  DWORD error;
  struct stat st;
  if (!ResolvePath(path, &host, &error, nullptr, &st)) return Fail(error);
  StoreAttributes(host, attributes, (AttributesOf(host, st) & FILE_ATTRIBUTE_DIRECTORY) != 0);
  return TRUE;
}

BOOL WINAPI DeleteFileA(LPCSTR path) {
  if (FaultFor("DeleteFileA", path)) return FALSE;
  std::string host;
  DWORD error;
  if (!ResolvePath(path, &host, &error)) return Fail(error);
  DWORD a = AttributesOfHost(host);
  if (a == INVALID_FILE_ATTRIBUTES) return Fail(ERROR_FILE_NOT_FOUND);
  if (a & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) return Fail(ERROR_ACCESS_DENIED);
  // The image of a running process cannot be deleted (error 5, as on Windows).
  if (IsImageRunning(path)) return Fail(ERROR_ACCESS_DENIED);
  HostFilesChanged();
  if (unlink(host.c_str()) != 0) return Fail(ErrorFromErrno(errno));
  ForgetAttributes(host);
  return TRUE;
}

BOOL WINAPI MoveFileA(LPCSTR from, LPCSTR to) {
  if (FaultFor("MoveFileA", from)) return FALSE;
  std::string hostFrom, hostTo;
  DWORD error;
  if (!ResolvePath(from, &hostFrom, &error)) return Fail(error);
  if (!ResolveForCreate(to, &hostTo, &error)) return Fail(error);
  struct stat st;
  if (hostTo != hostFrom && lstat(hostTo.c_str(), &st) == 0) return Fail(ERROR_ALREADY_EXISTS);
  HostFilesChanged();
  if (rename(hostFrom.c_str(), hostTo.c_str()) != 0) return Fail(ErrorFromErrno(errno));
  MoveAttributes(hostFrom, hostTo);
  return TRUE;
}

BOOL WINAPI CopyFileA(LPCSTR from, LPCSTR to, BOOL failIfExists) {
  if (FaultFor("CopyFileA", from)) return FALSE;
  std::string hostFrom, hostTo;
  DWORD error;
  if (!ResolvePath(from, &hostFrom, &error)) return Fail(error);
  if (!ResolveForCreate(to, &hostTo, &error)) return Fail(error);
  struct stat st;
  bool exists = lstat(hostTo.c_str(), &st) == 0;
  if (exists && failIfExists) return Fail(ERROR_FILE_EXISTS);
  if (exists && (AttributesOfHost(hostTo) & FILE_ATTRIBUTE_READONLY)) return Fail(ERROR_ACCESS_DENIED);
  int in = open(hostFrom.c_str(), O_RDONLY);
  if (in < 0) return Fail(ErrorFromErrno(errno));
  HostFilesChanged();
  int out = open(hostTo.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (out < 0) {
    close(in);
    return Fail(ErrorFromErrno(errno));
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
  if (StoredAttributes(hostFrom, &a)) StoreAttributes(hostTo, a, false);
  return TRUE;
}
