// Processes of a planted infection: `spawn` starts an exe and leaves it
// running after the driver ends; with --guard its process object denies
// PROCESS_TERMINATE to everyone, so no other process can end it (the
// wineserver still can). `alive` tells whether a process still runs;
// `settle` uses a font once.
#include <windows.h>
#include <aclapi.h>

#include <cstdio>
#include <cstdlib>

#include "commands.h"

namespace {

// Everyone may query, read and wait on the process, nothing more.
bool DenyTermination(HANDLE process) {
  SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
  PSID everyone = nullptr;
  if (!AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &everyone)) {
    return false;
  }
  const DWORD allowed = PROCESS_QUERY_INFORMATION | PROCESS_QUERY_LIMITED_INFORMATION |
                        PROCESS_VM_READ | SYNCHRONIZE | READ_CONTROL;
  DWORD size = sizeof(ACL) + sizeof(ACCESS_ALLOWED_ACE) + GetLengthSid(everyone);
  PACL acl = static_cast<PACL>(std::calloc(1, size));
  bool ok = acl && InitializeAcl(acl, size, ACL_REVISION) &&
            AddAccessAllowedAce(acl, ACL_REVISION, allowed, everyone) &&
            SetSecurityInfo(process, SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                            acl, nullptr) == ERROR_SUCCESS;
  std::free(acl);
  FreeSid(everyone);
  return ok;
}

}  // namespace

int SpawnCommand(const Args& args) {
  size_t at = 0;
  bool guard = at < args.size() && args[at] == "--guard";
  if (guard) ++at;
  if (at >= args.size()) {
    std::fputs("spawn: no exe given\n", stderr);
    return 2;
  }
  std::string commandLine = "\"" + args[at] + "\"";
  for (size_t i = at + 1; i < args.size(); ++i) commandLine += " " + args[i];
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info = {};
  if (!CreateProcessA(args[at].c_str(), &commandLine[0], nullptr, nullptr, FALSE,
                      CREATE_SUSPENDED | DETACHED_PROCESS, nullptr, "C:\\", &startup, &info)) {
    std::fprintf(stderr, "spawn: cannot start %s (error %lu)\n", args[at].c_str(), GetLastError());
    return 1;
  }
  if (guard) {
    bool denied = DenyTermination(info.hProcess);
    HANDLE probe = denied ? OpenProcess(PROCESS_TERMINATE, FALSE, info.dwProcessId) : nullptr;
    if (!denied || probe) {
      if (probe) CloseHandle(probe);
      std::fputs("spawn: the process object does not refuse termination\n", stderr);
      TerminateProcess(info.hProcess, 1);
      return 1;
    }
  }
  ResumeThread(info.hThread);
  CloseHandle(info.hThread);
  CloseHandle(info.hProcess);
  std::printf("%lu\n", info.dwProcessId);
  return 0;
}

int AliveCommand(const Args& args) {
  if (args.size() != 1) return 2;
  DWORD id = std::strtoul(args[0].c_str(), nullptr, 10);
  HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, id);
  if (!process) return 1;
  bool running = WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
  CloseHandle(process);
  return running ? 0 : 1;
}

int SettleCommand(const Args& args) {
  if (!args.empty()) return 2;
  HDC screen = GetDC(nullptr);
  if (!screen) return 1;
  HFONT font = CreateFontA(-12, 0, 0, 0, FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET, 0, 0, 0, 0, "Tahoma");
  HGDIOBJ old = SelectObject(screen, font);
  SIZE size = {};
  GetTextExtentPoint32A(screen, "Sorvane", 7, &size);
  SelectObject(screen, old);
  DeleteObject(font);
  ReleaseDC(nullptr, screen);
  return size.cx > 0 ? 0 : 1;
}
