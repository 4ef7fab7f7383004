// The emulated process table with OpenProcess, TerminateProcess and
// CloseHandle, and the record of what the code did to the processes.
#include <strings.h>

#include <algorithm>
#include <map>

#include "platform/emu/kernel_handles.h"
#include "platform/emu/fs.h"
#include "platform/emu/machine.h"
#include "platform/emu/process_table.h"
#include "platform/emu/system_state.h"

namespace emu {
namespace {

const DWORD OwnProcessId = 0x7F0;

std::vector<EmuProcess> processes;
std::vector<Termination> terminations;
std::vector<MachineChange> changes;
std::vector<ProcessOpen> opens;
std::map<uintptr_t, KernelObject> kernelHandles;
uintptr_t nextHandle = 0x70000000;
DWORD nextId = 4;

void ResetProcesses() {
  processes.clear();
  terminations.clear();
  changes.clear();
  opens.clear();
  kernelHandles.clear();
  nextHandle = 0x70000000;
  nextId = 4;
}
ResetHook processHook(ResetProcesses);

EmuProcess* Find(DWORD id) {
  for (auto& p : processes) {
    if (p.id == id) return &p;
  }
  return nullptr;
}

bool Fail(DWORD error) {
  SetLastError(error);
  return false;
}

}  // namespace

const std::vector<EmuProcess>& RunningProcesses() { return processes; }

std::string BaseName(const std::string& path) {
  size_t slash = path.rfind('\\');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

HANDLE NewKernelHandle(KernelObject object) {
  uintptr_t h = nextHandle;
  nextHandle += 4;
  kernelHandles.emplace(h, std::move(object));
  return reinterpret_cast<HANDLE>(h);
}

KernelObject* FindKernelHandle(HANDLE handle, HandleKind kind) {
  auto it = kernelHandles.find(reinterpret_cast<uintptr_t>(handle));
  if (it == kernelHandles.end() || it->second.kind != kind) return nullptr;
  return &it->second;
}

DWORD AddProcess(const std::string& imagePath, const ProcessOptions& options) {
  while (Find(nextId)) nextId += 4;
  DWORD id = nextId;
  nextId += 4;
  processes.push_back(EmuProcess{id, imagePath, options});
  return id;
}

void AddProcessWithId(DWORD id, const std::string& imagePath, const ProcessOptions& options) {
  processes.push_back(EmuProcess{id, imagePath, options});
}

bool ProcessRunning(DWORD id) { return Find(id) != nullptr; }

void RemoveProcess(DWORD id) {
  if (EmuProcess* p = Find(id)) processes.erase(processes.begin() + (p - processes.data()));
}

std::vector<DWORD> ProcessesRunning(const std::string& imagePath) {
  std::vector<DWORD> ids;
  for (const auto& p : processes) {
    if (strcasecmp(p.image.c_str(), imagePath.c_str()) == 0) ids.push_back(p.id);
  }
  return ids;
}

bool IsImageRunning(const std::string& imagePath) { return !ProcessesRunning(imagePath).empty(); }

const std::vector<Termination>& Terminations() { return terminations; }
const std::vector<MachineChange>& MachineChanges() { return changes; }

void RecordServiceStopped(const std::string& name, DWORD processId) {
  changes.push_back(MachineChange{MachineChange::ServiceStopped, processId, name});
}
const std::vector<ProcessOpen>& ProcessOpens() { return opens; }
int OpenKernelHandles() { return static_cast<int>(kernelHandles.size()); }

}  // namespace emu

using namespace emu;

HANDLE WINAPI GetCurrentProcess(void) { return reinterpret_cast<HANDLE>(static_cast<intptr_t>(-1)); }
DWORD WINAPI GetCurrentProcessId(void) { return OwnProcessId; }

HANDLE WINAPI OpenProcess(DWORD access, BOOL, DWORD processId) {
  EmuProcess* p = processId == 0 ? nullptr : Find(processId);
  if (FaultFor("OpenProcess", p ? p->image.c_str() : "")) {
    opens.push_back(ProcessOpen{processId, access, false});
    return nullptr;
  }
  DWORD error = ERROR_SUCCESS;
  if (!p) {
    error = ERROR_INVALID_PARAMETER;
  } else if (!p->options.canOpen ||
             (p->options.needsDebugPrivilege && !IsPrivilegeEnabled(SE_DEBUG_NAME))) {
    error = ERROR_ACCESS_DENIED;
  }
  opens.push_back(ProcessOpen{processId, access, error == ERROR_SUCCESS});
  if (error != ERROR_SUCCESS) {
    SetLastError(error);
    return nullptr;
  }
  KernelObject object;
  object.kind = HandleKind::Process;
  object.processId = processId;
  object.access = access;
  return NewKernelHandle(std::move(object));
}

BOOL WINAPI TerminateProcess(HANDLE process, UINT exitCode) {
  KernelObject* object = FindKernelHandle(process, HandleKind::Process);
  EmuProcess* p = object ? Find(object->processId) : nullptr;
  if (FaultFor("TerminateProcess", p ? p->image.c_str() : "")) return FALSE;
  if (!object) return Fail(ERROR_INVALID_HANDLE);
  if (!(object->access & PROCESS_TERMINATE)) return Fail(ERROR_ACCESS_DENIED);
  if (!p || !p->options.canTerminate) return Fail(ERROR_ACCESS_DENIED);
  terminations.push_back(Termination{p->id, p->image, exitCode, GetTickCount()});
  changes.push_back(MachineChange{MachineChange::ProcessEnded, p->id, p->image});
  processes.erase(processes.begin() + (p - processes.data()));
  return TRUE;
}

BOOL WINAPI CloseHandle(HANDLE handle) {
  CountCall("CloseHandle");
  auto it = kernelHandles.find(reinterpret_cast<uintptr_t>(handle));
  if (it == kernelHandles.end()) return Fail(ERROR_INVALID_HANDLE);
  kernelHandles.erase(it);
  return TRUE;
}
