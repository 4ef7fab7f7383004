// The emulated system of a sorvane-offline run, before and after the scan.
#include "tools/sorvane-offline/system_setup.h"

#include <strings.h>

#include <cstdio>
#include <fstream>

#include "platform/emu/machine.h"

namespace {

// The entries of the "[rename]" section of wininit.ini (9x family).
void PrintWininitEntries() {
  std::ifstream in(emu::HostPath(emu::WindowsDirectory() + "\\wininit.ini"), std::ios::binary);
  std::string line;
  bool inSection = false;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty() && line[0] == '[') {
      inSection = strncasecmp(line.c_str(), "[rename]", 8) == 0;
      continue;
    }
    size_t eq = line.find('=');
    if (!inSection || eq == std::string::npos) continue;
    std::string to = line.substr(0, eq), from = line.substr(eq + 1);
    if (strcasecmp(to.c_str(), "NUL") == 0) {
      std::printf("Removal at restart: %s\n", from.c_str());
    } else {
      std::printf("Rename at restart: %s -> %s\n", from.c_str(), to.c_str());
    }
  }
}

}  // namespace

bool SetUpSystem(const OfflineOptions& options, std::string* error) {
  if (!options.platform.empty()) {
    emu::Platform platform;
    emu::ParsePlatform(options.platform, &platform);
    emu::SetPlatform(platform);
  }
  if (!options.windowsDir.empty()) {
    emu::SetWindowsDirectory(options.windowsDir);
    std::string temp = emu::WindowsDirectory() + "\\TEMP";
    emu::SetEnvironmentVariable("TEMP", temp);
    emu::SetEnvironmentVariable("TMP", temp);
  }
  if (!options.registryIn.empty() && !emu::LoadRegistryFile(options.registryIn, error)) {
    *error = options.registryIn + ": " + *error;
    return false;
  }
  if (!options.changesOut.empty()) emu::MarkRegistryBaseline();
  return true;
}

bool FinishSystem(const OfflineOptions& options, std::string* error) {
  for (const auto& r : emu::PendingRenames()) {
    if (r.to.empty()) {
      std::printf("Removal at restart: %s\n", r.from.c_str());
    } else {
      std::printf("Rename at restart: %s -> %s\n", r.from.c_str(), r.to.c_str());
    }
  }
  PrintWininitEntries();
  if (emu::RestartRequested()) std::printf("Restart requested\n");
  std::fflush(stdout);
  emu::RegFormat format = emu::LoadedRegistryFormat();  // REGEDIT4 when none was loaded
  if (!options.registryOut.empty() && !emu::SaveRegistryFile(options.registryOut, format, error)) {
    return false;
  }
  if (!options.changesOut.empty() && !emu::SaveRegistryChanges(options.changesOut, format, error)) {
    return false;
  }
  return true;
}
