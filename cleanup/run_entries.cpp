// Removal of the Run values that launch the file under examination,
// whatever names the malware gave them. Values are enumerated by index
// minus the number deleted so far, since each deletion moves the later
// values down by one place.
#include "cleanup/run_entries.h"

#include "cleanup/registry_values.h"
#include "engine/scan_result.h"
#include "engine/shared_state.h"

namespace {

const char BackdoorFamily[] = "W32/Murkel.Backdoor";

char ValueName[16384];  // the longest value name and its terminator
char RunValueData[264];
char Expanded[261];
char ScanFile[ScanFileBufferSize];

bool BeginsWith(const char* text, const char* prefix, size_t length) {
  if (*text == '"') ++text;
  return strncmp(text, prefix, length) == 0;
}

}  // namespace

void CleanRunEntriesForFile(HKEY root, const char* keyPath) {
  HKEY key;
  if (RegOpenKeyExA(root, keyPath, 0, KEY_READ, &key) != ERROR_SUCCESS) return;
  DWORD values = 0;
  if (RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, nullptr,
                       nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
    values = 0;
  }
  DWORD deleted = 0;
  for (DWORD i = 0; i < values; ++i) {
    DWORD nameSize = sizeof ValueName;
    if (RegEnumValueA(key, i - deleted, ValueName, &nameSize, nullptr, nullptr, nullptr, nullptr) !=
        ERROR_SUCCESS) {
      continue;
    }
    if (!memchr(CurrentScanFile, '\\', strnlen(CurrentScanFile, sizeof CurrentScanFile))) break;
    if (!ReadRegistryValue(root, keyPath, ValueName, RunValueData, sizeof RunValueData)) continue;
    _strlwr(RunValueData);
    DWORD needed = ExpandEnvironmentStringsA(RunValueData, Expanded, sizeof Expanded);
    if (needed == 0) continue;
    // An expansion that did not fit is not used at all.
    bool expandedFits = needed <= sizeof Expanded;
    if (expandedFits) _strlwr(Expanded);
    size_t length = strnlen(CurrentScanFile, sizeof CurrentScanFile - 1);
    if (length == 0) break;
    memcpy(ScanFile, CurrentScanFile, length);
    ScanFile[length] = 0;
    _strlwr(ScanFile);
    bool match = BeginsWith(RunValueData, ScanFile, length) ||
                 (expandedFits && BeginsWith(Expanded, ScanFile, length));
    if (match && DeleteRegistryValue(root, keyPath, ValueName)) {
      EmitRegistryRemoval(BackdoorFamily, RegistryRemoval{root, keyPath, ValueName});
      ++deleted;
    }
  }
  RegCloseKey(key);
}
