// The emulated machine as a whole: reset of every part, fault injection,
// call counts and the last-error value.
#include "platform/emu/machine.h"

#include <strings.h>

#include <map>

#include "engine/shared_state.h"

namespace emu {
namespace {

std::vector<void (*)()>& ResetFunctions() {
  static std::vector<void (*)()> functions;
  return functions;
}

struct Fault {
  std::string op;
  std::string path;
  DWORD error;
  int times;  // -1: always
  int skip;
};

std::vector<Fault> faults;
std::map<std::string, int> callCounts;
DWORD lastError;

void ResetMachineCore() {
  faults.clear();
  callCounts.clear();
  lastError = 0;
}
ResetHook coreHook(ResetMachineCore);

}  // namespace

ResetHook::ResetHook(void (*reset)()) { ResetFunctions().push_back(reset); }

void ResetMachine() {
  for (auto reset : ResetFunctions()) reset();
  ResetSharedState();
}

void FailOperation(const std::string& op, const std::string& path, DWORD error, int times,
                   int skip) {
  faults.push_back(Fault{op, path, error, times, skip});
}

bool ShouldFail(const char* op, const char* path, DWORD* error) {
  for (auto& f : faults) {
    if (f.times == 0 || f.op != op) continue;
    if (!f.path.empty() && (path == nullptr || strcasecmp(f.path.c_str(), path) != 0)) continue;
    if (f.skip > 0) {
      --f.skip;
      continue;
    }
    if (f.times > 0) --f.times;
    *error = f.error;
    return true;
  }
  return false;
}

void CountCall(const char* op) { ++callCounts[op]; }

int CallCount(const std::string& op) {
  auto it = callCounts.find(op);
  return it == callCounts.end() ? 0 : it->second;
}

}  // namespace emu

DWORD WINAPI GetLastError(void) { return emu::lastError; }
void WINAPI SetLastError(DWORD error) { emu::lastError = error; }
