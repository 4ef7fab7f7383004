// Internal: the exports of the emulated "psapi.dll" for the module table.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "platform/system.h"

namespace emu {

std::vector<std::pair<std::string, FARPROC>> PsapiExports();

}  // namespace emu
