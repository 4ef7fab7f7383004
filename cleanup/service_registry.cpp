// Removes the registration of a service whose image was found infected, in
// both control sets, and only where the registration names that image: a
// service that merely shares the image's file name is left alone. The same
// test decides whether the service may be stopped at all.
#include "cleanup/service_stop.h"

#include "cleanup/image_identity.h"
#include "platform/system.h"

namespace {

// The six keys, each control set's service key after its two subkeys.
const char* const ServiceKeyFormats[6] = {
    "SYSTEM\\ControlSet001\\Services\\%s\\Enum", "SYSTEM\\ControlSet001\\Services\\%s\\Security",
    "SYSTEM\\ControlSet001\\Services\\%s",       "SYSTEM\\CONTROLSET002\\SERVICES\\%s\\Enum",
    "SYSTEM\\ControlSet002\\Services\\%s\\Security", "SYSTEM\\ControlSet002\\Services\\%s",
};

const int KeyPathSize = 1024;
const int ValueSize = 1024;
const int MaxKeyDepth = 32;

// Writes `format` with `name`; false when it would not fit.
bool KeyPath(char* out, const char* format, const char* name) {
  int n = snprintf(out, KeyPathSize, format, name);
  return n > 0 && n < KeyPathSize;
}

bool StartsWithNoCase(const char* text, const char* prefix) {
  return _strnicmp(text, prefix, strlen(prefix)) == 0;
}

// The service key's "ImagePath" names the image.
bool KeyNamesImage(const char* keyPath, const char* imagePath) {
  HKEY key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  char value[ValueSize + 1];
  DWORD type = 0;
  DWORD size = ValueSize;
  LONG e = RegQueryValueExA(key, "ImagePath", nullptr, &type, reinterpret_cast<LPBYTE>(value), &size);
  RegCloseKey(key);
  if (e != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ) || size == 0) return false;
  value[size <= ValueSize ? size : ValueSize] = 0;
  return ImagePathNames(value, imagePath);
}

// Deletes a key below HKLM with everything under it; true when it is gone.
bool DeleteKeyTree(const char* keyPath, int depth) {
  if (depth > MaxKeyDepth) return false;
  for (;;) {
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath, 0, KEY_READ, &key) != ERROR_SUCCESS) break;
    char name[256];
    DWORD length = sizeof name;
    LONG e = RegEnumKeyExA(key, 0, name, &length, nullptr, nullptr, nullptr, nullptr);
    RegCloseKey(key);
    if (e != ERROR_SUCCESS) break;
    char child[KeyPathSize];
    int n = snprintf(child, sizeof child, "%s\\%s", keyPath, name);
    if (n <= 0 || n >= KeyPathSize || !DeleteKeyTree(child, depth + 1)) return false;
  }
  return RegDeleteKeyA(HKEY_LOCAL_MACHINE, keyPath) == ERROR_SUCCESS;
}

}  // namespace

bool ImagePathNames(const char* value, const char* imagePath) {
  if (!*imagePath) return false;
  char expanded[ValueSize];
  DWORD n = ExpandEnvironmentStringsA(value, expanded, sizeof expanded);
  if (n == 0 || n > sizeof expanded) return false;
  char* path = expanded;
  while (*path == ' ' || *path == '\t') ++path;
  bool quoted = *path == '"';
  if (quoted) {
    char* end = strchr(++path, '"');
    if (!end) return false;
    *end = 0;
  }
  // The native forms the service manager also accepts: "\??\", and
  // "\SystemRoot\" or a relative path for the Windows directory.
  if (StartsWithNoCase(path, "\\??\\")) path += 4;
  char windows[MAX_PATH];
  const char* under = nullptr;
  if (StartsWithNoCase(path, "\\SystemRoot\\")) {
    under = path + strlen("\\SystemRoot\\");
  } else if (*path && *path != '\\' && path[1] != ':') {
    under = path;
  }
  char rooted[ValueSize + MAX_PATH];
  if (under) {
    UINT w = GetWindowsDirectoryA(windows, sizeof windows);
    if (w == 0 || w >= sizeof windows) return false;
    snprintf(rooted, sizeof rooted, "%s\\%s", windows, under);
    path = rooted;
  }
  // Quoted: the path as a whole. Unquoted: the image, maybe followed by
  // arguments, so each part up to a blank is tried, shortest first.
  for (char* cut = path;; ++cut) {
    if (quoted ? *cut == 0 : *cut == 0 || *cut == ' ' || *cut == '\t') {
      char kept = *cut;
      *cut = 0;
      bool same = SameImageFile(path, imagePath);
      *cut = kept;
      if (same) return true;
    }
    if (*cut == 0) return false;
  }
}

int ServiceRunsImage(const char* serviceName, const char* imagePath) {
  if (!*serviceName || strchr(serviceName, '\\')) return 0;
  char key[KeyPathSize];
  if (!KeyPath(key, "SYSTEM\\CurrentControlSet\\Services\\%s", serviceName)) return 0;
  return KeyNamesImage(key, imagePath) ? 1 : 0;
}

int ServiceRegistryKeys(const char* serviceName, const char* imagePath) {
  // An empty name would make the Services key itself the service key.
  if (!*serviceName || strchr(serviceName, '\\')) return 0;
  int deleted = 0;
  for (int set = 0; set < 2; ++set) {
    char keys[3][KeyPathSize];
    bool fit = true;
    for (int k = 0; k < 3; ++k) fit = fit && KeyPath(keys[k], ServiceKeyFormats[set * 3 + k], serviceName);
    if (!fit || !KeyNamesImage(keys[2], imagePath)) continue;
    DeleteKeyTree(keys[0], 0);
    DeleteKeyTree(keys[1], 0);
    if (DeleteKeyTree(keys[2], 0)) deleted = 1;
  }
  return deleted;
}
