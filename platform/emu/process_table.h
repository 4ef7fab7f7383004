// Internal: the emulated process table shared by the process calls, the
// Toolhelp snapshot and the performance data.
#pragma once

#include <string>
#include <vector>

#include "platform/emu/process_control.h"

namespace emu {

struct EmuProcess {
  DWORD id;
  std::string image;  // Windows path of the image file
  ProcessOptions options;
};

// Running processes in the order they were added.
const std::vector<EmuProcess>& RunningProcesses();

// Records a service that stopped after a stop request.
void RecordServiceStopped(const std::string& name, DWORD processId);

// The part of a path after its last backslash.
std::string BaseName(const std::string& path);

}  // namespace emu
