// The unattended run's JSON report: the shared report format filled from
// what the run saw, with the removals this run left for the next start.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "engine/json_report.h"

// Text of the ANSI code page as UTF-8.
std::string Utf8FromAnsi(const std::string& text);

// The removals the system will carry out at its next start, as listed now:
// the pending-rename list on the NT family ("\??\" taken off), the
// "[rename]" section of wininit.ini on the 9x family ("NUL" as no target).
std::vector<ReportRename> ListPendingRenames();

// What `after` holds beyond `before` (each entry counted as often as listed).
std::vector<ReportRename> AddedRenames(const std::vector<ReportRename>& before,
                                       const std::vector<ReportRename>& after);

// The report file, created when the run starts (so that a path that cannot
// be written stops the run before the scan) and written at its end.
class ReportFile {
 public:
  ReportFile() = default;
  ~ReportFile();
  ReportFile(const ReportFile&) = delete;
  ReportFile& operator=(const ReportFile&) = delete;

  bool Open(const std::string& path);
  bool IsOpen() const { return m_file != INVALID_HANDLE_VALUE; }
  // Replaces the file's content with the report; texts in `report` are in
  // the ANSI code page. False when it could not be written.
  bool Write(ScanReport report);

 private:
  HANDLE m_file = INVALID_HANDLE_VALUE;
};
