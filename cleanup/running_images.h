// The list of running processes and their image files that the memory scan
// works through: from a Toolhelp snapshot on the 9x family, from psapi on
// the NT family. Built completely before any image is examined.
#pragma once

#include "platform/system.h"

constexpr int ImagePathFieldSize = 340;  // holds paths of up to 259 characters

struct RunningImage {
  DWORD ProcessId;
  char ImagePath[ImagePathFieldSize];
  RunningImage* Next;
};

// 9x family: every process of a Toolhelp snapshot, in snapshot order. Null
// when the library, an entry point, the snapshot, the first entry or an
// allocation failed (nothing is then examined).
RunningImage* ListToolhelpImages();

// NT family: every process of EnumProcesses (at most 1024) whose image path
// GetModuleFileNameExA gives, in that order. A refused open enables
// "SeDebugPrivilege" and tries once more. psapi.dll is loaded from the
// system directory. Null when nothing could be listed.
RunningImage* ListPsapiImages();

void FreeRunningImages(RunningImage* list);
