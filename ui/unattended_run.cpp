// The unattended run: the scan lock, the log, the scan itself with the
// questions answered, the report and the exit code.
#include "ui/unattended_run.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "engine/scan_result.h"
#include "engine/scan_run.h"
#include "engine/shared_state.h"
#include "ui/run_log.h"
#include "ui/scan_lock.h"
#include "ui/unattended_policy.h"
#include "ui/unattended_report.h"

namespace {

const char kTitle[] = "Sorvane Ver 1.0";

struct Run {
  CommandLine command;
  RunLog log;
  ReportFile reportFile;
  ScanReport report;
  std::vector<ReportRename> renamesBefore;
  RunSummary summary;
  bool statusNoted = false;
  bool finished = false;
  int exitCode = ExitNotRun;
};

Run* Active = nullptr;
// Set when the scan ends the program itself (the memory scan does after
// its question): the exit code the run decided, kept over the one the scan
// ends with.
int ExitOverride = -1;

std::string Now() {
  SYSTEMTIME t;
  GetLocalTime(&t);
  char text[32];
  snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u", t.wYear, t.wMonth, t.wDay, t.wHour,
           t.wMinute, t.wSecond);
  return text;
}

std::string MachineName() {
  char name[MAX_COMPUTERNAME_LENGTH + 1];
  DWORD size = sizeof name;
  return GetComputerNameA(name, &size) ? name : "(unknown)";
}

// The file version of this program, from its own version resource (read
// directly: the version library is not one the program may import).
std::string ProgramVersion() {
  HRSRC found = FindResourceA(nullptr, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(16));
  HGLOBAL loaded = found ? LoadResource(nullptr, found) : nullptr;
  const BYTE* data = loaded ? static_cast<const BYTE*>(LockResource(loaded)) : nullptr;
  DWORD size = found ? SizeofResource(nullptr, found) : 0;
  for (DWORD i = 0; data && i + sizeof(VS_FIXEDFILEINFO) <= size; i += 4) {
    VS_FIXEDFILEINFO info;
    memcpy(&info, data + i, sizeof info);
    if (info.dwSignature != 0xFEEF04BD) continue;
    char text[64];
    snprintf(text, sizeof text, "%lu.%lu.%lu.%lu", info.dwFileVersionMS >> 16, info.dwFileVersionMS & 0xFFFF,
             info.dwFileVersionLS >> 16, info.dwFileVersionLS & 0xFFFF);
    return text;
  }
  return "(unknown)";
}

// A question on one line: its line breaks become blanks.
std::string OneLine(const char* text) {
  std::string out;
  for (const char* p = text; *p; ++p) {
    char c = *p == '\n' || *p == '\r' ? ' ' : *p;
    if (c == ' ' && !out.empty() && out.back() == ' ') continue;
    out += c;
  }
  return out;
}

const char* ButtonName(int answer) {
  switch (answer) {
    case IDYES: return "Yes";
    case IDNO: return "No";
    case IDOK: return "OK";
    default: return "Cancel";
  }
}

void WriteHeader(Run& run, int count, const char* const* arguments) {
  std::string switches;
  for (int i = 0; i < count; ++i) switches += std::string(i ? " " : "") + arguments[i];
  run.log.Line(std::string(kTitle) + " - unattended scan");
  run.log.Line("Date:     " + Now());
  run.log.Line("Machine:  " + MachineName());
  run.log.Line("Version:  " + ProgramVersion());
  run.log.Line("Switches: " + switches);
  run.log.Line("");
}

void NoteStatistics(Run& run);

// The statistics and the final status, once the scan has reached them.
void NoteStatus(Run& run) {
  if (run.statusNoted || !SummaryStarted) return;
  run.statusNoted = true;
  NoteStatistics(run);
  run.log.Line("");
  run.log.Line(std::string("Status: ") + StatusText);
}

std::string RootName(HKEY root) { return root == HKEY_LOCAL_MACHINE ? "HKLM" : "HKCU"; }

// Each result as the scan hands it over: its line to the log, the record
// to the report.
void NoteResult(const ScanResult& record, const char* line) {
  if (!Active) return;
  Run& run = *Active;
  run.log.Line(line);
  ++run.summary.found;
  if (!OutcomeCleaned(record.outcome)) ++run.summary.left;
  ReportResult result;
  result.line = line;
  result.path = record.path;
  result.detection = record.detection;
  result.outcome = record.outcome;
  result.registry = record.subject == ResultSubject::Registry;
  if (result.registry && record.removal) {
    // The removed data is not kept by the sweep: left out, not guessed.
    const RegistryRemoval& r = *record.removal;
    ReportRegistryRemoval removal;
    removal.key = RootName(r.root) + "\\" + r.keyPath;
    removal.wholeKey = r.valueName == nullptr;
    removal.value = r.valueName ? r.valueName : "";
    result.removals.push_back(removal);
  }
  run.report.results.push_back(result);
}

// The statistics block, as the window's list shows it after the results.
void NoteStatistics(Run& run) {
  char text[96];
  if (FilesInfected > 0) run.log.Line(" ");
  run.log.Line("Scanning statistics");
  run.log.Line("------------------------------");
  snprintf(text, sizeof text, "Total files scanned\t\t:  %d", static_cast<int>(FilesScanned));
  run.log.Line(text);
  snprintf(text, sizeof text, "Total files infected\t\t:  %d", static_cast<int>(FilesInfected));
  run.log.Line(text);
  int32_t removed = static_cast<int32_t>(static_cast<uint32_t>(FilesRemoved) +
                                         static_cast<uint32_t>(FilesDisinfected));
  snprintf(text, sizeof text, "Total files removed\t\t:  %d", static_cast<int>(removed));
  run.log.Line(text);
}

// The report, when asked for; false when it could not be written.
bool WriteReport(Run& run, int code) {
  if (!run.reportFile.IsOpen()) return true;
  run.report.action = ReportActionName(ActionMode);
  run.report.statistics = {FilesScanned, FilesInfected, FilesRemoved, FilesDisinfected};
  // A run the memory scan ended never reached a final status.
  run.report.status = SummaryStarted ? StatusText : "";
  run.report.pendingRenames = AddedRenames(run.renamesBefore, ListPendingRenames());
  run.report.exitCode = code;
  bool written = run.reportFile.Write(run.report);
  run.log.Line((written ? "Report:   " : "Report not written: ") + run.command.report);
  return written;
}

// Writes the end of the log; the exit code.
int Finish(Run& run) {
  if (run.finished) return run.exitCode;
  run.finished = true;
  NoteStatus(run);
  run.summary.restartNeeded = RestartNeeded != 0;
  run.summary.terminated = CancelRequested != 0;
  int code = ExitCodeOf(run.summary);
  if (run.summary.restartNeeded || run.summary.endedEarly) {
    run.log.Line("Restart needed: the system has to be restarted to remove the virus completely");
  }
  // A log that lost a line does not tell the whole run.
  if (!run.log.Intact()) code = ExitNotRun;
  if (!WriteReport(run, code)) code = ExitNotRun;
  char text[96];
  snprintf(text, sizeof text, "Exit code: %d (%s)", code, ExitCodeMeaning(code));
  run.log.Line(text);
  run.log.Close();
  if (!run.log.Intact()) code = ExitNotRun;
  run.exitCode = code;
  return code;
}

void KeepDecidedExitCode() {
  // Files are closed; nothing of the run-time's exit is left to do that
  // matters, and ending here keeps the code the run decided.
  if (ExitOverride >= 0) TerminateProcess(GetCurrentProcess(), static_cast<UINT>(ExitOverride));
}

int Scan(Run& run) {
  Active = &run;
  atexit(KeepDecidedExitCode);
  AddResultSink(NoteResult);
  // No window: MainWindow stays unset, so the scan sends no window requests;
  // the memory scan still removes the image of a process it ended.
  WindowlessScan = 1;
  ActionMode = ActionClean;
  ScanInProgress = 1;
  CancelRequested = 0;
  ScanRun();
  ScanInProgress = 0;
  WindowlessScan = 0;
  int code = Finish(run);
  RemoveResultSink(NoteResult);
  Active = nullptr;
  return code;
}

int Refuse(Run& run, const std::string& why) {
  run.log.Line("Not scanned: " + why);
  run.log.Line(std::string("Exit code: 3 (") + ExitCodeMeaning(ExitNotRun) + ")");
  return ExitNotRun;
}

}  // namespace

bool AnswerUnattended(const char* text, const char* title, unsigned style, int* answer) {
  (void)title;
  if (!Active || Active->finished) return false;
  Run& run = *Active;
  *answer = UnattendedAnswer(text, style, run.command.restart);
  bool restart = IsRestartOffer(text);
  // The statistics and the final status come before the restart question.
  NoteStatus(run);
  run.log.Line(std::string("Question: ") + OneLine(text));
  run.log.Line(std::string("Answer:   ") + ButtonName(*answer) +
               (restart ? (run.command.restart ? " (/restart given)" : " (no /restart)") : ""));
  if (restart && !SummaryStarted) {
    // The memory scan asks only when an infected process could be neither
    // ended nor stopped, and ends the program after the answer.
    run.summary.endedEarly = true;
    run.log.Line("The memory scan could not end an infected process; the scan ends here."
                 " Restart the computer and scan again.");
  }
  bool ending = restart && (!SummaryStarted || *answer == IDYES || *answer == IDOK);
  if (ending) ExitOverride = Finish(run);
  return true;
}

int RunCommandLine(const CommandLine& command) {
  if (command.help) {
    MessageBoxA(nullptr, kUsageText, kTitle, MB_OK | MB_ICONINFORMATION);
    return ExitNothingFound;
  }
  Run run;
  run.command = command;
  if (!run.log.Open(command.log.empty() ? DefaultLogPath() : command.log)) return ExitNotRun;
  WriteHeader(run, __argc - 1, __argv + 1);
  if (!command.error.empty()) return Refuse(run, command.error);
  bool alone;
  HANDLE lock = TakeScanLock(&alone);
  if (!alone) {
    ReleaseScanLock(lock);
    return Refuse(run, "another scan is running (the program's window or another /quiet run)");
  }
  if (!command.report.empty() && !run.reportFile.Open(command.report)) {
    ReleaseScanLock(lock);
    return Refuse(run, "the report cannot be written: " + command.report);
  }
  run.renamesBefore = ListPendingRenames();
  int code = Scan(run);
  ReleaseScanLock(lock);
  return code;
}
