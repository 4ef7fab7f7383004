// Internal: facts about the emulated platform that other parts of the
// emulation follow (registry key deletion, Toolhelp, privilege checks).
#pragma once

#include <string>

#include "platform/system.h"

namespace emu {

DWORD PlatformId();
DWORD MajorVersion();
bool IsWin9xFamily();
// RegDeleteKeyA deletes whole trees on the 9x family.
bool DeletesKeyTrees();
bool IsPrivilegeEnabled(const std::string& name);

}  // namespace emu
