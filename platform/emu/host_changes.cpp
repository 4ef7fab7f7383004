// The host-change hook and the DOS attributes of ntfs-3g mounts.
#include "platform/emu/host_changes.h"

#include <map>
#include <vector>

#include "platform/emu/machine.h"
#include "platform/host/host_files.h"

namespace emu {
namespace {

// What SetFileAttributesA may change; the other bits (directory,
// compressed, sparse, reparse point...) belong to the file system.
const unsigned long Settable = 0x1 | 0x2 | 0x4 | 0x20 | 0x80 | 0x100 | 0x1000 | 0x2000;

HostChangeHook hook;

struct NtfsRoot {
  std::string host;
  bool writeThrough;
};
std::vector<NtfsRoot> ntfsRoots;
std::map<std::string, unsigned long> attributesBefore;
bool crossFileSystems = false;
std::vector<std::string> otherFileSystems;

void Reset() {
  hook = nullptr;
  ntfsRoots.clear();
  attributesBefore.clear();
  crossFileSystems = false;
  otherFileSystems.clear();
}
ResetHook resetHook(Reset);

const NtfsRoot* RootOf(const std::string& host) {
  for (const auto& r : ntfsRoots) {
    if (host == r.host || (host.compare(0, r.host.size(), r.host) == 0 && host[r.host.size()] == '/')) {
      return &r;
    }
  }
  return nullptr;
}

bool ReadRaw(const std::string& host, unsigned long* value) {
  uint32_t raw;
  if (!host::NtfsAttributes(host, &raw)) return false;
  *value = raw;
  return true;
}

}  // namespace

void SetHostChangeHook(HostChangeHook h) { hook = std::move(h); }

HostChangeHook CurrentHostChangeHook() { return hook; }

bool BeforeHostChange(HostChange change, const std::string& host, const std::string& windowsPath,
                      const std::string& newHost) {
  return !hook || hook(change, host, windowsPath, newHost);
}

void UseNtfsAttributes(const std::string& hostRoot, bool writeThrough) {
  std::string root = hostRoot;
  while (root.size() > 1 && root.back() == '/') root.pop_back();
  ntfsRoots.push_back(NtfsRoot{root, writeThrough});
}

bool NtfsAttributes(const std::string& host, unsigned long* attributes) {
  unsigned long raw;
  if (ntfsRoots.empty() || !RootOf(host) || !ReadRaw(host, &raw)) return false;
  *attributes = raw & Settable;
  return true;
}

bool SetNtfsAttributes(const std::string& host, unsigned long attributes) {
  const NtfsRoot* root = ntfsRoots.empty() ? nullptr : RootOf(host);
  unsigned long raw;
  if (!root || !root->writeThrough || !ReadRaw(host, &raw)) return false;
  // NORMAL is no bit of its own: a file with none set shows as NORMAL.
  unsigned long value = (raw & ~Settable) | (attributes & Settable & ~0x80ul);
  attributesBefore.emplace(host, raw);
  return host::SetNtfsAttributes(host, static_cast<uint32_t>(value), true);
}

bool WritesNtfsAttributes(const std::string& host) {
  const NtfsRoot* root = ntfsRoots.empty() ? nullptr : RootOf(host);
  unsigned long raw;
  return root && root->writeThrough && ReadRaw(host, &raw);
}

bool NtfsAttributesBefore(const std::string& host, unsigned long* raw) {
  auto it = attributesBefore.find(host);
  if (it == attributesBefore.end()) return false;
  *raw = it->second;
  return true;
}

void SetCrossFileSystems(bool enter) { crossFileSystems = enter; }

bool EnterOtherFileSystem(const std::string& windowsPath) {
  bool known = false;
  for (const auto& p : otherFileSystems) known = known || p == windowsPath;
  if (!known) otherFileSystems.push_back(windowsPath);
  return crossFileSystems;
}

const std::vector<std::string>& OtherFileSystems() { return otherFileSystems; }

}  // namespace emu
