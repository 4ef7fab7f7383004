// Emulated FindFirstFileA/FindNextFileA: Windows wildcard rules over a host
// directory, entries in the order an NTFS volume returns them (sorted
// ignoring case), "." and ".." first in every directory but a drive root.
// Links are listed as reparse points; FIFOs, sockets and devices are left
// out; every entry the walk could not examine is noted once
// (emu::OnFileNote).
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>
#include <strings.h>
#include <sys/stat.h>
#include <time.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "platform/emu/fs.h"
#include "platform/emu/host_changes.h"
#include "platform/emu/machine.h"
#include "platform/host/read_ahead.h"

namespace emu {
namespace {

// One open search: the names listed when it began, read one by one. Each
// entry is looked up relative to the directory's descriptor, so the host
// does not walk the whole path again for every entry.
struct Search {
  std::string hostDir;
  std::string windowsDir;  // as the pattern spells it, with its backslash
  DirRef dir;
  std::vector<std::string> names;
  size_t next = 0;
  uint64_t readAhead = 0;  // the id of its read-ahead listing, 0: none
  // A search of every name ("*" or "*.*"): the statuses it takes are kept
  // for the very next search, when that lists the same directory (the walk
  // lists each directory twice in a row), the emulation changed no host
  // file in between and the directory's times are unchanged. Only a
  // directory last changed a while ago qualifies, so that a change made
  // within the same tick of the file system's clock cannot go unseen.
  bool everyName = false;
  bool fromListing = false;
  uint64_t generation = 0;
  struct timespec dirModified = {0, 0}, dirChanged = {0, 0};
  std::vector<struct stat> statuses;  // fromListing: per name; else as taken
  std::vector<std::string> taken;     // names whose status was taken, in order

  Search() = default;
  Search(Search&& other) noexcept
      : hostDir(std::move(other.hostDir)), windowsDir(std::move(other.windowsDir)),
        dir(std::move(other.dir)), names(std::move(other.names)), next(other.next),
        readAhead(other.readAhead), everyName(other.everyName), fromListing(other.fromListing),
        generation(other.generation), dirModified(other.dirModified), dirChanged(other.dirChanged),
        statuses(std::move(other.statuses)),
        taken(std::move(other.taken)) {}
  Search& operator=(Search&&) = delete;
};

std::map<uintptr_t, Search> searches;
uintptr_t nextHandle = 0x5000;

// The names and statuses of the last directory listed whole.
struct Listing {
  std::string hostDir;
  std::vector<std::string> names;  // in search order, without "." and ".."
  std::vector<struct stat> statuses;
  uint64_t generation = 0;
  struct timespec dirModified = {0, 0}, dirChanged = {0, 0};
  bool valid = false;
} lastListing;

bool SameTime(const struct timespec& a, const struct timespec& b) {
  return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

// True when `t` lies at least two seconds in the past.
bool LongAgo(const struct timespec& t) {
  struct timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  return now.tv_sec - t.tv_sec >= 2;
}

void ResetSearches() {
  searches.clear();
  nextHandle = 0x5000;
  lastListing = Listing();
}

// Keeps a finished whole listing that no change of the host overlapped.
void KeepListing(Search& s) {
  if (!s.everyName || s.fromListing || s.generation != HostGeneration()) return;
  if (!LongAgo(s.dirModified) || !LongAgo(s.dirChanged)) return;
  lastListing.hostDir = s.hostDir;
  lastListing.dirModified = s.dirModified;
  lastListing.dirChanged = s.dirChanged;
  lastListing.names = std::move(s.taken);
  lastListing.statuses = std::move(s.statuses);
  lastListing.generation = s.generation;
  lastListing.valid = true;
  s.everyName = false;
}
ResetHook findHook(ResetSearches);

bool HasWildcards(const std::string& mask) {
  return mask.find_first_of("*?") != std::string::npos;
}

// '*' matches any run, '?' one character; letter case is ignored.
bool Glob(const char* mask, const char* name) {
  const char* star = nullptr;
  const char* resume = nullptr;
  while (*name) {
    if (*mask == '*') {
      star = mask++;
      resume = name;
    } else if (*mask == '?' ||
               std::tolower(static_cast<unsigned char>(*mask)) ==
                   std::tolower(static_cast<unsigned char>(*name))) {
      ++mask;
      ++name;
    } else if (star) {
      mask = star + 1;
      name = ++resume;
    } else {
      return false;
    }
  }
  while (*mask == '*') ++mask;
  return *mask == 0;
}

}  // namespace

// Windows matching: "*.*" matches every name, and a mask ending in ".*"
// also matches a name without any dot ("file.*" finds "file").
bool MatchesMask(const std::string& mask, const std::string& name) {
  if (mask == "*" || mask == "*.*") return true;
  if (Glob(mask.c_str(), name.c_str())) return true;
  if (mask.size() >= 2 && mask.compare(mask.size() - 2, 2, ".*") == 0 &&
      name.find('.') == std::string::npos) {
    return Glob(mask.substr(0, mask.size() - 2).c_str(), name.c_str());
  }
  return false;
}

namespace {

bool NtfsOrder(const std::string& a, const std::string& b) {
  int c = strcasecmp(a.c_str(), b.c_str());
  return c != 0 ? c < 0 : a < b;
}

const char* KindOf(mode_t mode) {
  if (S_ISFIFO(mode)) return "not a regular file (FIFO)";
  if (S_ISSOCK(mode)) return "not a regular file (socket)";
  if (S_ISCHR(mode) || S_ISBLK(mode)) return "not a regular file (device)";
  return "not a regular file";
}

// Notes an entry the walk cannot examine; false when it is left out of
// the listing (neither a file, a directory nor a link).
bool Examinable(const Search& s, const std::string& name, const struct stat& st) {
  const bool directory = S_ISDIR(st.st_mode);
  if (S_ISLNK(st.st_mode)) {
    Note(FileNote::NotScanned, s.windowsDir + name, "link, not followed");
  } else if (!directory && !S_ISREG(st.st_mode)) {
    Note(FileNote::NotScanned, s.windowsDir + name, KindOf(st.st_mode));
    return false;
  } else if (struct stat parent; directory && fstat(s.dir->fd, &parent) == 0 && parent.st_dev != st.st_dev &&
             !EnterOtherFileSystem(s.windowsDir + name)) {
    // A file system mounted below the drive: left out unless asked for.
    Note(FileNote::NotScanned, s.windowsDir + name, "another file system, not entered (--cross-fs enters it)");
    return false;
  } else if (s.windowsDir.size() + name.size() + (directory ? 4 : 0) >= MAX_PATH) {
    // The walk's path (a folder's with "\*.*") would not fit 260 bytes.
    Note(FileNote::NotScanned, s.windowsDir + name, "path longer than 260 bytes");
  }
  return true;
}

// Fills `data` for the next entry that still exists; false at the end.
bool NextEntry(Search& s, WIN32_FIND_DATAA* data) {
  while (s.next < s.names.size()) {
    const size_t index = s.next++;
    ::host::ReadAheadReached(s.readAhead, index);
    const std::string& name = s.names[index];
    bool dots = name == "." || name == "..";
    static std::string host;  // its room kept from entry to entry
    host.assign(s.hostDir);
    if (!dots) host.append(1, '/').append(name);
    struct stat st;
    if (s.fromListing && !dots) {
      st = s.statuses[index];
    } else {
      if (!::host::ReadAheadStatus(s.readAhead, index, HostGeneration(), &st) &&
          fstatat(s.dir->fd, dots ? "." : name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
        continue;  // gone
      }
      if (s.everyName && !dots) {
        s.taken.push_back(name);
        s.statuses.push_back(st);
      }
    }
    if (!dots && !Examinable(s, name, st)) continue;
    if (!dots) RememberEntry(host, st);
    std::memset(data, 0, sizeof *data);
    data->dwFileAttributes = (name == "." || name == "..")
                                 ? FILE_ATTRIBUTE_DIRECTORY
                                 : AttributesOf(host, st);
    uint64_t size = S_ISDIR(st.st_mode) ? 0 : static_cast<uint64_t>(st.st_size);
    data->nFileSizeHigh = static_cast<DWORD>(size >> 32);
    data->nFileSizeLow = static_cast<DWORD>(size);
    uint64_t t = (static_cast<uint64_t>(st.st_mtime) + 11644473600ull) * 10000000ull;
    data->ftLastWriteTime = {static_cast<DWORD>(t), static_cast<DWORD>(t >> 32)};
    data->ftCreationTime = data->ftLastAccessTime = data->ftLastWriteTime;
    std::strncpy(data->cFileName, name.c_str(), MAX_PATH - 1);
    return true;
  }
  KeepListing(s);
  return false;
}

// The entries of a directory, read through a descriptor of its own.
DIR* OpenListing(const HostDir& dir) {
  int fd = openat(dir.fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return nullptr;
  DIR* d = fdopendir(fd);
  if (!d) {
    int saved = errno;
    close(fd);
    errno = saved;
  }
  return d;
}

// "." and ".." lead every listing but a drive root's, where the mask takes them.
void AddDots(Search& s, const std::string& mask, bool isRoot) {
  if (isRoot) return;
  std::vector<std::string> dots;
  if (MatchesMask(mask, ".")) dots.push_back(".");
  if (MatchesMask(mask, "..")) dots.push_back("..");
  s.names.insert(s.names.begin(), dots.begin(), dots.end());
  if (s.fromListing) s.statuses.insert(s.statuses.begin(), dots.size(), {});
}

}  // namespace
}  // namespace emu

HANDLE WINAPI FindFirstFileA(LPCSTR pattern, LPWIN32_FIND_DATAA data) {
  using namespace emu;
  ForgetEntry();
  if (FaultFor("FindFirstFileA", pattern)) return INVALID_HANDLE_VALUE;
  if (!pattern || std::strlen(pattern) >= MAX_PATH) {
    SetLastError(pattern ? ERROR_FILENAME_EXCED_RANGE : ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  const char* cut = std::strrchr(pattern, '\\');
  const char* slash = std::strrchr(pattern, '/');
  if (slash && (!cut || slash > cut)) cut = slash;
  if (!cut) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  std::string dir(pattern, cut - pattern + 1), mask(cut + 1);
  if (mask.empty()) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  // A kept listing serves only the search right after it (the walk's
  // directory pass after its file pass).
  Listing listing = std::move(lastListing);
  lastListing = Listing();
  Search s;
  DWORD error;
  bool isRoot = false;
  struct stat st;
  s.dir = ResolveDirectory(dir.c_str(), &error, &isRoot);
  if (!s.dir || fstat(s.dir->fd, &st) != 0) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  s.hostDir = s.dir->host;
  s.windowsDir = dir;
  if (!HasWildcards(mask)) {
    // One name: found ignoring case without listing when spelled exactly.
    HostEntry e;
    if (IsWindowsName(mask.c_str()) && Resolve(pattern, &e, &error)) s.names.push_back(e.name);
  } else if (listing.valid && listing.hostDir == s.hostDir && listing.generation == HostGeneration() &&
             SameTime(listing.dirModified, st.st_mtim) && SameTime(listing.dirChanged, st.st_ctim)) {
    s.fromListing = true;
    for (size_t i = 0; i < listing.names.size(); ++i) {
      if (!MatchesMask(mask, listing.names[i])) continue;
      s.names.push_back(std::move(listing.names[i]));
      s.statuses.push_back(listing.statuses[i]);
    }
    AddDots(s, mask, isRoot);
  } else if (DIR* d = OpenListing(*s.dir)) {
    s.everyName = mask == "*" || mask == "*.*";
    s.generation = HostGeneration();
    s.dirModified = st.st_mtim;
    s.dirChanged = st.st_ctim;
    while (dirent* e = readdir(d)) {
      std::string name = e->d_name;
      if (name == "." || name == ".." || !MatchesMask(mask, name)) continue;
      if (IsWindowsName(name.c_str())) {
        s.names.push_back(name);
      } else {
        Note(FileNote::NotScanned, dir + name, "name not valid on Windows");
      }
    }
    closedir(d);
    std::sort(s.names.begin(), s.names.end(), NtfsOrder);
    AddDots(s, mask, isRoot);
    s.readAhead = ::host::ReadAheadListing(s.dir->fd, s.hostDir, s.names, s.generation);
  } else {
    std::string shown = isRoot ? dir : dir.substr(0, dir.size() - 1);
    Note(FileNote::NotScanned, shown, std::string("unreadable folder: ") + std::strerror(errno));
    SetLastError(ERROR_ACCESS_DENIED);
    return INVALID_HANDLE_VALUE;
  }
  if (!NextEntry(s, data)) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  uintptr_t handle = nextHandle++;
  searches.emplace(handle, std::move(s));
  return reinterpret_cast<HANDLE>(handle);
}

BOOL WINAPI FindNextFileA(HANDLE search, LPWIN32_FIND_DATAA data) {
  using namespace emu;
  ForgetEntry();
  CountCall("FindNextFileA");
  auto it = searches.find(reinterpret_cast<uintptr_t>(search));
  if (it == searches.end()) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (!NextEntry(it->second, data)) {
    SetLastError(ERROR_NO_MORE_FILES);
    return FALSE;
  }
  return TRUE;
}

BOOL WINAPI FindClose(HANDLE search) {
  using namespace emu;
  ForgetEntry();
  CountCall("FindClose");
  if (searches.erase(reinterpret_cast<uintptr_t>(search)) == 0) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return TRUE;
}

namespace emu {
size_t OpenSearches() { return searches.size(); }
}  // namespace emu
