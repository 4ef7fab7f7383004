// Hands each fuzz input to the code under test as a file on the emulated
// C: drive (a fresh temporary host directory).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// The host directory of C: (made on first use).
const std::string& FuzzDriveRoot();

// Writes the input to C:\<name> (a path below the root, "/" separated);
// false when it could not be written.
bool WriteFuzzFile(const char* name, const uint8_t* data, size_t size);
