// The unattended run's log file.
#include "ui/run_log.h"

RunLog::~RunLog() { Close(); }

bool RunLog::Open(const std::string& path) {
  Close();
  m_path = path;
  m_file = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
  m_intact = m_file != INVALID_HANDLE_VALUE;
  return m_intact;
}

void RunLog::Line(const std::string& text) {
  if (m_file == INVALID_HANDLE_VALUE) return;
  std::string line = text + "\r\n";
  DWORD written = 0;
  if (!WriteFile(m_file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr) ||
      written != line.size()) {
    m_intact = false;
  }
}

void RunLog::Close() {
  if (m_file == INVALID_HANDLE_VALUE) return;
  if (!CloseHandle(m_file)) m_intact = false;
  m_file = INVALID_HANDLE_VALUE;
}

std::string DefaultLogPath() {
  char folder[MAX_PATH];
  UINT n = GetWindowsDirectoryA(folder, sizeof folder);
  std::string path = n > 0 && n < sizeof folder ? folder : "C:\\WINDOWS";
  if (path.back() != '\\') path += '\\';
  return path + "sorvane.log";
}
