// The registry steps of the cleanup. Values are read whole and cut to the
// caller's buffer, so that nothing is written past it whatever size the
// value has.
#include "cleanup/registry_values.h"

#include <cstdlib>

bool ReadRegistryValue(HKEY root, const char* keyPath, const char* valueName, char* buffer,
                       DWORD bufferSize) {
  if (bufferSize == 0) return false;
  buffer[0] = 0;
  HKEY key;
  if (RegOpenKeyExA(root, keyPath, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  DWORD type = REG_SZ;
  DWORD size = 0;
  bool ok = RegQueryValueExA(key, valueName, nullptr, &type, nullptr, &size) == ERROR_SUCCESS;
  if (ok && size < bufferSize) {
    DWORD got = size;
    ok = RegQueryValueExA(key, valueName, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &got) ==
         ERROR_SUCCESS;
    buffer[ok && got <= size ? got : 0] = 0;
  } else if (ok) {
    // Longer than the buffer: read it whole, keep what fits.
    BYTE* whole = static_cast<BYTE*>(malloc(size));
    DWORD got = size;
    ok = whole && RegQueryValueExA(key, valueName, nullptr, &type, whole, &got) == ERROR_SUCCESS;
    if (ok) {
      DWORD keep = got < bufferSize - 1 ? got : bufferSize - 1;
      memcpy(buffer, whole, keep);
      buffer[keep] = 0;
    }
    free(whole);
  }
  if (RegCloseKey(key) != ERROR_SUCCESS) ok = false;
  return ok;
}

bool DeleteRegistryValue(HKEY root, const char* keyPath, const char* valueName) {
  HKEY key;
  if (RegOpenKeyExA(root, keyPath, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) return false;
  if (RegDeleteValueA(key, valueName) != ERROR_SUCCESS) {
    RegCloseKey(key);
    return false;
  }
  return RegCloseKey(key) == ERROR_SUCCESS;
}

bool DeleteRegistryKey(HKEY root, const char* keyPath) {
  return RegDeleteKeyA(root, keyPath) == ERROR_SUCCESS;
}
