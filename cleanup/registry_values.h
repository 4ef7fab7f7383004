// The registry steps of the cleanup: read one value as text, delete one
// value, delete one key.
#pragma once

#include "platform/system.h"

// Reads the value's data into `buffer` as terminated text: data longer
// than the buffer is cut to bufferSize - 1 bytes, and a terminator is
// always written inside the buffer. True when the key opened, the value
// was read and the key closed.
bool ReadRegistryValue(HKEY root, const char* keyPath, const char* valueName, char* buffer,
                       DWORD bufferSize);

// Opens the key with every right and deletes the value.
bool DeleteRegistryValue(HKEY root, const char* keyPath, const char* valueName);

// Deletes the key; a key that still has subkeys may be refused (NT family).
bool DeleteRegistryKey(HKEY root, const char* keyPath);
