// Emulated drives and Windows path rules: drive letters mapped to host
// directories, backslash paths, lookup that ignores letter case, and the
// attribute table that stands for the file system's attribute bits.
#include "platform/emu/fs.h"

#include <dirent.h>
#include <errno.h>
#include <strings.h>

#include <cctype>
#include <cstring>
#include <unordered_map>
#include <vector>

#include "platform/emu/machine.h"

namespace emu {
namespace {

Drive drives[26];
std::unordered_map<std::string, DWORD> storedAttributes;

constexpr DWORD SettableAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                                     FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                                     FILE_ATTRIBUTE_TEMPORARY;

void ResetFileSystem() {
  for (auto& d : drives) d = Drive{};
  storedAttributes.clear();
}
ResetHook fsHook(ResetFileSystem);

// Splits "C:\a\b" into its components below the root; "." is dropped and
// ".." goes one level up (never above the root).
bool SplitComponents(const char* path, std::vector<std::string>* parts, DWORD* error) {
  const char* p = path + 2;
  if (*p != '\\' && *p != '/' && *p != 0) {  // "C:name" (relative to a drive's cwd)
    *error = ERROR_PATH_NOT_FOUND;
    return false;
  }
  while (*p) {
    while (*p == '\\' || *p == '/') ++p;
    const char* start = p;
    while (*p && *p != '\\' && *p != '/') ++p;
    std::string part(start, p - start);
    if (part.empty() || part == ".") continue;
    if (part == "..") {
      if (!parts->empty()) parts->pop_back();
      continue;
    }
    if (!IsWindowsName(part.c_str())) {
      *error = ERROR_INVALID_NAME;
      return false;
    }
    parts->push_back(part);
  }
  return true;
}

// Finds the entry of host directory `dir` named `name` ignoring case.
bool FindIgnoringCase(const std::string& dir, const std::string& name, std::string* found) {
  DIR* d = opendir(dir.c_str());
  if (!d) return false;
  bool ok = false;
  while (dirent* e = readdir(d)) {
    if (strcasecmp(e->d_name, name.c_str()) == 0) {
      *found = e->d_name;
      ok = true;
      break;
    }
  }
  closedir(d);
  return ok;
}

bool Exists(const std::string& host) {
  struct stat st;
  return lstat(host.c_str(), &st) == 0;
}

bool IsDirectory(const std::string& host) {
  struct stat st;
  return stat(host.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Resolves parts[0..count) below the drive's host directory.
bool ResolveParts(const Drive& drive, const std::vector<std::string>& parts, size_t count,
                  std::string* host, DWORD* error) {
  std::string exact = drive.host;
  for (size_t i = 0; i < count; ++i) exact += "/" + parts[i];
  if (Exists(exact)) {
    *host = exact;
    return true;
  }
  std::string current = drive.host;
  for (size_t i = 0; i < count; ++i) {
    std::string next = current + "/" + parts[i];
    if (!Exists(next)) {
      std::string found;
      if (!IsDirectory(current) || !FindIgnoringCase(current, parts[i], &found)) {
        *error = i + 1 == count ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
        return false;
      }
      next = current + "/" + found;
    }
    if (i + 1 < count && !IsDirectory(next)) {
      *error = ERROR_PATH_NOT_FOUND;
      return false;
    }
    current = next;
  }
  *host = current;
  return true;
}

}  // namespace

const Drive* DriveOf(const char* path) {
  if (!path || !std::isalpha(static_cast<unsigned char>(path[0])) || path[1] != ':') return nullptr;
  const Drive& d = drives[std::toupper(static_cast<unsigned char>(path[0])) - 'A'];
  return d.host.empty() ? nullptr : &d;
}

bool IsWindowsName(const char* name) {
  if (!*name) return false;
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(name); *p; ++p) {
    if (*p < 32 || std::strchr("\\/:*?\"<>|", *p)) return false;
  }
  return true;
}

bool ResolvePath(const char* path, std::string* host, DWORD* error, bool* isRoot) {
  if (path && std::strlen(path) >= MAX_PATH) {
    *error = ERROR_FILENAME_EXCED_RANGE;
    return false;
  }
  const Drive* drive = DriveOf(path);
  if (!drive) {
    *error = ERROR_PATH_NOT_FOUND;
    return false;
  }
  std::vector<std::string> parts;
  if (!SplitComponents(path, &parts, error)) return false;
  if (isRoot) *isRoot = parts.empty();
  return ResolveParts(*drive, parts, parts.size(), host, error);
}

bool ResolveForCreate(const char* path, std::string* host, DWORD* error) {
  if (path && std::strlen(path) >= MAX_PATH) {
    *error = ERROR_FILENAME_EXCED_RANGE;
    return false;
  }
  const Drive* drive = DriveOf(path);
  if (!drive) {
    *error = ERROR_PATH_NOT_FOUND;
    return false;
  }
  std::vector<std::string> parts;
  if (!SplitComponents(path, &parts, error)) return false;
  if (parts.empty()) {
    *error = ERROR_ACCESS_DENIED;  // the root itself
    return false;
  }
  std::string parent;
  if (!ResolveParts(*drive, parts, parts.size() - 1, &parent, error)) {
    *error = ERROR_PATH_NOT_FOUND;
    return false;
  }
  if (!IsDirectory(parent)) {
    *error = ERROR_PATH_NOT_FOUND;
    return false;
  }
  std::string name = parts.back(), found;
  if (!Exists(parent + "/" + name) && FindIgnoringCase(parent, name, &found)) name = found;
  *host = parent + "/" + name;
  return true;
}

DWORD AttributesOf(const std::string& host, const struct stat& st) {
  DWORD a = 0;
  if (S_ISLNK(st.st_mode)) {
    a |= FILE_ATTRIBUTE_REPARSE_POINT;
    if (IsDirectory(host)) a |= FILE_ATTRIBUTE_DIRECTORY;
  } else if (S_ISDIR(st.st_mode)) {
    a |= FILE_ATTRIBUTE_DIRECTORY;
  }
  DWORD stored;
  if (StoredAttributes(host, &stored)) {
    a |= stored;
  } else if (!(a & FILE_ATTRIBUTE_DIRECTORY)) {
    a |= FILE_ATTRIBUTE_ARCHIVE;  // a file the scan has not touched
  }
  return a ? a : FILE_ATTRIBUTE_NORMAL;
}

bool StoredAttributes(const std::string& host, DWORD* attributes) {
  auto it = storedAttributes.find(host);
  if (it == storedAttributes.end()) return false;
  *attributes = it->second;
  return true;
}

void StoreAttributes(const std::string& host, DWORD attributes) {
  storedAttributes[host] = attributes & SettableAttributes;
}

void ForgetAttributes(const std::string& host) { storedAttributes.erase(host); }

void MoveAttributes(const std::string& from, const std::string& to) {
  auto it = storedAttributes.find(from);
  storedAttributes.erase(to);
  if (it == storedAttributes.end()) return;
  DWORD a = it->second;
  storedAttributes.erase(it);
  storedAttributes[to] = a;
}

int ErrnoFromError(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
      return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_WRITE_PROTECT:
      return EACCES;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      return EEXIST;
    case ERROR_FILENAME_EXCED_RANGE:
      return ENAMETOOLONG;
    case ERROR_NOT_ENOUGH_MEMORY:
      return ENOMEM;
    default:
      return EINVAL;
  }
}

DWORD ErrorFromErrno(int error) {
  switch (error) {
    case ENOENT:
      return ERROR_FILE_NOT_FOUND;
    case ENOTDIR:
      return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
      return ERROR_ACCESS_DENIED;
    case EEXIST:
      return ERROR_ALREADY_EXISTS;
    case ENOTEMPTY:
      return ERROR_DIR_NOT_EMPTY;
    case ENAMETOOLONG:
      return ERROR_FILENAME_EXCED_RANGE;
    default:
      return ERROR_INVALID_PARAMETER;
  }
}

bool FaultFor(const char* op, const char* path) {
  CountCall(op);
  DWORD error;
  if (!ShouldFail(op, path, &error)) return false;
  SetLastError(error);
  errno = ErrnoFromError(error);
  return true;
}

// ---- control API ----

void MapDrive(char letter, const std::string& hostDir, UINT type) {
  std::string dir = hostDir;
  while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  drives[std::toupper(static_cast<unsigned char>(letter)) - 'A'] = Drive{dir, type};
}

std::string HostPath(const std::string& windowsPath) {
  std::string host;
  DWORD error;
  return ResolvePath(windowsPath.c_str(), &host, &error) ? host : std::string();
}

std::string HostPathForCreate(const std::string& windowsPath) {
  std::string host;
  DWORD error;
  return ResolveForCreate(windowsPath.c_str(), &host, &error) ? host : std::string();
}

DWORD Attributes(const std::string& windowsPath) {
  std::string host = HostPath(windowsPath);
  struct stat st;
  if (host.empty() || lstat(host.c_str(), &st) != 0) return INVALID_FILE_ATTRIBUTES;
  return AttributesOf(host, st);
}

void SetAttributes(const std::string& windowsPath, DWORD attributes) {
  std::string host = HostPath(windowsPath);
  if (!host.empty()) StoreAttributes(host, attributes);
}

}  // namespace emu
