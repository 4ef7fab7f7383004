// The emulated system of a sorvane-offline run: registry, platform and
// Windows directory before the scan; what is left for the next start and
// the saved registry after it.
#pragma once

#include <string>

#include "tools/sorvane-offline/options.h"

// Loads the registry file and sets platform and Windows directory.
bool SetUpSystem(const OfflineOptions& options, std::string* error);

// Prints the removals scheduled for the next start and a requested
// restart, then saves the registry when asked.
bool FinishSystem(const OfflineOptions& options, std::string* error);
