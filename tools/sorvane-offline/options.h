// Command line of sorvane-offline.
#pragma once

#include <string>
#include <vector>

struct DriveOption {
  char letter;
  std::string dir;
  unsigned type;  // DRIVE_FIXED, DRIVE_CDROM, ...
};

struct OfflineOptions {
  std::vector<DriveOption> drives;
  std::vector<int> answers;  // IDYES, IDNO, IDOK, IDCANCEL in order
};

// Parses argv; on error returns false with a message in *error.
bool ParseOptions(int argc, char** argv, OfflineOptions* options, std::string* error);

extern const char* const OfflineUsage;
