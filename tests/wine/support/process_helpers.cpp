// Helpers of the cleanup tests on the real platform.
#include "support/process_helpers.h"

#include <algorithm>

bool WriteBytes(const std::string& path, const void* bytes, size_t size) {
  for (size_t at = path.find('\\', 3); at != std::string::npos; at = path.find('\\', at + 1)) {
    CreateDirectoryA(path.substr(0, at).c_str(), nullptr);
  }
  HANDLE f = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (f == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  BOOL ok = WriteFile(f, bytes, static_cast<DWORD>(size), &written, nullptr);
  CloseHandle(f);
  return ok && written == size;
}

std::string ReadText(const std::string& path) {
  std::string out;
  HANDLE f = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (f == INVALID_HANDLE_VALUE) return out;
  char buffer[4096];
  DWORD got = 0;
  while (ReadFile(f, buffer, sizeof buffer, &got, nullptr) && got) out.append(buffer, got);
  CloseHandle(f);
  return out;
}

StartedProcess::StartedProcess(const std::string& commandLine, bool inheritHandles) {
  STARTUPINFOA si{};
  si.cb = sizeof si;
  std::string line = commandLine;
  if (!CreateProcessA(nullptr, &line[0], nullptr, nullptr, inheritHandles, 0, nullptr, nullptr, &si,
                      &info_)) {
    info_ = PROCESS_INFORMATION{};
  }
}

StartedProcess::~StartedProcess() {
  if (!info_.hProcess) return;
  if (WaitForSingleObject(info_.hProcess, 0) != WAIT_OBJECT_0) {
    TerminateProcess(info_.hProcess, 99);
    WaitForSingleObject(info_.hProcess, 5000);
  }
  CloseHandle(info_.hThread);
  CloseHandle(info_.hProcess);
}

bool StartedProcess::Ended(DWORD milliseconds, DWORD* exitCode) const {
  if (!info_.hProcess || WaitForSingleObject(info_.hProcess, milliseconds) != WAIT_OBJECT_0) return false;
  if (exitCode) GetExitCodeProcess(info_.hProcess, exitCode);
  return true;
}

long RunAndWait(const std::string& commandLine, DWORD milliseconds) {
  StartedProcess p(commandLine, true);
  DWORD code = 0;
  if (!p.Started() || !p.Ended(milliseconds, &code)) return -1;
  return static_cast<long>(code);
}

std::vector<std::string> ValueNames(HKEY root, const char* keyPath) {
  std::vector<std::string> names;
  HKEY key;
  if (RegOpenKeyExA(root, keyPath, 0, KEY_READ, &key) != ERROR_SUCCESS) return names;
  for (DWORD i = 0;; ++i) {
    char name[16384];
    DWORD size = sizeof name;
    if (RegEnumValueA(key, i, name, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    names.push_back(name);
  }
  RegCloseKey(key);
  std::sort(names.begin(), names.end());
  return names;
}

bool KeyExists(HKEY root, const char* keyPath) {
  HKEY key;
  if (RegOpenKeyExA(root, keyPath, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  RegCloseKey(key);
  return true;
}
