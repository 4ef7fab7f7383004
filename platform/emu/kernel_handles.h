// Internal: the emulated kernel handles (processes, Toolhelp snapshots,
// tokens) that CloseHandle closes.
#pragma once

#include <vector>

#include "platform/system.h"

namespace emu {

enum class HandleKind { Process, Snapshot, Token };

struct KernelObject {
  HandleKind kind = HandleKind::Process;
  DWORD processId = 0;  // Process
  DWORD access = 0;     // Process, Token
  std::vector<PROCESSENTRY32> entries;  // Snapshot
  size_t next = 0;
};

HANDLE NewKernelHandle(KernelObject object);
// The object behind a handle of the given kind, or null.
KernelObject* FindKernelHandle(HANDLE handle, HandleKind kind);

}  // namespace emu
