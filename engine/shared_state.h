// Process-wide state shared by the user interface, the scan engine, the
// scanners and the cleanup routines. Zero or empty at program start; only
// tests reset it (ResetSharedState).
#pragma once

#include <cstdint>

#include "platform/system.h"

// A row of the scanner table (engine/scanner_table.h): (detection name of
// the row, full path) -> non-zero when the file is finished and no later
// row is to be called for it.
typedef int (*FileScanner)(const char* name, const char* path);

struct ScannerEntry {
  const char* name;  // a row without a name ends the table
  FileScanner routine;
  // What the row leaves behind for a file it would not act on, without
  // reading it: run instead of `routine` for a file a screen ruled out.
  FileScanner screened = nullptr;
};

// Sizes of the shared text buffers.
constexpr int PathBufferSize = 260;      // the platform's maximum path
constexpr int ScanFileBufferSize = 261;  // CurrentScanFile
constexpr int LogLineSize = 1024;        // one results line
constexpr int StatusTextSize = 512;      // the path display's text
constexpr int DetectionNameSize = 64;    // CurrentDetection

// Private window requests to the main dialog, sent with both parameters 0.
constexpr UINT RefreshStatusMessage = 10;  // shares its number with WM_ENABLE
constexpr UINT AddLineMessage = 11;        // shares its number with WM_SETREDRAW

// What a scanner does with a recognised file.
constexpr int ActionClean = 100;   // repair (worm disinfector) or delete
constexpr int ActionRename = 101;  // character after the last "." becomes 'V'
constexpr int ActionDelete = 102;
constexpr int ActionReport = 103;  // leave the file, report it

// Run flags.
extern int ScanInProgress;
extern int CancelRequested;
extern int SummaryStarted;

// Scan statistics: never reset during a program's life.
extern int32_t FilesScanned;      // moved only by the directory walk
extern int32_t FilesInfected;
extern int32_t FilesRemoved;
extern int32_t FilesDisinfected;

extern int ActionMode;

// The memory scan's hand-over to the walk and the scanners.
extern int SingleFileMode;
extern int FileDetected;
extern int MemoryAction;
// The row whose routine recognised the image of the latest SingleFileMode
// walk (it set FileDetected); the MemoryAction walk hands the image to that
// row alone. Cleared by every walk that is not a MemoryAction walk.
extern const ScannerEntry* DetectingRow;
extern int InfectedInMemory;   // a memory route reported an infected image
extern int ServiceStopFailed;  // an infected process could neither end nor stop

// 1 once any deferred removal a scanner asked for was scheduled.
extern int RestartNeeded;

// Path under examination and the latest detection name.
extern char CurrentScanFile[ScanFileBufferSize];
extern char CurrentDetection[DetectionNameSize];

// The "\Program Files" second pass of the drive walk.
extern int ProgramFilesPending;
extern int ProgramFilesVisited;
extern char ProgramFilesPattern[PathBufferSize];

// Texts behind the two window requests.
extern char LogLine[LogLineSize];
extern char StatusText[StatusTextSize];

// The main dialog's window, target of the two requests; 0 until SCAN.
extern HWND MainWindow;
// Set by the unattended run, which has no window: its results reach the
// sinks alone, and the scan acts as it does under the window.
extern int WindowlessScan;

// Asked by a drive walk for each file it hands to the real scanner table:
// true when the host has already read the file and found that no row could
// act on it, so each row's `screened` part runs instead of the row. Null
// (every file goes through the rows) unless the host sets it; the Windows
// program never does.
extern bool (*EntryScreenedOut)(const char* path);

// Puts every shared item back to its program-start value, result sinks
// included (tests only).
void ResetSharedState();
