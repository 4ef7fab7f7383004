// The emulated machine as a whole: reset of every part, fault injection,
// call counts and the last-error value.
#include "platform/emu/machine.h"

#include <strings.h>

#include <forward_list>
#include <map>
#include <string_view>
#include <unordered_map>

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
// Counts by operation name; the keys view copies kept in callNames, so a
// call is counted without building a string.
std::unordered_map<std::string_view, int> callCounts;
std::forward_list<std::string> callNames;
std::unordered_map<const void*, int*> countersByAddress;
DWORD lastError;

void ResetMachineCore() {
  faults.clear();
  FaultsSet = false;
  callCounts.clear();
  callNames.clear();
  countersByAddress.clear();
  for (auto& r : RecentCounters) r = RecentCounter{nullptr, nullptr};
  lastError = 0;
}
ResetHook coreHook(ResetMachineCore);

}  // namespace

bool FaultsSet;
RecentCounter RecentCounters[RecentCounterSlots];

ResetHook::ResetHook(void (*reset)()) { ResetFunctions().push_back(reset); }

void ResetMachine() {
  for (auto reset : ResetFunctions()) reset();
}

void FailOperation(const std::string& op, const std::string& path, DWORD error, int times,
                   int skip) {
  faults.push_back(Fault{op, path, error, times, skip});
  FaultsSet = true;
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

void CountCallByName(const char* op) {
  RecentCounter& recent = RecentCounters[RecentCounterSlot(op)];
  auto known = countersByAddress.find(op);
  if (known != countersByAddress.end()) {
    recent = {op, known->second};
    ++*known->second;
    return;
  }
  auto it = callCounts.find(op);
  if (it == callCounts.end()) {
    callNames.emplace_front(op);
    it = callCounts.emplace(callNames.front(), 0).first;
  }
  ++it->second;
  countersByAddress.emplace(op, &it->second);
}

int CallCount(const std::string& op) {
  auto it = callCounts.find(op);
  return it == callCounts.end() ? 0 : it->second;
}

}  // namespace emu

DWORD WINAPI GetLastError(void) { return emu::lastError; }
void WINAPI SetLastError(DWORD error) { emu::lastError = error; }
