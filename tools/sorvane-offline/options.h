// Command line of sorvane-offline.
#pragma once

#include <string>
#include <vector>

#include "tools/sorvane-offline/image.h"
#include "tools/sorvane-offline/process_option.h"
#include "tools/sorvane-offline/rescue.h"

struct DriveOption {
  char letter;
  std::string dir;
  unsigned type;  // DRIVE_FIXED, DRIVE_CDROM, ...
};

struct OfflineOptions {
  std::vector<DriveOption> drives;
  std::vector<int> answers;  // IDYES, IDNO, IDOK, IDCANCEL in order
  std::string registryIn;    // .reg file: the registry before the scan
  std::string registryOut;   // .reg file written after the scan
  std::string changesOut;    // .reg file of what the scan removed from the registry
  std::string platform;      // 9x, nt4, nt5, nt6, other (empty: the machine's default)
  std::string windowsDir;    // Windows path of the Windows directory
  std::vector<ProcessOption> processes;  // running processes for the memory scan
  std::string events;                    // JSON lines of the results ("-": stdout), or empty
  int jobs = 0;                          // threads that match at once (0: the cores)
  RescueOptions rescue;                  // --volume, --action, --report
  ImageOptions image;                    // --image, --format, --partition, --allow-backing
};

// Parses argv; on error returns false with a message in *error.
bool ParseOptions(int argc, char** argv, OfflineOptions* options, std::string* error);

extern const char* const OfflineUsage;
