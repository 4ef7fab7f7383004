// Stopping an infected process as a Windows service, and removing the
// service's registration, for the memory scan on the NT family.
#pragma once

// Sends the stop request and waits while the service is stopping, at most
// MaxStopPolls polls one second apart. 1 when it reached the stopped state.
int StopService(const char* serviceName);
constexpr int MaxStopPolls = 60;

// The service name the memory scan tries for an image: its file name
// without the part from the last dot ("C:\x\evil.exe" gives "evil").
// False when it would not fit `size`.
bool ServiceNameForImage(const char* imagePath, char* name, unsigned size);

// Deletes the service's keys under HKLM\SYSTEM\ControlSet001 and
// ControlSet002 (its "Enum" and "Security" subkeys first, then the rest of
// its tree), each control set only when its "ImagePath" names `imagePath`.
// 1 when a service key was deleted, else 0.
int ServiceRegistryKeys(const char* serviceName, const char* imagePath);

// 1 when the service's "ImagePath" under
// HKLM\SYSTEM\CurrentControlSet\Services\NAME names `imagePath`, as
// ImagePathNames reads it; the memory scan stops no other service.
int ServiceRunsImage(const char* serviceName, const char* imagePath);

// True when the "ImagePath" text `value` starts the program `imagePath`:
// after expanding variables, the quoted or leading path names the same file
// as SameImageFile decides (case, a "\??\" prefix, short 8.3 forms);
// "\SystemRoot\" and relative paths are taken under the Windows directory.
bool ImagePathNames(const char* value, const char* imagePath);
