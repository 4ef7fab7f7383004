// Internal: 8.3 short names of the emulated drives, as GetShortPathNameA
// reports them (and as a search's cAlternateFileName can).
#pragma once

#include <string>

#include "platform/emu/fs.h"

namespace emu {

// True when `name` is a valid 8.3 name (it then needs no short name).
bool IsShortName(const std::string& name);

// The generated short name of entry `name` in host directory `dir`
// ("PROGRA~1"), numbered by the order of the entries that share its stem
// and extension; empty when `name` is already a short name.
std::string ShortNameFor(const HostDir& dir, const std::string& name);

}  // namespace emu
