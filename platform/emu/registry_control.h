// Control API of the emulated registry: setting keys and values up, reading
// them back, access limits per key, and .reg files (REGEDIT4 and version
// 5.00) in and out. Key paths are "ROOT\\sub\\key" with ROOT one of HKCR,
// HKCU, HKLM, HKU, HKCC or their full names (HKEY_LOCAL_MACHINE, ...).
//
// Faults (emu::FailOperation) name registry calls by their Win32 names. Calls
// on a key (RegOpenKeyExA, RegCreateKeyExA, RegDeleteKeyA, RegQueryInfoKeyA,
// RegEnumValueA, RegEnumKeyExA) are keyed by the key's path, e.g.
// "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Run"; calls on a value
// (RegQueryValueExA, RegSetValueExA, RegDeleteValueA) by the key's path, a
// backslash and the value name. Performance-data queries are keyed by
// "HKEY_PERFORMANCE_DATA\\" and the value name asked for.
#pragma once

#include <string>
#include <vector>

#include "platform/system.h"

namespace emu {

// ---- Keys and values ----

void CreateRegistryKey(const std::string& keyPath);
// Sets a value of any type with raw data (creates the key and its parents).
void SetRegistryValue(const std::string& keyPath, const std::string& name, DWORD type,
                      const std::string& data);
// A REG_SZ (or REG_EXPAND_SZ) value holding text and its terminator.
void SetRegistryString(const std::string& keyPath, const std::string& name,
                       const std::string& text, DWORD type = REG_SZ);
bool RegistryKeyExists(const std::string& keyPath);
bool RegistryValueExists(const std::string& keyPath, const std::string& name);
// False when the value does not exist.
bool GetRegistryValue(const std::string& keyPath, const std::string& name, DWORD* type,
                      std::string* data);
// Value names of a key in enumeration order (empty when the key is absent).
std::vector<std::string> RegistryValueNames(const std::string& keyPath);
// Deletes a key with everything below it (nothing when absent).
void DeleteRegistryTree(const std::string& keyPath);

// ---- Access ----

enum class KeyAccess {
  Full,      // every right
  ReadOnly,  // opens asking for a write right fail, and so do deletions
  None,      // every open fails
};
// Access for a key and everything below it, unless a subkey has its own.
// The key need not exist yet. ERROR_ACCESS_DENIED is the refusal.
void SetKeyAccess(const std::string& keyPath, KeyAccess access);

// Registry handles opened by the code and not yet closed.
int OpenRegistryHandles();

// ---- .reg files ----

enum class RegFormat {
  Regedit4,         // "REGEDIT4", 8-bit text in the ANSI code page
  Regedit5,         // "Windows Registry Editor Version 5.00", UTF-16LE with a BOM
  Regedit5Utf8Bom,  // the same text in UTF-8 with a BOM
  Regedit5Utf8,     // the same text in UTF-8 without a BOM
};

// Merges a .reg file into the registry as regedit does ("[-key]" and "=-"
// delete). The format is recognised from the file. Names and data are kept
// as read. On a malformed file returns false with "line N: reason" in
// *error; what was read up to that line stays applied.
bool LoadRegistryText(const std::string& fileBytes, std::string* error);
bool LoadRegistryFile(const std::string& hostPath, std::string* error);

// The whole registry as .reg file bytes: every key created by the code, a
// file or this API, with its values, in key order, values in enumeration
// order. Keys the machine provides itself (the perflib counter names, the
// session manager) appear only once they hold values of their own.
std::string RegistryText(RegFormat format);
bool SaveRegistryFile(const std::string& hostPath, RegFormat format, std::string* error);

// Format of the last file loaded (Regedit4 when none was).
RegFormat LoadedRegistryFormat();

// Keeps a copy of the registry as it is now; RegistryChangesText then
// gives, as a .reg file, what was removed since: "[-key]" for each removed
// key (the topmost of a removed subtree) and "name"=- under its key for
// each removed value. Empty of entries when there is no copy.
void MarkRegistryBaseline();
std::string RegistryChangesText(RegFormat format);
bool SaveRegistryChanges(const std::string& hostPath, RegFormat format, std::string* error);

}  // namespace emu
