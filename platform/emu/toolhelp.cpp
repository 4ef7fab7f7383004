// The Toolhelp process snapshot over the emulated process table. On the NT
// family the list starts with "[System Process]" (id 0) and names images by
// their file name; on the 9x family it names them by full path.
#include <cstring>

#include "platform/emu/kernel_handles.h"
#include "platform/emu/fs.h"
#include "platform/emu/machine.h"
#include "platform/emu/process_table.h"
#include "platform/emu/system_state.h"

using namespace emu;

namespace {

PROCESSENTRY32 Entry(DWORD id, const std::string& name) {
  PROCESSENTRY32 e = {};
  e.dwSize = sizeof e;
  e.th32ProcessID = id;
  e.cntThreads = 1;
  e.pcPriClassBase = 8;
  std::strncpy(e.szExeFile, name.c_str(), MAX_PATH - 1);
  return e;
}

BOOL Fill(HANDLE snapshot, LPPROCESSENTRY32 entry, bool first) {
  KernelObject* s = FindKernelHandle(snapshot, HandleKind::Snapshot);
  if (!s) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (!entry || entry->dwSize < sizeof(PROCESSENTRY32)) {
    SetLastError(24);  // ERROR_BAD_LENGTH
    return FALSE;
  }
  if (first) s->next = 0;
  if (s->next >= s->entries.size()) {
    SetLastError(ERROR_NO_MORE_FILES);
    return FALSE;
  }
  *entry = s->entries[s->next++];
  return TRUE;
}

}  // namespace

HANDLE WINAPI CreateToolhelp32Snapshot(DWORD flags, DWORD) {
  if (FaultFor("CreateToolhelp32Snapshot", "")) return INVALID_HANDLE_VALUE;
  KernelObject s;
  s.kind = HandleKind::Snapshot;
  if (flags & TH32CS_SNAPPROCESS) {
    bool nt = !IsWin9xFamily();
    if (nt) s.entries.push_back(Entry(0, "[System Process]"));
    for (const auto& p : RunningProcesses()) {
      s.entries.push_back(Entry(p.id, nt ? BaseName(p.image) : p.image));
    }
  }
  return NewKernelHandle(std::move(s));
}

BOOL WINAPI Process32First(HANDLE snapshot, LPPROCESSENTRY32 entry) {
  CountCall("Process32First");
  return Fill(snapshot, entry, true);
}

BOOL WINAPI Process32Next(HANDLE snapshot, LPPROCESSENTRY32 entry) {
  CountCall("Process32Next");
  return Fill(snapshot, entry, false);
}
