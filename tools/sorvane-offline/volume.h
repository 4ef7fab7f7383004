// What a mounted Windows system volume holds for a rescue run: its Windows
// folder, the SOFTWARE and SYSTEM hives, every profile's NTUSER.DAT, and
// the platform family named in the SOFTWARE hive.
#pragma once

#include <string>
#include <vector>

#include "tools/sorvane-offline/hives.h"

struct VolumeLayout {
  std::string windowsDir;  // Windows path, e.g. "C:\\WINDOWS"
  HiveFile software;
  HiveFile system;
  std::vector<HiveFile> profiles;  // Documents and Settings\* and Users\*, in name order
};

// Finds the Windows folder (the one holding System32\config\SOFTWARE, any
// letter case) and the hives below `root`, following no link. False with
// a message when the volume holds no such folder (a 9x volume among them).
bool FindVolumeLayout(const std::string& root, VolumeLayout* layout, std::string* error);

// The platform family of a CurrentVersion value ("4.0" nt4, "5.x" nt5,
// "6.0" and later nt6); empty when the text is no version.
std::string PlatformOfVersion(const std::string& version);
