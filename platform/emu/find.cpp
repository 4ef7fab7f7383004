// Emulated FindFirstFileA/FindNextFileA: Windows wildcard rules over a host
// directory, entries in the order an NTFS volume returns them (sorted
// ignoring case), "." and ".." first in every directory but a drive root.
#include <dirent.h>
#include <strings.h>
#include <sys/stat.h>

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

struct Search {
  std::string hostDir;
  std::vector<std::string> names;
  size_t next = 0;
};

std::map<uintptr_t, Search> searches;
uintptr_t nextHandle = 0x5000;

void ResetSearches() {
  searches.clear();
  nextHandle = 0x5000;
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
    const std::string& name = s.names[s.next++];
    std::string host = s.hostDir;
    if (name != "." && name != "..") host += "/" + name;
    struct stat st;
    if (lstat(host.c_str(), &st) != 0) continue;  // gone since the search began
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
  return false;
}

}  // namespace
}  // namespace emu

HANDLE WINAPI FindFirstFileA(LPCSTR pattern, LPWIN32_FIND_DATAA data) {
  using namespace emu;
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
  } else if (DIR* d = opendir(s.hostDir.c_str())) {
    while (dirent* e = readdir(d)) {
      std::string name = e->d_name;
      if (name == "." || name == ".." || !IsWindowsName(name.c_str())) continue;
      if (MatchesMask(mask, name)) s.names.push_back(name);
    }
    closedir(d);
    std::sort(s.names.begin(), s.names.end(), NtfsOrder);
    if (!isRoot) {
      std::vector<std::string> dots;
      if (MatchesMask(mask, ".")) dots.push_back(".");
      if (MatchesMask(mask, "..")) dots.push_back("..");
      s.names.insert(s.names.begin(), dots.begin(), dots.end());
    }
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
