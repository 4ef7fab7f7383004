// Starting and ending the program under test; planting the sample.
#include "support/program.h"

#include <cstdio>
#include <vector>

#include "support/driver.h"

namespace ui_test {

std::string ProgramPath() { return ExeFolder() + "sorvane.exe"; }

Program::~Program() {
  if (!m_info.hProcess) return;
  if (WaitForSingleObject(m_info.hProcess, 0) == WAIT_TIMEOUT) {
    TerminateProcess(m_info.hProcess, 99);
    WaitForSingleObject(m_info.hProcess, 5000);
  }
  CloseHandle(m_info.hThread);
  CloseHandle(m_info.hProcess);
}

bool Program::Start(bool waitForDialog, const std::string& arguments) {
  std::string path = ProgramPath();
  std::string line = "\"" + path + "\"" + (arguments.empty() ? "" : " " + arguments);
  std::vector<char> commandLine(line.begin(), line.end());
  commandLine.push_back(0);
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  std::string folder = ExeFolder();
  if (!CreateProcessA(path.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                      folder.c_str(), &startup, &m_info)) {
    return false;
  }
  if (!waitForDialog) return true;
  WaitForInputIdle(m_info.hProcess, 5000);
  if (!WaitUntil([&] { return (m_dialog = FindMainDialog(Id())) != nullptr; }, 10000)) return false;
  return Sync(m_dialog);
}

bool Program::Ended(int timeoutMs) {
  return m_info.hProcess &&
         WaitForSingleObject(m_info.hProcess, static_cast<DWORD>(timeoutMs)) == WAIT_OBJECT_0;
}

DWORD Program::ExitCode() const {
  DWORD code = STILL_ACTIVE;
  if (m_info.hProcess) GetExitCodeProcess(m_info.hProcess, &code);
  return code;
}

bool PlantSample(const std::string& path) {
  std::FILE* in = std::fopen((ExeFolder() + "sample.xor").c_str(), "rb");
  if (!in) return false;
  std::vector<unsigned char> bytes;
  for (int c; (c = std::fgetc(in)) != EOF;) bytes.push_back(static_cast<unsigned char>(c ^ 0x5A));
  std::fclose(in);
  std::FILE* out = std::fopen(path.c_str(), "wb");
  if (!out) return false;
  bool ok = std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
  return std::fclose(out) == 0 && ok;
}

}  // namespace ui_test
