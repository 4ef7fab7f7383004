// Discovery of the Windows folder, hives and profiles of a mounted volume.
// Names are matched ignoring case as Windows does; entries are examined
// with lstat, so a link never stands for a folder or a hive.
#include "tools/sorvane-offline/volume.h"

#include <dirent.h>
#include <strings.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>

namespace {

// The entry of `dir` named `name` ignoring case (exact spelling first)
// whose type is a directory (or a regular file); empty when none.
std::string Child(const std::string& dir, const std::string& name, bool wantDirectory) {
  std::vector<std::string> candidates;
  if (DIR* d = opendir(dir.c_str())) {
    while (dirent* e = readdir(d)) {
      if (strcasecmp(e->d_name, name.c_str()) == 0) candidates.push_back(e->d_name);
    }
    closedir(d);
  }
  std::stable_sort(candidates.begin(), candidates.end(),
                   [&](const std::string& a, const std::string&) { return a == name; });
  for (const auto& c : candidates) {
    struct stat st;
    std::string path = dir + "/" + c;
    if (lstat(path.c_str(), &st) != 0) continue;
    if (wantDirectory ? S_ISDIR(st.st_mode) : S_ISREG(st.st_mode)) return c;
  }
  return "";
}

std::vector<std::string> Folders(const std::string& dir) {
  std::vector<std::string> names;
  if (DIR* d = opendir(dir.c_str())) {
    while (dirent* e = readdir(d)) {
      std::string n = e->d_name;
      struct stat st;
      if (n == "." || n == ".." || lstat((dir + "/" + n).c_str(), &st) != 0) continue;
      if (S_ISDIR(st.st_mode)) names.push_back(n);
    }
    closedir(d);
  }
  std::sort(names.begin(), names.end(),
            [](const std::string& a, const std::string& b) { return strcasecmp(a.c_str(), b.c_str()) < 0; });
  return names;
}

}  // namespace

std::string PlatformOfVersion(const std::string& version) {
  char* end = nullptr;
  long major = std::strtol(version.c_str(), &end, 10);
  if (end == version.c_str() || (*end && *end != '.')) return "";
  if (major == 4) return "nt4";
  if (major == 5) return "nt5";
  if (major >= 6) return "nt6";
  return "";
}

bool FindVolumeLayout(const std::string& root, VolumeLayout* layout, std::string* error) {
  for (const auto& folder : Folders(root)) {
    std::string sys = Child(root + "/" + folder, "System32", true);
    std::string config = sys.empty() ? "" : Child(root + "/" + folder + "/" + sys, "config", true);
    if (config.empty()) continue;
    std::string configHost = root + "/" + folder + "/" + sys + "/" + config;
    std::string software = Child(configHost, "SOFTWARE", false);
    if (software.empty()) continue;
    std::string system = Child(configHost, "SYSTEM", false);
    std::string configLabel = folder + "\\" + sys + "\\" + config + "\\";
    if (system.empty()) {
      *error = "the volume has " + configLabel + software + " but no SYSTEM hive beside it";
      return false;
    }
    layout->windowsDir = "C:\\" + folder;
    layout->software = HiveFile{configHost + "/" + software, configLabel + software, "", root};
    layout->system = HiveFile{configHost + "/" + system, configLabel + system, "", root};
    for (const char* home : {"Documents and Settings", "Users"}) {
      std::string homeName = Child(root, home, true);
      if (homeName.empty()) continue;
      for (const auto& user : Folders(root + "/" + homeName)) {
        std::string dir = root + "/" + homeName + "/" + user;
        std::string hive = Child(dir, "NTUSER.DAT", false);
        if (hive.empty()) continue;
        std::string profile = homeName + "\\" + user;
        layout->profiles.push_back(HiveFile{dir + "/" + hive, profile + "\\" + hive, profile, root});
      }
    }
    return true;
  }
  *error = "no Windows folder with System32\\config\\SOFTWARE on " + root +
           " (a Windows 9x volume keeps its registry in SYSTEM.DAT and USER.DAT: export it"
           " to a .reg file and use --drive C=DIR --registry FILE.reg)";
  return false;
}
