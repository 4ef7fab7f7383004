// Emulated FindFirstFileA/FindNextFileA: Windows wildcard rules over a host
// directory, entries in the order an NTFS volume returns them (sorted
// ignoring case), "." and ".." first in every directory but a drive root.
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
#include "platform/emu/machine.h"

namespace emu {
namespace {

// One open search: the names listed when it began, read one by one. Each
// entry is looked up relative to the directory's descriptor, so the host
// does not walk the whole path again for every entry.
struct Search {
  std::string hostDir;
  std::vector<std::string> names;
  size_t next = 0;
  int dirFd = -1;
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
      : hostDir(std::move(other.hostDir)), names(std::move(other.names)), next(other.next),
        dirFd(other.dirFd), everyName(other.everyName), fromListing(other.fromListing),
        generation(other.generation), dirModified(other.dirModified), dirChanged(other.dirChanged),
        statuses(std::move(other.statuses)),
        taken(std::move(other.taken)) {
    other.dirFd = -1;
  }
  Search& operator=(Search&&) = delete;
  ~Search() {
    if (dirFd >= 0) close(dirFd);
  }
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

// Fills `data` for the next entry that still exists; false at the end.
bool NextEntry(Search& s, WIN32_FIND_DATAA* data) {
  while (s.next < s.names.size()) {
    const size_t index = s.next++;
    const std::string& name = s.names[index];
    bool dots = name == "." || name == "..";
    std::string host = s.hostDir;
    if (!dots) host += "/" + name;
    struct stat st;
    if (s.fromListing && !dots) {
      st = s.statuses[index];
    } else {
      int found = s.dirFd >= 0 ? fstatat(s.dirFd, dots ? "." : name.c_str(), &st, AT_SYMLINK_NOFOLLOW)
                               : lstat(host.c_str(), &st);
      if (found != 0) continue;  // gone since the search began
      if (s.everyName && !dots) {
        s.taken.push_back(name);
        s.statuses.push_back(st);
      }
    }
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
  if (!ResolvePath(dir.c_str(), &s.hostDir, &error, &isRoot) || stat(s.hostDir.c_str(), &st) != 0 ||
      !S_ISDIR(st.st_mode)) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  if (!HasWildcards(mask)) {
    // One name: found ignoring case without listing when spelled exactly.
    std::string host;
    if (IsWindowsName(mask.c_str()) && ResolvePath(pattern, &host, &error)) {
      s.names.push_back(host.substr(host.rfind('/') + 1));
    }
  } else if (listing.valid && listing.hostDir == s.hostDir && listing.generation == HostGeneration() &&
             SameTime(listing.dirModified, st.st_mtim) && SameTime(listing.dirChanged, st.st_ctim)) {
    s.fromListing = true;
    for (size_t i = 0; i < listing.names.size(); ++i) {
      if (!MatchesMask(mask, listing.names[i])) continue;
      s.names.push_back(std::move(listing.names[i]));
      s.statuses.push_back(listing.statuses[i]);
    }
    AddDots(s, mask, isRoot);
  } else if (DIR* d = opendir(s.hostDir.c_str())) {
    s.dirFd = fcntl(dirfd(d), F_DUPFD_CLOEXEC, 0);
    s.everyName = mask == "*" || mask == "*.*";
    s.generation = HostGeneration();
    s.dirModified = st.st_mtim;
    s.dirChanged = st.st_ctim;
    while (dirent* e = readdir(d)) {
      std::string name = e->d_name;
      if (name == "." || name == ".." || !IsWindowsName(name.c_str())) continue;
      if (MatchesMask(mask, name)) s.names.push_back(name);
    }
    closedir(d);
    std::sort(s.names.begin(), s.names.end(), NtfsOrder);
    AddDots(s, mask, isRoot);
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
