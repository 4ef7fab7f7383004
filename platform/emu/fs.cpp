// Emulated drives and Windows path rules: drive letters mapped to host
// directories, backslash paths, lookup that ignores letter case, and the
// attribute table that stands for the file system's attribute bits.
//
// Paths are resolved from an O_PATH descriptor of each drive's host
// directory, one component at a time with O_NOFOLLOW, so no link in any
// part of a path is followed. Resolved directories are kept by their
// Windows spelling (the walk resolves many files of one directory in a
// row, and a new directory is one component below a known one): a file
// then costs one fstatat relative to its directory.
#include "platform/emu/fs.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <strings.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cctype>
#include <cstring>
#include <set>
#include <unordered_map>
#include <vector>

#include "platform/emu/host_changes.h"
#include "platform/emu/machine.h"
#include "platform/host/host_files.h"
#include "platform/host/read_ahead.h"

namespace emu {

HostDir::~HostDir() {
  if (fd >= 0) close(fd);
}

namespace {

Drive drives[26];
DirRef driveRoots[26];
std::unordered_map<std::string, DWORD> storedAttributes;
// Resolved directories by Windows spelling: "C:" for a root, "C:\a\b".
std::unordered_map<std::string, DirRef> directories;
// The one of them a path took last.
struct {
  std::string key;
  DirRef dir;
} recentDirectory;

void ForgetDirectories() {
  directories.clear();
  recentDirectory.dir.reset();
}
constexpr size_t DirectoryCacheLimit = 256;

std::function<void(FileNote, const std::string&, const std::string&)> noteHook;
std::set<std::pair<int, std::string>> noted;
int noteCounts[3];
std::string lastShortPathRequest;

constexpr DWORD SettableAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                                     FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                                     FILE_ATTRIBUTE_TEMPORARY;

struct Entry {
  std::string host;
  struct stat st;
  uint64_t generation = 0;
  bool valid = false;
} lastEntry;
uint64_t hostGeneration = 1;
uint64_t entryEpoch = 1;

// The last Windows path resolved to the entry a search has just returned:
// the scanners ask for the same path several times (attributes, then an
// open per row) while the walk stays at the entry.
struct ResolvedEntry {
  std::string path;
  HostEntry entry;
  uint64_t generation = 0, epoch = 0;
} lastResolved;

void ResetFileSystem() {
  for (auto& d : drives) d = Drive{};
  for (auto& r : driveRoots) r.reset();
  ForgetDirectories();
  storedAttributes.clear();
  lastResolved = ResolvedEntry();
  noteHook = nullptr;
  noted.clear();
  for (int& c : noteCounts) c = 0;
  lastShortPathRequest.clear();
  ForgetEntry();
}
ResetHook fsHook(ResetFileSystem);
// The host's read-ahead holds descriptors and a listing of the old drives.
ResetHook readAheadHook(::host::ResetReadAhead);

int DriveIndex(const char* path) { return std::toupper(static_cast<unsigned char>(path[0])) - 'A'; }

bool RememberedEntry(const std::string& host, struct stat* st) {
  if (!lastEntry.valid || lastEntry.generation != hostGeneration || lastEntry.host != host) return false;
  *st = lastEntry.st;
  return true;
}

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

// For a path whose separators are single backslashes and whose components
// are all plain names (as the walk builds them), the length of its
// directory part ("C:\a" of "C:\a\b.exe"; 2 for a file at the root);
// 0 for any other path, which then goes through SplitComponents.
size_t SimpleDirectoryLength(const char* path) {
  // 0: a character of a name, 1: a backslash or the end, 2: anything else.
  static const struct Classes {
    uint8_t of[256];
    Classes() {
      for (int c = 0; c < 256; ++c) of[c] = c < 32 || std::strchr(":*?\"<>|/", c) ? 2 : 0;
      of[0] = of[static_cast<unsigned char>('\\')] = 1;
    }
  } classes;
  const char* p = path + 2;
  if (*p != '\\') return 0;
  const char* lastSeparator = p;
  while (*p) {
    lastSeparator = p++;
    const char* start = p;
    uint8_t kind;
    while ((kind = classes.of[static_cast<unsigned char>(*p)]) == 0) ++p;
    if (kind == 2) return 0;
    size_t n = static_cast<size_t>(p - start);
    if (n == 0) return 0;  // an empty component, or the root itself
    if (start[0] == '.' && (n == 1 || (n == 2 && start[1] == '.'))) return 0;
  }
  return static_cast<size_t>(lastSeparator - path);
}

// The host name in directory `dir` spelled `name` ignoring case.
bool FindIgnoringCase(const HostDir& dir, const std::string& name, std::string* found) {
  int fd = openat(dir.fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  DIR* d = fdopendir(fd);
  if (!d) {
    close(fd);
    return false;
  }
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

// Opens directory `name` of `parent` without following a link.
DirRef OpenChild(const HostDir& parent, const std::string& name) {
  int fd = host::OpenChildDirectory(parent.fd, name);
  if (fd < 0) return nullptr;
  return std::make_shared<const HostDir>(fd, parent.host + "/" + name);
}

DirRef DriveRoot(int index) {
  if (driveRoots[index]) return driveRoots[index];
  // The drive's own directory is the user's choice: it may be given
  // through a link.
  int fd = host::OpenRoot(drives[index].host);
  if (fd < 0) return nullptr;
  driveRoots[index] = std::make_shared<const HostDir>(fd, drives[index].host);
  return driveRoots[index];
}

void Keep(const std::string& key, const DirRef& dir) {
  if (directories.size() >= DirectoryCacheLimit) ForgetDirectories();
  directories.emplace(key, dir);
}

// The directory of parts[0..count) on drive `index`, from the nearest known
// directory above it.
DirRef DirectoryOf(int index, const std::vector<std::string>& parts, size_t count, DWORD* error) {
  std::vector<std::string> keys(count + 1);
  keys[0] = std::string(1, static_cast<char>('A' + index)) + ":";
  for (size_t i = 0; i < count; ++i) keys[i + 1] = keys[i] + "\\" + parts[i];
  size_t known = count;
  DirRef dir;
  for (;; --known) {
    auto it = directories.find(keys[known]);
    if (it != directories.end()) {
      dir = it->second;
      break;
    }
    if (known == 0) {
      dir = DriveRoot(index);
      if (!dir) {
        *error = ERROR_PATH_NOT_FOUND;
        return nullptr;
      }
      Keep(keys[0], dir);
      break;
    }
  }
  for (size_t i = known; i < count; ++i) {
    DirRef next = OpenChild(*dir, parts[i]);
    std::string found;
    if (!next && errno == ENOENT && FindIgnoringCase(*dir, parts[i], &found)) next = OpenChild(*dir, found);
    if (!next) {
      *error = ERROR_PATH_NOT_FOUND;
      return nullptr;
    }
    dir = next;
    Keep(keys[i + 1], dir);
  }
  return dir;
}

// Looks entry `name` up in `dir`: exact spelling, then ignoring case.
bool LookUp(const DirRef& dir, const char* name, HostEntry* entry) {
  entry->dir = dir;
  entry->name = name;
  entry->host.assign(dir->host).append(1, '/').append(name);
  if (RememberedEntry(entry->host, &entry->st) ||
      fstatat(dir->fd, name, &entry->st, AT_SYMLINK_NOFOLLOW) == 0) {
    entry->exists = true;
    return true;
  }
  std::string found;
  if (errno == ENOENT && FindIgnoringCase(*dir, name, &found) &&
      fstatat(dir->fd, found.c_str(), &entry->st, AT_SYMLINK_NOFOLLOW) == 0) {
    entry->name = found;
    entry->host.assign(dir->host).append(1, '/').append(found);
    entry->exists = true;
    return true;
  }
  entry->exists = false;
  return false;
}

bool CheckedDrive(const char* path, int* index, DWORD* error) {
  if (path && std::strlen(path) >= MAX_PATH) {
    *error = ERROR_FILENAME_EXCED_RANGE;
    return false;
  }
  if (!DriveOf(path)) {
    *error = ERROR_PATH_NOT_FOUND;
    return false;
  }
  *index = DriveIndex(path);
  return true;
}

}  // namespace

const Drive* DriveOf(const char* path) {
  if (!path || !std::isalpha(static_cast<unsigned char>(path[0])) || path[1] != ':') return nullptr;
  const Drive& d = drives[DriveIndex(path)];
  return d.host.empty() ? nullptr : &d;
}

bool IsWindowsName(const char* name) {
  if (!*name) return false;
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(name); *p; ++p) {
    if (*p < 32 || std::strchr("\\/:*?\"<>|", *p)) return false;
  }
  return true;
}

bool Resolve(const char* path, HostEntry* entry, DWORD* error, bool mayBeMissing) {
  int index;
  if (!CheckedDrive(path, &index, error)) return false;
  // Most paths come from the walk: the directory is then known by its
  // spelling and the entry is one fstatat away.
  if (lastResolved.generation == hostGeneration && lastResolved.epoch == entryEpoch &&
      lastResolved.path == path) {
    *entry = lastResolved.entry;
    return true;
  }
  if (size_t dirLength = SimpleDirectoryLength(path)) {
    // The directory of the last such path first: the walk opens many
    // files of one directory in a row.
    static std::string key;
    key.assign(path, dirLength);
    key[0] = static_cast<char>('A' + index);
    const DirRef* dir = nullptr;
    if (recentDirectory.dir && key == recentDirectory.key) {
      dir = &recentDirectory.dir;
    } else if (auto it = directories.find(key); it != directories.end()) {
      recentDirectory.key = key;
      recentDirectory.dir = it->second;
      dir = &recentDirectory.dir;
    }
    if (dir) {
      entry->isRoot = false;
      if (LookUp(*dir, path + dirLength + 1, entry)) {
        if (lastEntry.valid && lastEntry.generation == hostGeneration && lastEntry.host == entry->host) {
          lastResolved.path = path;
          lastResolved.entry = *entry;
          lastResolved.generation = hostGeneration;
          lastResolved.epoch = entryEpoch;
        }
        return true;
      }
      if (mayBeMissing) return true;
      *error = ERROR_FILE_NOT_FOUND;
      return false;
    }
  }
  std::vector<std::string> parts;
  if (!SplitComponents(path, &parts, error)) return false;
  entry->isRoot = parts.empty();
  if (parts.empty()) {
    if (mayBeMissing) {
      *error = ERROR_ACCESS_DENIED;  // the root itself cannot be made or replaced
      return false;
    }
    entry->dir = DirectoryOf(index, parts, 0, error);
    if (!entry->dir) return false;
    entry->name = ".";
    entry->host = entry->dir->host;
    entry->exists = fstat(entry->dir->fd, &entry->st) == 0;
    if (!entry->exists) *error = ERROR_PATH_NOT_FOUND;
    return entry->exists;
  }
  DirRef dir = DirectoryOf(index, parts, parts.size() - 1, error);
  if (!dir) return false;
  if (LookUp(dir, parts.back().c_str(), entry) || mayBeMissing) return true;
  *error = ERROR_FILE_NOT_FOUND;
  return false;
}

const HostEntry* ResolveKept(const char* path, HostEntry* scratch, DWORD* error) {
  if (path && lastResolved.generation == hostGeneration && lastResolved.epoch == entryEpoch &&
      lastResolved.path == path && DriveOf(path)) {
    return &lastResolved.entry;
  }
  return Resolve(path, scratch, error) ? scratch : nullptr;
}

DirRef ResolveDirectory(const char* path, DWORD* error, bool* isRoot) {
  int index;
  if (!CheckedDrive(path, &index, error)) return nullptr;
  std::vector<std::string> parts;
  if (!SplitComponents(path, &parts, error)) return nullptr;
  *isRoot = parts.empty();
  return DirectoryOf(index, parts, parts.size(), error);
}

bool WriteProtected(const HostEntry& entry) {
  if (!entry.dir) return true;
  for (const Drive& d : drives) {
    if (d.readOnly && (entry.host == d.host || entry.host.compare(0, d.host.size() + 1, d.host + "/") == 0)) {
      return true;
    }
  }
  struct statvfs sv;
  return fstatvfs(entry.dir->fd, &sv) == 0 && (sv.f_flag & ST_RDONLY) != 0;
}

bool RefusedWininitWrite(const HostEntry& target) {
  if (strcasecmp(target.name.c_str(), "wininit.ini") != 0) return false;
  HostEntry file;
  DWORD error;
  const std::string& path = LastShortPathRequest();
  const bool found = !path.empty() && Resolve(path.c_str(), &file, &error);
  if (RefusedWininitRead(target)) return true;
  if ((found && WriteProtected(file)) || WriteProtected(target)) {
    Note(FileNote::NotScheduled, path, "drive is read-only");
    return true;
  }
  if (found && file.exists && !BeforeHostChange(HostChange::RemoveAtRestart, file.host, path)) {
    Note(FileNote::NotScheduled, path, "refused: no copy of it could be kept");
    return true;
  }
  return false;
}

bool RefusedWininitRead(const HostEntry& source) {
  if (strcasecmp(source.name.c_str(), "wininit.ini") != 0 || !source.exists || S_ISREG(source.st.st_mode)) {
    return false;
  }
  Note(FileNote::NotScheduled, LastShortPathRequest(),
       source.IsLink() ? "wininit.ini is a link" : "wininit.ini is not a regular file");
  return true;
}

DWORD AttributesOf(const std::string& host, const struct stat& st) {
  DWORD a = 0;
  if (S_ISLNK(st.st_mode)) {
    a |= FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY;
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
  if (!storedAttributes.empty()) {
    auto it = storedAttributes.find(host);
    if (it != storedAttributes.end()) {
      *attributes = it->second;
      return true;
    }
  }
  unsigned long own;  // a file on an ntfs-3g mount carries its own
  if (!NtfsAttributes(host, &own)) return false;
  *attributes = own;
  return true;
}

void StoreAttributes(const std::string& host, DWORD attributes, bool isDirectory) {
  DWORD kept = attributes & SettableAttributes;
  unsigned long own;
  if (NtfsAttributes(host, &own)) {
    // Written to the file itself, or kept here over what it carries.
    if (SetNtfsAttributes(host, kept)) {
      storedAttributes.erase(host);
    } else {
      storedAttributes[host] = kept;
    }
    return;
  }
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
    case ELOOP:
      return ERROR_PATH_NOT_FOUND;
    case EROFS:
      return ERROR_WRITE_PROTECT;
    case EACCES:
    case EPERM:
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

// Before any change, descriptors still waiting to be closed are closed, so
// no file the emulation deletes, renames or writes is held open by them;
// before a deletion or rename the kept descriptor of the last file too.
void HostFilesChanged() {
  ::host::ReadAheadCloseWaiting();
  ++hostGeneration;
}
void HostNamesChanged() {
  CloseParkedDescriptor();
  ::host::ReadAheadCloseWaiting();
  ++hostGeneration;
  ForgetDirectories();
}
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

bool ApplyFault(const char* op, const char* path) {
  DWORD error;
  if (!ShouldFail(op, path, &error)) return false;
  SetLastError(error);
  errno = ErrnoFromError(error);
  return true;
}

void Note(FileNote kind, const std::string& windowsPath, const std::string& detail) {
  if (!noted.emplace(static_cast<int>(kind), windowsPath).second) return;
  ++noteCounts[static_cast<int>(kind)];
  if (noteHook) noteHook(kind, windowsPath, detail);
}

const std::string& LastShortPathRequest() { return lastShortPathRequest; }
void SetLastShortPathRequest(const char* path) { lastShortPathRequest = path ? path : ""; }

// ---- control API ----

void MapDrive(char letter, const std::string& hostDir, UINT type) {
  std::string dir = hostDir;
  while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  int index = std::toupper(static_cast<unsigned char>(letter)) - 'A';
  drives[index] = Drive{dir, type};
  driveRoots[index].reset();
  ForgetDirectories();
}

void SetDriveReadOnly(char letter, bool readOnly) {
  drives[std::toupper(static_cast<unsigned char>(letter)) - 'A'].readOnly = readOnly;
}

void OnFileNote(std::function<void(FileNote, const std::string&, const std::string&)> hook) {
  noteHook = std::move(hook);
}

int FileNoteCount(FileNote kind) { return noteCounts[static_cast<int>(kind)]; }

std::string HostPath(const std::string& windowsPath) {
  HostEntry e;
  DWORD error;
  return Resolve(windowsPath.c_str(), &e, &error) ? e.host : std::string();
}

std::string HostPathForCreate(const std::string& windowsPath) {
  HostEntry e;
  DWORD error;
  return Resolve(windowsPath.c_str(), &e, &error, true) ? e.host : std::string();
}

DWORD Attributes(const std::string& windowsPath) {
  HostEntry e;
  DWORD error;
  return Resolve(windowsPath.c_str(), &e, &error) ? AttributesOf(e.host, e.st) : INVALID_FILE_ATTRIBUTES;
}

void SetAttributes(const std::string& windowsPath, DWORD attributes) {
  HostEntry e;
  DWORD error;
  if (Resolve(windowsPath.c_str(), &e, &error)) {
    StoreAttributes(e.host, attributes, (AttributesOf(e.host, e.st) & FILE_ATTRIBUTE_DIRECTORY) != 0);
  }
}

}  // namespace emu
