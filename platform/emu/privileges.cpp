// The own token of the emulated program (privileges held and enabled) and
// ExitWindowsEx, which the NT family grants only with SeShutdownPrivilege
// enabled. The 9x family has no tokens.
#include <strings.h>

#include <cstring>
#include <map>

#include "platform/emu/kernel_handles.h"
#include "platform/emu/fs.h"
#include "platform/emu/machine.h"
#include "platform/emu/system_state.h"

namespace emu {
namespace {

struct Privilege {
  const char* name;
  DWORD luid;
  bool held;
  bool enabled;
};

std::vector<Privilege> privileges;
std::vector<ExitRequest> exitRequests;

void ResetPrivileges() {
  privileges = {
      {SE_SHUTDOWN_NAME, 19, true, false},
      {SE_DEBUG_NAME, 20, true, false},
      {"SeBackupPrivilege", 17, true, false},
  };
  exitRequests.clear();
}
ResetHook privilegeHook(ResetPrivileges);

Privilege* ByName(const std::string& name) {
  for (auto& p : privileges) {
    if (strcasecmp(p.name, name.c_str()) == 0) return &p;
  }
  return nullptr;
}

BOOL Fail(DWORD error) {
  SetLastError(error);
  return FALSE;
}

}  // namespace

void SetPrivilegeHeld(const std::string& name, bool held) {
  if (Privilege* p = ByName(name)) {
    p->held = held;
    if (!held) p->enabled = false;
  }
}

bool PrivilegeEnabled(const std::string& name) {
  Privilege* p = ByName(name);
  return p && p->enabled;
}

bool IsPrivilegeEnabled(const std::string& name) { return PrivilegeEnabled(name); }

const std::vector<ExitRequest>& ExitRequests() { return exitRequests; }

bool RestartRequested() {
  for (const auto& r : exitRequests) {
    if (r.accepted && (r.flags & EWX_REBOOT)) return true;
  }
  return false;
}

}  // namespace emu

using namespace emu;

BOOL WINAPI OpenProcessToken(HANDLE process, DWORD access, PHANDLE token) {
  if (FaultFor("OpenProcessToken", "")) return FALSE;
  if (IsWin9xFamily()) return Fail(ERROR_CALL_NOT_IMPLEMENTED);
  if (process != GetCurrentProcess() || !token) return Fail(ERROR_INVALID_HANDLE);
  KernelObject object;
  object.kind = HandleKind::Token;
  object.access = access;
  *token = NewKernelHandle(std::move(object));
  return TRUE;
}

BOOL WINAPI LookupPrivilegeValueA(LPCSTR, LPCSTR name, PLUID luid) {
  CountCall("LookupPrivilegeValueA");
  if (IsWin9xFamily()) return Fail(ERROR_CALL_NOT_IMPLEMENTED);
  Privilege* p = name ? ByName(name) : nullptr;
  if (!p || !luid) return Fail(ERROR_NO_SUCH_PRIVILEGE);
  luid->LowPart = p->luid;
  luid->HighPart = 0;
  return TRUE;
}

BOOL WINAPI AdjustTokenPrivileges(HANDLE token, BOOL disableAll, PTOKEN_PRIVILEGES newState,
                                  DWORD, PTOKEN_PRIVILEGES previousState, LPDWORD returnLength) {
  if (FaultFor("AdjustTokenPrivileges", "")) return FALSE;
  KernelObject* t = FindKernelHandle(token, HandleKind::Token);
  if (!t) return Fail(ERROR_INVALID_HANDLE);
  if (!(t->access & TOKEN_ADJUST_PRIVILEGES)) return Fail(ERROR_ACCESS_DENIED);
  (void)previousState;
  if (returnLength) *returnLength = 0;
  if (disableAll) {
    for (auto& p : privileges) p.enabled = false;
    SetLastError(ERROR_SUCCESS);
    return TRUE;
  }
  if (!newState) return Fail(ERROR_INVALID_PARAMETER);
  bool allAssigned = true;
  for (DWORD i = 0; i < newState->PrivilegeCount; ++i) {
    LUID_AND_ATTRIBUTES entry;
    std::memcpy(&entry, reinterpret_cast<const char*>(newState->Privileges) + i * sizeof entry,
                sizeof entry);
    Privilege* match = nullptr;
    for (auto& p : privileges) {
      if (p.luid == entry.Luid.LowPart && entry.Luid.HighPart == 0) match = &p;
    }
    if (!match || !match->held) {
      allAssigned = false;
      continue;
    }
    match->enabled = (entry.Attributes & SE_PRIVILEGE_ENABLED) != 0;
  }
  SetLastError(allAssigned ? ERROR_SUCCESS : ERROR_NOT_ALL_ASSIGNED);
  return TRUE;
}

BOOL WINAPI ExitWindowsEx(UINT flags, DWORD reason) {
  if (FaultFor("ExitWindowsEx", "")) {
    exitRequests.push_back(ExitRequest{flags, reason, false});
    return FALSE;
  }
  bool needsPrivilege = !IsWin9xFamily() && (flags & (EWX_REBOOT | EWX_SHUTDOWN | EWX_POWEROFF));
  if (needsPrivilege && !PrivilegeEnabled(SE_SHUTDOWN_NAME)) {
    exitRequests.push_back(ExitRequest{flags, reason, false});
    return Fail(ERROR_PRIVILEGE_NOT_HELD);
  }
  exitRequests.push_back(ExitRequest{flags, reason, true});
  return TRUE;
}
