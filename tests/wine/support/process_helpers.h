// Helpers of the cleanup tests on the real platform: files from embedded
// bytes, processes started and waited for, registry value listings.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// Writes `size` bytes to `path` (parent folders are created); true on success.
bool WriteBytes(const std::string& path, const void* bytes, size_t size);

// The whole content of a file; empty when it cannot be read.
std::string ReadText(const std::string& path);

// A process the test started; it is terminated and closed at the end of
// the object's life if it is still running.
class StartedProcess {
 public:
  explicit StartedProcess(const std::string& commandLine, bool inheritHandles = false);
  ~StartedProcess();
  StartedProcess(const StartedProcess&) = delete;
  StartedProcess& operator=(const StartedProcess&) = delete;

  bool Started() const { return info_.hProcess != nullptr; }
  DWORD Id() const { return info_.dwProcessId; }
  // True when the process ended within `milliseconds`; *exitCode its code.
  bool Ended(DWORD milliseconds, DWORD* exitCode = nullptr) const;

 private:
  PROCESS_INFORMATION info_{};
};

// Runs a command line and waits for it; its exit code, or -1 when it could
// not start or did not end within `milliseconds`.
long RunAndWait(const std::string& commandLine, DWORD milliseconds = 60000);

// Names of the values of a key, sorted; empty when the key cannot be opened.
std::vector<std::string> ValueNames(HKEY root, const char* keyPath);

// True when the key exists.
bool KeyExists(HKEY root, const char* keyPath);
