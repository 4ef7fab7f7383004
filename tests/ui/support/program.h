// The real sorvane.exe (next to the test exe) as a child process: start,
// find its main dialog, wait for its end. A program still running when the
// object goes is ended by its own handle.
#pragma once

#include <windows.h>

#include <string>

namespace ui_test {

class Program {
 public:
  Program() = default;
  ~Program();
  Program(const Program&) = delete;
  Program& operator=(const Program&) = delete;

  // Starts the program (with `arguments` on its command line); with
  // `waitForDialog`, also waits until its main dialog is shown and idle.
  // False when either fails.
  bool Start(bool waitForDialog = true, const std::string& arguments = "");
  // True when the program ended within `timeoutMs`.
  bool Ended(int timeoutMs = 5000);
  DWORD ExitCode() const;
  DWORD Id() const { return m_info.dwProcessId; }
  HWND Dialog() const { return m_dialog; }

 private:
  PROCESS_INFORMATION m_info = {};
  HWND m_dialog = nullptr;
};

// Path of the program under test.
std::string ProgramPath();

// Writes the synthetic backdoor sample (kept scrambled beside the tests so
// that no scan finds it there) to `path`; false when no sample was provided.
bool PlantSample(const std::string& path);

}  // namespace ui_test
