// Identity of the volume behind a folder, from the mount table, the boot
// sector and libblkid.
#include "tools/sorvane-offline/volume_identity.h"

#include <blkid.h>
#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

namespace {

// Mount table fields escape blanks and backslashes as \ooo.
std::string Unescape(const std::string& field) {
  std::string out;
  for (size_t i = 0; i < field.size(); ++i) {
    if (field[i] == '\\' && i + 3 < field.size()) {
      char digits[4] = {field[i + 1], field[i + 2], field[i + 3], 0};
      char* end;
      long v = std::strtol(digits, &end, 8);
      if (*end == 0) {
        out += static_cast<char>(v);
        i += 3;
        continue;
      }
    }
    out += field[i];
  }
  return out;
}

std::string RealPath(const std::string& path) {
  char resolved[PATH_MAX];
  return realpath(path.c_str(), resolved) ? resolved : "";
}

std::string BlkidIdentity(const std::string& source) {
  blkid_probe probe = blkid_new_probe_from_filename(source.c_str());
  if (!probe) return "";
  std::string id;
  const char *uuid = nullptr, *type = nullptr;
  if (blkid_do_safeprobe(probe) == 0 && blkid_probe_lookup_value(probe, "UUID", &uuid, nullptr) == 0) {
    if (blkid_probe_lookup_value(probe, "TYPE", &type, nullptr) != 0) type = "";
    id = std::string(type) + ":" + uuid;
  }
  blkid_free_probe(probe);
  return id;
}

}  // namespace

std::string VolumeIdentity::Text() const {
  if (!Known()) return "a volume of unknown identity";
  if (kind == "inode") return "folder " + folder + " (inode " + id + ", file system not identified)";
  return (kind == "ntfs" ? "NTFS volume " : "file system ") + id + (folder == "/" ? "" : ", folder " + folder);
}

std::string NtfsSerial(const std::string& boot) {
  if (boot.size() < 512 || boot.compare(3, 8, "NTFS    ") != 0) return "";
  char text[17];
  unsigned long long serial = 0;
  for (int i = 7; i >= 0; --i) serial = serial << 8 | static_cast<unsigned char>(boot[0x48 + i]);
  std::snprintf(text, sizeof text, "%016llx", serial);
  return text;
}

VolumeIdentity IdentityOf(const std::string& dir) {
  VolumeIdentity identity{"none", "", ""};
  struct stat st;
  std::string real = RealPath(dir);
  if (real.empty() || stat(real.c_str(), &st) != 0) return identity;
  std::ifstream table("/proc/self/mountinfo");
  std::string line, best, bestSource, bestRoot;
  while (std::getline(table, line)) {
    std::istringstream in(line);
    std::string id, parent, devices, root, point, field;
    in >> id >> parent >> devices >> root >> point;
    unsigned major = 0, minor = 0;
    if (std::sscanf(devices.c_str(), "%u:%u", &major, &minor) != 2 || makedev(major, minor) != st.st_dev) continue;
    point = Unescape(point);
    bool below = real == point || point == "/" || real.compare(0, point.size() + 1, point + "/") == 0;
    if (!below || point.size() < best.size()) continue;
    while (in >> field && field != "-") {}
    std::string type, source;
    in >> type >> source;
    best = point;
    bestSource = Unescape(source);
    bestRoot = Unescape(root);
  }
  if (best.empty()) return identity;
  std::string inside = real.substr(best == "/" ? 0 : best.size());
  identity.folder = bestRoot == "/" ? (inside.empty() ? "/" : inside) : bestRoot + inside;
  std::string boot(512, '\0');
  int fd = open(bestSource.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd >= 0) {
    if (pread(fd, &boot[0], boot.size(), 0) == 512) identity.id = NtfsSerial(boot);
    close(fd);
  }
  if (!identity.id.empty()) {
    identity.kind = "ntfs";
    return identity;
  }
  identity.id = BlkidIdentity(bestSource);
  identity.kind = "uuid";
  if (identity.id.empty()) {
    identity.kind = "inode";
    identity.id = std::to_string(static_cast<unsigned long long>(st.st_ino));
  }
  return identity;
}

bool FolderOnVolume(const std::string& folder, const std::vector<std::string>& roots, std::string* which) {
  // The nearest folder that exists stands for one still to be made.
  std::string existing = folder.empty() ? "." : folder;
  std::string real;
  while ((real = RealPath(existing)).empty()) {
    size_t slash = existing.find_last_of('/');
    if (slash == std::string::npos) {
      existing = ".";
    } else {
      existing = slash == 0 ? "/" : existing.substr(0, slash);
    }
  }
  struct stat here;
  if (stat(real.c_str(), &here) != 0) return false;
  for (const auto& r : roots) {
    std::string root = RealPath(r);
    struct stat st, parent;
    if (root.empty() || stat(root.c_str(), &st) != 0) continue;
    bool below = real == root || root == "/" || real.compare(0, root.size() + 1, root + "/") == 0;
    bool wholeVolume = root == "/" || (stat((root + "/..").c_str(), &parent) == 0 && parent.st_dev != st.st_dev);
    if (below || (wholeVolume && here.st_dev == st.st_dev)) {
      *which = r;
      return true;
    }
  }
  return false;
}
