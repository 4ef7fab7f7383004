// Whether the Windows of a volume is hibernated (or stopped by Fast
// Startup, which is a hibernation of its kernel): its hiberfil.sys then
// holds a memory image that Windows resumes from, writing back over
// whatever was changed on the volume meanwhile.
#pragma once

#include <string>

enum class Hibernation { None, InUse, Unreadable };

// Looks for hiberfil.sys (any letter case) at the root `root` and reads its
// first four bytes: "hibr" (any case) is an image Windows will resume from,
// "rstr" one it was resuming from when it stopped, both in use; "wake",
// zeros or anything else one already resumed from or never written.
// `detail` names the file and what it holds.
Hibernation CheckHibernation(const std::string& root, std::string* detail);

// For a run that is to change the volume: false with the reason and the
// fix in *error when Windows is hibernated (or that cannot be told).
bool RefuseIfHibernated(const std::string& root, std::string* error);
