// The Win32 registry calls over the emulated key tree: handles, access
// rights per key, Windows' size and error rules, and injected faults.
// Queries of HKEY_PERFORMANCE_DATA go to the performance-data builder.
#include <algorithm>
#include <cstring>
#include <map>

#include "platform/emu/machine.h"
#include "platform/emu/perf_data.h"
#include "platform/emu/registry_tree.h"
#include "platform/emu/system_state.h"
#include "platform/emu/text_codec.h"

using namespace emu;
using emu::reg::Key;

namespace {

struct Handle {
  std::shared_ptr<Key> key;
  REGSAM access;
};

std::map<uintptr_t, Handle> handles;
uintptr_t nextHandle = 0x60000000;

void ResetHandles() {
  handles.clear();
  nextHandle = 0x60000000;
}
ResetHook handleHook(ResetHandles);

const REGSAM WriteRights = KEY_SET_VALUE | KEY_CREATE_SUB_KEY | KEY_CREATE_LINK | DELETE |
                           0x00040000L /* WRITE_DAC */ | 0x00080000L /* WRITE_OWNER */;

std::shared_ptr<Key> Share(Key* key) {
  if (!key->parent) {
    for (auto& r : reg::Roots()) {
      if (r.key.get() == key) return r.key;
    }
  }
  if (!key->parent) return nullptr;  // a tree not in the registry
  for (auto& k : key->parent->subkeys) {
    if (k.get() == key) return k;
  }
  return nullptr;
}

// The key behind a handle (a root or an opened key); *access the rights it
// was opened with. Null for an unknown handle.
Key* KeyOf(HKEY hkey, REGSAM* access) {
  if (reg::Root* root = reg::RootByHandle(hkey)) {
    *access = KEY_ALL_ACCESS;
    return root->key.get();
  }
  auto it = handles.find(reinterpret_cast<uintptr_t>(hkey));
  if (it == handles.end()) return nullptr;
  *access = it->second.access;
  return it->second.key.get();
}

bool Refused(Key* key, REGSAM wanted) {
  KeyAccess a = reg::AccessOf(key);
  if (a == KeyAccess::None) return true;
  return a == KeyAccess::ReadOnly && (wanted & WriteRights);
}

// A call on a deleted key fails before any injected fault is looked up: the
// key no longer has a path (its tree may be gone), and Windows fails such a
// call whatever it asks.
LONG Deleted(const char* op, const Key* key) {
  if (!key->deleted) return ERROR_SUCCESS;
  CountCall(op);
  return ERROR_KEY_DELETED;
}

LONG Fault(const char* op, const std::string& path) {
  CountCall(op);
  DWORD error;
  if (ShouldFail(op, path.c_str(), &error)) return static_cast<LONG>(error);
  return ERROR_SUCCESS;
}

std::string Join(const std::string& base, const char* sub) {
  if (!sub || !*sub) return base;
  return base + "\\" + sub;
}

std::string ValuePath(Key* key, const char* name) { return reg::PathOf(key) + "\\" + (name ? name : ""); }

HKEY NewHandle(Key* key, REGSAM access) {
  uintptr_t h = nextHandle;
  nextHandle += 4;
  handles[h] = Handle{Share(key), access};
  return reinterpret_cast<HKEY>(h);
}

// Copies data the way RegQueryValueExA and RegEnumValueA do.
LONG CopyData(const std::string& bytes, LPBYTE data, LPDWORD size) {
  DWORD n = static_cast<DWORD>(bytes.size());
  if (data) {
    if (!size) return ERROR_INVALID_PARAMETER;
    if (*size < n) {
      *size = n;
      return ERROR_MORE_DATA;
    }
    if (n) std::memcpy(data, bytes.data(), n);
  }
  if (size) *size = n;
  return ERROR_SUCCESS;
}

}  // namespace

namespace emu {
int OpenRegistryHandles() { return static_cast<int>(handles.size()); }
}  // namespace emu

LONG WINAPI RegOpenKeyExA(HKEY hkey, LPCSTR subKey, DWORD, REGSAM access, PHKEY result) {
  REGSAM baseAccess;
  Key* base = KeyOf(hkey, &baseAccess);
  if (!base) {
    CountCall("RegOpenKeyExA");
    return ERROR_INVALID_HANDLE;
  }
  if (!result) return ERROR_INVALID_PARAMETER;
  *result = nullptr;
  if (LONG e = Deleted("RegOpenKeyExA", base)) return e;
  if (LONG e = Fault("RegOpenKeyExA", Join(reg::PathOf(base), subKey))) return e;
  Key* key = reg::Find(base, subKey ? subKey : "");
  if (!key) return ERROR_FILE_NOT_FOUND;
  if (Refused(key, access)) return ERROR_ACCESS_DENIED;
  *result = NewHandle(key, access);
  return ERROR_SUCCESS;
}

LONG WINAPI RegCreateKeyExA(HKEY hkey, LPCSTR subKey, DWORD, LPSTR, DWORD, REGSAM access, void*,
                            PHKEY result, LPDWORD disposition) {
  REGSAM baseAccess;
  Key* base = KeyOf(hkey, &baseAccess);
  if (!base) {
    CountCall("RegCreateKeyExA");
    return ERROR_INVALID_HANDLE;
  }
  if (!result) return ERROR_INVALID_PARAMETER;
  *result = nullptr;
  if (LONG e = Deleted("RegCreateKeyExA", base)) return e;
  if (LONG e = Fault("RegCreateKeyExA", Join(reg::PathOf(base), subKey))) return e;
  Key* key = reg::Find(base, subKey ? subKey : "");
  if (key) {
    if (Refused(key, access)) return ERROR_ACCESS_DENIED;
    if (disposition) *disposition = 2;  // REG_OPENED_EXISTING_KEY
    key->listed = true;
  } else {
    // The nearest existing ancestor decides whether a subkey may be created.
    std::string sub = subKey ? subKey : "";
    Key* parent = base;
    Key* probe = base;
    size_t pos = 0;
    while (probe && pos < sub.size()) {
      size_t end = sub.find('\\', pos);
      std::string part = sub.substr(pos, end == std::string::npos ? std::string::npos : end - pos);
      pos = end == std::string::npos ? sub.size() : end + 1;
      if (part.empty()) continue;
      probe = reg::Find(probe, part);
      if (probe) parent = probe;
    }
    if (Refused(parent, KEY_CREATE_SUB_KEY)) return ERROR_ACCESS_DENIED;
    key = reg::Create(base, sub, true);
    if (Refused(key, access)) return ERROR_ACCESS_DENIED;
    if (disposition) *disposition = 1;  // REG_CREATED_NEW_KEY
  }
  *result = NewHandle(key, access);
  return ERROR_SUCCESS;
}

LONG WINAPI RegCloseKey(HKEY hkey) {
  CountCall("RegCloseKey");
  if (reg::RootByHandle(hkey)) return ERROR_SUCCESS;
  auto it = handles.find(reinterpret_cast<uintptr_t>(hkey));
  if (it == handles.end()) return ERROR_INVALID_HANDLE;
  handles.erase(it);
  return ERROR_SUCCESS;
}

LONG WINAPI RegQueryValueExA(HKEY hkey, LPCSTR name, LPDWORD, LPDWORD type, LPBYTE data,
                             LPDWORD size) {
  if (hkey == HKEY_PERFORMANCE_DATA) return QueryPerformanceData(name, type, data, size);
  REGSAM access;
  Key* key = KeyOf(hkey, &access);
  if (!key) {
    CountCall("RegQueryValueExA");
    return ERROR_INVALID_HANDLE;
  }
  if (LONG e = Deleted("RegQueryValueExA", key)) return e;
  if (LONG e = Fault("RegQueryValueExA", ValuePath(key, name))) return e;
  if (!(access & KEY_QUERY_VALUE)) return ERROR_ACCESS_DENIED;
  reg::Value* v = reg::FindValue(key, std::string(name ? name : ""));
  if (!v) return ERROR_FILE_NOT_FOUND;
  LONG r = CopyData(v->AnsiData(), data, size);
  if (type && r != ERROR_INVALID_PARAMETER) *type = v->type;
  return r;
}

LONG WINAPI RegSetValueExA(HKEY hkey, LPCSTR name, DWORD, DWORD type, const BYTE* data,
                           DWORD size) {
  REGSAM access;
  Key* key = KeyOf(hkey, &access);
  if (!key) {
    CountCall("RegSetValueExA");
    return ERROR_INVALID_HANDLE;
  }
  if (LONG e = Deleted("RegSetValueExA", key)) return e;
  if (LONG e = Fault("RegSetValueExA", ValuePath(key, name))) return e;
  if (!(access & KEY_SET_VALUE)) return ERROR_ACCESS_DENIED;
  if (size && !data) return ERROR_INVALID_PARAMETER;
  std::string bytes(reinterpret_cast<const char*>(data), data ? size : 0);
  reg::SetValue(key, std::string(name ? name : ""), type, bytes);
  return ERROR_SUCCESS;
}

LONG WINAPI RegQueryInfoKeyA(HKEY hkey, LPSTR className, LPDWORD classSize, LPDWORD,
                             LPDWORD subKeys, LPDWORD maxSubKeyLength, LPDWORD maxClassLength,
                             LPDWORD values, LPDWORD maxValueNameLength, LPDWORD maxValueLength,
                             LPDWORD securityDescriptorSize, FILETIME* lastWriteTime) {
  REGSAM access;
  Key* key = KeyOf(hkey, &access);
  if (!key) {
    CountCall("RegQueryInfoKeyA");
    return ERROR_INVALID_HANDLE;
  }
  if (LONG e = Deleted("RegQueryInfoKeyA", key)) return e;
  if (LONG e = Fault("RegQueryInfoKeyA", reg::PathOf(key))) return e;
  if (className && classSize && *classSize) className[0] = 0;
  if (classSize) *classSize = 0;
  if (maxClassLength) *maxClassLength = 0;
  DWORD maxSub = 0, maxName = 0, maxData = 0;
  for (const auto& k : key->subkeys) maxSub = std::max<DWORD>(maxSub, static_cast<DWORD>(k->name.size()));
  for (const auto& v : key->values) {
    maxName = std::max<DWORD>(maxName, static_cast<DWORD>(v.name.size()));
    maxData = std::max<DWORD>(maxData, static_cast<DWORD>(v.AnsiData().size()));
  }
  if (subKeys) *subKeys = static_cast<DWORD>(key->subkeys.size());
  if (maxSubKeyLength) *maxSubKeyLength = maxSub;
  if (values) *values = static_cast<DWORD>(key->values.size());
  if (maxValueNameLength) *maxValueNameLength = maxName;
  if (maxValueLength) *maxValueLength = maxData;
  if (securityDescriptorSize) *securityDescriptorSize = 0;
  if (lastWriteTime) *lastWriteTime = FILETIME{0, 0};
  return ERROR_SUCCESS;
}

LONG WINAPI RegEnumValueA(HKEY hkey, DWORD index, LPSTR name, LPDWORD nameSize, LPDWORD,
                          LPDWORD type, LPBYTE data, LPDWORD dataSize) {
  REGSAM access;
  Key* key = KeyOf(hkey, &access);
  if (!key) {
    CountCall("RegEnumValueA");
    return ERROR_INVALID_HANDLE;
  }
  if (LONG e = Deleted("RegEnumValueA", key)) return e;
  if (LONG e = Fault("RegEnumValueA", reg::PathOf(key))) return e;
  if (!(access & KEY_QUERY_VALUE)) return ERROR_ACCESS_DENIED;
  if (!name || !nameSize) return ERROR_INVALID_PARAMETER;
  if (index >= key->values.size()) return ERROR_NO_MORE_ITEMS;
  const reg::Value& v = key->values[index];
  const std::string ansiName = NarrowToAnsi(v.name);
  if (*nameSize <= ansiName.size()) return ERROR_MORE_DATA;
  std::memcpy(name, ansiName.c_str(), ansiName.size() + 1);
  *nameSize = static_cast<DWORD>(ansiName.size());
  if (type) *type = v.type;
  return CopyData(v.AnsiData(), data, dataSize);
}

LONG WINAPI RegEnumKeyExA(HKEY hkey, DWORD index, LPSTR name, LPDWORD nameSize, LPDWORD,
                          LPSTR className, LPDWORD classSize, FILETIME* lastWriteTime) {
  REGSAM access;
  Key* key = KeyOf(hkey, &access);
  if (!key) {
    CountCall("RegEnumKeyExA");
    return ERROR_INVALID_HANDLE;
  }
  if (LONG e = Deleted("RegEnumKeyExA", key)) return e;
  if (LONG e = Fault("RegEnumKeyExA", reg::PathOf(key))) return e;
  if (!(access & KEY_ENUMERATE_SUB_KEYS)) return ERROR_ACCESS_DENIED;
  if (!name || !nameSize) return ERROR_INVALID_PARAMETER;
  if (index >= key->subkeys.size()) return ERROR_NO_MORE_ITEMS;
  const std::string n = NarrowToAnsi(key->subkeys[index]->name);
  if (*nameSize <= n.size()) return ERROR_MORE_DATA;
  std::memcpy(name, n.c_str(), n.size() + 1);
  *nameSize = static_cast<DWORD>(n.size());
  if (className && classSize && *classSize) className[0] = 0;
  if (classSize) *classSize = 0;
  if (lastWriteTime) *lastWriteTime = FILETIME{0, 0};
  return ERROR_SUCCESS;
}

LONG WINAPI RegDeleteValueA(HKEY hkey, LPCSTR name) {
  REGSAM access;
  Key* key = KeyOf(hkey, &access);
  if (!key) {
    CountCall("RegDeleteValueA");
    return ERROR_INVALID_HANDLE;
  }
  if (LONG e = Deleted("RegDeleteValueA", key)) return e;
  if (LONG e = Fault("RegDeleteValueA", ValuePath(key, name))) return e;
  if (!(access & KEY_SET_VALUE)) return ERROR_ACCESS_DENIED;
  return reg::RemoveValue(key, WidenAnsi(name ? name : "")) ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
}

LONG WINAPI RegDeleteKeyA(HKEY hkey, LPCSTR subKey) {
  REGSAM access;
  Key* base = KeyOf(hkey, &access);
  if (!base) {
    CountCall("RegDeleteKeyA");
    return ERROR_INVALID_HANDLE;
  }
  if (LONG e = Deleted("RegDeleteKeyA", base)) return e;
  if (LONG e = Fault("RegDeleteKeyA", Join(reg::PathOf(base), subKey))) return e;
  if (!subKey || !*subKey) return ERROR_INVALID_PARAMETER;
  Key* key = reg::Find(base, subKey);
  if (!key) return ERROR_FILE_NOT_FOUND;
  if (!key->parent || Refused(key, DELETE)) return ERROR_ACCESS_DENIED;
  // The NT family refuses a key that still has subkeys; the 9x family
  // deletes the whole tree.
  if (!key->subkeys.empty() && !DeletesKeyTrees()) return ERROR_ACCESS_DENIED;
  reg::Remove(key);
  return ERROR_SUCCESS;
}
