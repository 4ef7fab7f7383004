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
  ForgetEntry();
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

struct Entry {
  std::string host;
  struct stat st;
  uint64_t generation = 0;
  bool valid = false;
} lastEntry;
uint64_t hostGeneration = 1;
uint64_t entryEpoch = 1;

bool RememberedEntry(const std::string& host, struct stat* st) {
  if (!lastEntry.valid || lastEntry.generation != hostGeneration || lastEntry.host != host) return false;
  *st = lastEntry.st;
  return true;
}

// The host path of a Windows path whose components are all plain names
// (no ".", "..", empty or invalid ones): the drive's directory, then each
// component after a "/". *simple is false for any other path.
std::string SimpleHostPath(const Drive& drive, const char* path, bool* simple) {
  *simple = false;
  const char* p = path + 2;
  if (*p != '\\' && *p != '/' && *p != 0) return std::string();
  // 0: a character of a name, 1: a separator or the end, 2: not allowed.
  static const struct Classes {
    uint8_t of[256];
    Classes() {
      for (int c = 0; c < 256; ++c) of[c] = c < 32 || std::strchr(":*?\"<>|", c) ? 2 : 0;
      of[0] = of[static_cast<unsigned char>('\\')] = of[static_cast<unsigned char>('/')] = 1;
    }
  } classes;
  std::string host;
  host.reserve(drive.host.size() + std::strlen(p) + 1);
  host = drive.host;
  while (*p) {
    ++p;  // the separator
    const char* start = p;
    uint8_t kind;
    while ((kind = classes.of[static_cast<unsigned char>(*p)]) == 0) ++p;
    if (kind == 2) return std::string();
    size_t n = static_cast<size_t>(p - start);
    if (n == 0) {
      if (*p == 0 && start == path + 3) break;  // the root, "C:\\"
      return std::string();
    }
    if (start[0] == '.' && (n == 1 || (n == 2 && start[1] == '.'))) return std::string();
    host += '/';
    host.append(start, n);
  }
  *simple = true;
  return host;
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

bool ResolvePath(const char* path, std::string* host, DWORD* error, bool* isRoot,
                 struct stat* status) {
  if (path && std::strlen(path) >= MAX_PATH) {
    *error = ERROR_FILENAME_EXCED_RANGE;
    return false;
  }
  const Drive* drive = DriveOf(path);
  if (!drive) {
    *error = ERROR_PATH_NOT_FOUND;
    return false;
  }
  // Most paths come from a search and are spelled as on the host: try that
  // spelling with one lstat before splitting the path into its parts.
  bool simple;
  std::string exact = SimpleHostPath(*drive, path, &simple);
  if (simple) {
    struct stat st;
    if (RememberedEntry(exact, &st) || lstat(exact.c_str(), &st) == 0) {
      if (isRoot) *isRoot = exact.size() == drive->host.size();
      if (status) *status = st;
      *host = std::move(exact);
      return true;
    }
  }
  std::vector<std::string> parts;
  if (!SplitComponents(path, &parts, error)) return false;
  if (isRoot) *isRoot = parts.empty();
  if (!ResolveParts(*drive, parts, parts.size(), host, error)) return false;
  if (status && lstat(host->c_str(), status) != 0) {
    *error = ERROR_FILE_NOT_FOUND;
    return false;
  }
  return true;
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

void StoreAttributes(const std::string& host, DWORD attributes, bool isDirectory) {
  DWORD kept = attributes & SettableAttributes;
  DWORD untouched = isDirectory ? 0 : FILE_ATTRIBUTE_ARCHIVE;
  if (kept == untouched) {
    storedAttributes.erase(host);
  } else {
    storedAttributes[host] = kept;
  }
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

void HostFilesChanged() { ++hostGeneration; }
uint64_t HostGeneration() { return hostGeneration; }

void RememberEntry(const std::string& host, const struct stat& st) {
  lastEntry.host = host;
  lastEntry.st = st;
  lastEntry.generation = hostGeneration;
  lastEntry.valid = true;
  ++entryEpoch;
}

void ForgetEntry() {
  lastEntry.valid = false;
  ++entryEpoch;
}

uint64_t EntryEpoch() { return entryEpoch; }

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
  std::string host;
  DWORD error;
  struct stat st;
  if (ResolvePath(windowsPath.c_str(), &host, &error, nullptr, &st)) {
    StoreAttributes(host, attributes, (AttributesOf(host, st) & FILE_ATTRIBUTE_DIRECTORY) != 0);
  }
}

}  // namespace emu
