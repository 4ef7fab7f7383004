// The unattended run's log: a text file written line by line as the scan
// goes, so that what was done is on the disk even if the run is cut short
// (a forced restart, a crash). Other programs may read it meanwhile; no
// other scan can write it.
#pragma once

#include <windows.h>

#include <string>

class RunLog {
 public:
  RunLog() = default;
  ~RunLog();
  RunLog(const RunLog&) = delete;
  RunLog& operator=(const RunLog&) = delete;

  // Creates (or empties) the file; false when it cannot be written.
  bool Open(const std::string& path);
  // One line, ended with CR LF.
  void Line(const std::string& text);
  void Close();
  // False once a write failed (a full disk, a lost network share).
  bool Intact() const { return m_intact; }
  const std::string& Path() const { return m_path; }

 private:
  HANDLE m_file = INVALID_HANDLE_VALUE;
  std::string m_path;
  bool m_intact = true;
};

// %WINDIR%\sorvane.log.
std::string DefaultLogPath();
