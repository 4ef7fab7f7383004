// The emulated "psapi.dll": EnumProcesses and GetModuleFileNameExA over the
// process table. EnumProcesses is keyed by "" for faults,
// GetModuleFileNameExA by the process's image path.
#include "platform/emu/psapi_module.h"

#include <cstring>

#include "platform/emu/fs.h"
#include "platform/emu/kernel_handles.h"
#include "platform/emu/machine.h"
#include "platform/emu/process_table.h"

namespace emu {

std::vector<std::pair<std::string, FARPROC>> PsapiExports() {
  // Through void (*)(), which converts to any other function type.
  return {
      {"EnumProcesses", reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(&EnumProcesses))},
      {"GetModuleFileNameExA",
       reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(&GetModuleFileNameExA))},
  };
}

}  // namespace emu

using namespace emu;

BOOL WINAPI EnumProcesses(DWORD* ids, DWORD size, DWORD* bytesReturned) {
  if (FaultFor("EnumProcesses", "")) return FALSE;
  if (!ids || !bytesReturned) {
    SetLastError(998);  // ERROR_NOACCESS
    return FALSE;
  }
  DWORD room = size / sizeof(DWORD);
  DWORD count = 0;
  for (const auto& p : RunningProcesses()) {
    if (count == room) break;
    ids[count++] = p.id;
  }
  *bytesReturned = count * sizeof(DWORD);
  return TRUE;
}

DWORD WINAPI GetModuleFileNameExA(HANDLE process, HMODULE module, LPSTR fileName, DWORD size) {
  KernelObject* object = FindKernelHandle(process, HandleKind::Process);
  const EmuProcess* p = nullptr;
  if (object) {
    for (const auto& candidate : RunningProcesses()) {
      if (candidate.id == object->processId) p = &candidate;
    }
  }
  if (FaultFor("GetModuleFileNameExA", p ? p->image.c_str() : "")) return 0;
  const DWORD needed = PROCESS_QUERY_INFORMATION | PROCESS_VM_READ;
  if (!object) {
    SetLastError(ERROR_INVALID_HANDLE);
    return 0;
  }
  if ((object->access & needed) != needed) {
    SetLastError(ERROR_ACCESS_DENIED);
    return 0;
  }
  if (!p) {
    SetLastError(299);  // ERROR_PARTIAL_COPY: the process has ended
    return 0;
  }
  if (module) {
    SetLastError(ERROR_INVALID_HANDLE);  // only the image is emulated
    return 0;
  }
  if (!fileName || size == 0) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  // Cut to the buffer and terminated, as the NT 6 family does.
  size_t n = p->image.size() < size - 1 ? p->image.size() : size - 1;
  std::memcpy(fileName, p->image.data(), n);
  fileName[n] = 0;
  return static_cast<DWORD>(n);
}
