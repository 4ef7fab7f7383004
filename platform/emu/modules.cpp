// Modules of the emulated machine for LoadLibraryA and GetProcAddress:
// "Kernel32.dll" (with the Toolhelp calls where the platform has them),
// "psapi.dll" and any module a test adds. A module is found by its bare
// name or by its full path in the system directory; every name asked for
// is recorded.
#include <strings.h>

#include <cstring>
#include <map>

#include "platform/emu/fs.h"
#include "platform/emu/machine.h"
#include "platform/emu/psapi_module.h"
#include "platform/emu/system_state.h"

namespace emu {
namespace {

struct Module {
  std::string fileName;
  std::vector<std::pair<std::string, FARPROC>> exports;
};

std::vector<Module> modules;
std::vector<std::string> loaded;
int toolhelp;  // -1 absent, 1 present, 0 as the platform has it
const uintptr_t ModuleBase = 0x10000000;

// Through void (*)(), the function type that converts to any other without
// a warning.
template <typename F>
FARPROC Proc(F f) {
  return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(f));
}

void ResetModules() {
  modules.clear();
  loaded.clear();
  toolhelp = 0;
  modules.push_back(Module{"kernel32.dll", {}});
  modules.push_back(Module{"psapi.dll", PsapiExports()});
}
ResetHook moduleHook(ResetModules);

bool ToolhelpPresent() {
  if (toolhelp != 0) return toolhelp > 0;
  return IsWin9xFamily() || (PlatformId() == VER_PLATFORM_WIN32_NT && MajorVersion() >= 5);
}

// Index of the module `name` stands for, or -1.
int Lookup(const std::string& name) {
  std::string sysdir = SystemDirectory() + "\\";
  for (size_t i = 0; i < modules.size(); ++i) {
    const std::string& file = modules[i].fileName;
    std::string stem = file.substr(0, file.rfind('.'));
    if (strcasecmp(name.c_str(), file.c_str()) == 0 || strcasecmp(name.c_str(), stem.c_str()) == 0 ||
        strcasecmp(name.c_str(), (sysdir + file).c_str()) == 0) {
      return static_cast<int>(i);
    }
  }
  return -1;
}

}  // namespace

void SetToolhelpAvailable(bool available) { toolhelp = available ? 1 : -1; }

void AddModule(const std::string& fileName,
               const std::vector<std::pair<std::string, FARPROC>>& exports) {
  int i = Lookup(fileName);
  if (i >= 0) {
    modules[i].exports = exports;
  } else {
    modules.push_back(Module{fileName, exports});
  }
}

const std::vector<std::string>& LoadedLibraries() { return loaded; }

}  // namespace emu

using namespace emu;

HMODULE WINAPI LoadLibraryA(LPCSTR name) {
  loaded.push_back(name ? name : "");
  if (FaultFor("LoadLibraryA", name)) return nullptr;
  int i = name ? Lookup(name) : -1;
  if (i < 0) {
    SetLastError(126);  // ERROR_MOD_NOT_FOUND
    return nullptr;
  }
  return reinterpret_cast<HMODULE>(ModuleBase + static_cast<uintptr_t>(i) * 0x100000);
}

FARPROC WINAPI GetProcAddress(HMODULE module, LPCSTR name) {
  if (FaultFor("GetProcAddress", name)) return nullptr;
  uintptr_t m = reinterpret_cast<uintptr_t>(module);
  size_t i = (m - ModuleBase) / 0x100000;
  if (m < ModuleBase || (m - ModuleBase) % 0x100000 != 0 || i >= modules.size() || !name) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  if (i == 0 && ToolhelpPresent()) {
    if (strcmp(name, "CreateToolhelp32Snapshot") == 0) return Proc(&CreateToolhelp32Snapshot);
    if (strcmp(name, "Process32First") == 0) return Proc(&Process32First);
    if (strcmp(name, "Process32Next") == 0) return Proc(&Process32Next);
  }
  for (const auto& e : modules[i].exports) {
    if (e.first == name) return e.second;
  }
  SetLastError(127);  // ERROR_PROC_NOT_FOUND
  return nullptr;
}

BOOL WINAPI FreeLibrary(HMODULE) {
  CountCall("FreeLibrary");
  return TRUE;
}
