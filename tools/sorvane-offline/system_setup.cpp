// The emulated system of a sorvane-offline run, before and after the scan.
#include "tools/sorvane-offline/system_setup.h"

#include <strings.h>

#include <cstdio>
#include <sstream>

#include "platform/emu/machine.h"

namespace {

// The whole of a file on the emulated drives, read through the emulated
// calls (which never follow a link); empty when it cannot be read.
std::string ReadEmulatedFile(const std::string& windowsPath) {
  std::string content;
  int fd = _open(windowsPath.c_str(), _O_RDONLY | _O_BINARY);
  if (fd < 0) return content;
  char buffer[4096];
  int n;
  while ((n = _read(fd, buffer, sizeof buffer)) > 0) content.append(buffer, static_cast<size_t>(n));
  _close(fd);
  return content;
}

// The entries of the "[rename]" section of wininit.ini (9x family).
void PrintWininitEntries() {
  std::istringstream in(ReadEmulatedFile(emu::WindowsDirectory() + "\\wininit.ini"));
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
