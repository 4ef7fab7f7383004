// Short (8.3) names on the emulated drives and GetShortPathNameA. A long
// name becomes the first six usable characters of its stem in capitals,
// "~" and a number, and the first three of its extension; the number counts
// the directory's long names with the same stem and extension in name order.
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>
#include <strings.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <set>
#include <vector>

#include "platform/emu/fs.h"
#include "platform/emu/machine.h"
#include "platform/emu/short_names.h"

namespace emu {
namespace {

bool ShortChar(unsigned char c) {
  return std::isalnum(c) || c >= 0x80 || std::strchr("!#$%&'()-@^_`{}~", c) != nullptr;
}

// Stem and extension of the generated name, before numbering.
void Parts(const std::string& name, std::string* stem, std::string* ext) {
  size_t dot = name.rfind('.');
  std::string s = dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
  std::string e = dot == std::string::npos || dot == 0 ? "" : name.substr(dot + 1);
  auto clean = [](const std::string& in, size_t limit) {
    std::string out;
    for (unsigned char c : in) {
      if (out.size() == limit) break;
      if (c == ' ' || c == '.') continue;
      out += ShortChar(c) ? static_cast<char>(std::toupper(c)) : '_';
    }
    return out;
  };
  *stem = clean(s, 8);
  *ext = clean(e, 3);
  if (stem->empty()) *stem = "_";
}

std::string Numbered(const std::string& stem, const std::string& ext, int n) {
  std::string tail = "~" + std::to_string(n);
  std::string name = stem.substr(0, std::min(stem.size(), 8 - tail.size())) + tail;
  return ext.empty() ? name : name + "." + ext;
}

}  // namespace

bool IsShortName(const std::string& name) {
  if (name.empty() || name == "." || name == "..") return !name.empty();
  size_t dot = name.find('.');
  if (dot != std::string::npos && name.find('.', dot + 1) != std::string::npos) return false;
  size_t stemLength = dot == std::string::npos ? name.size() : dot;
  size_t extLength = dot == std::string::npos ? 0 : name.size() - dot - 1;
  if (stemLength == 0 || stemLength > 8 || extLength > 3) return false;
  if (dot != std::string::npos && extLength == 0) return false;
  for (unsigned char c : name) {
    if (c != '.' && !ShortChar(c)) return false;
  }
  return true;
}

std::string ShortNameFor(const HostDir& dir, const std::string& name) {
  if (IsShortName(name)) return "";
  std::string stem, ext;
  Parts(name, &stem, &ext);
  std::vector<std::string> rivals;
  std::set<std::string> taken;
  int fd = openat(dir.fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (DIR* d = fd >= 0 ? fdopendir(fd) : nullptr) {
    while (dirent* e = readdir(d)) {
      std::string other = e->d_name;
      if (other == "." || other == ".." || !IsWindowsName(other.c_str())) continue;
      if (IsShortName(other)) {
        std::string upper = other;
        for (auto& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        taken.insert(upper);
        continue;
      }
      std::string s, x;
      Parts(other, &s, &x);
      if (s.substr(0, 6) == stem.substr(0, 6) && x == ext) rivals.push_back(other);
    }
    closedir(d);
  } else if (fd >= 0) {
    close(fd);
  }
  std::sort(rivals.begin(), rivals.end(), [](const std::string& a, const std::string& b) {
    int c = strcasecmp(a.c_str(), b.c_str());
    return c != 0 ? c < 0 : a < b;
  });
  int n = 0;
  std::string result;
  for (const auto& r : rivals) {
    do {
      result = Numbered(stem, ext, ++n);
    } while (taken.count(result));
    if (r == name) return result;
  }
  return Numbered(stem, ext, n + 1);
}

}  // namespace emu

DWORD WINAPI GetShortPathNameA(LPCSTR longPath, LPSTR shortPath, DWORD size) {
  if (emu::FaultFor("GetShortPathNameA", longPath)) return 0;
  emu::SetLastShortPathRequest(longPath);
  if (!longPath || std::strlen(longPath) < 3 || longPath[1] != ':' || longPath[2] != '\\') {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  std::string path = longPath;
  std::string prefix = path.substr(0, 3);
  std::string result = prefix;
  emu::HostEntry entry;
  DWORD error;
  if (!emu::Resolve(prefix.c_str(), &entry, &error)) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return 0;
  }
  size_t pos = 3;
  while (pos < path.size()) {
    size_t end = path.find('\\', pos);
    std::string part = path.substr(pos, end == std::string::npos ? std::string::npos : end - pos);
    pos = end == std::string::npos ? path.size() : end + 1;
    if (part.empty()) continue;
    std::string next = prefix + (prefix.back() == '\\' ? "" : "\\") + part;
    // Each component on its own, never through a link.
    if (!emu::Resolve(next.c_str(), &entry, &error) || (end != std::string::npos && !S_ISDIR(entry.st.st_mode))) {
      SetLastError(end == std::string::npos ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND);
      return 0;
    }
    std::string shortName = emu::ShortNameFor(*entry.dir, entry.name);
    if (result.back() != '\\') result += '\\';
    result += shortName.empty() ? entry.name : shortName;
    prefix = next;
  }
  if (path.back() == '\\' && result.back() != '\\') result += '\\';
  if (!shortPath || size <= result.size()) return static_cast<DWORD>(result.size() + 1);
  std::memcpy(shortPath, result.c_str(), result.size() + 1);
  return static_cast<DWORD>(result.size());
}
