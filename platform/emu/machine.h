// Control API of the emulated machine: what tests and the native tools use
// to set up drives, windows, prompt answers and faults, and to read back
// what the code under test did. Engine, scanners and cleanup never include
// this header; they see only platform/system.h.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/system.h"

namespace emu {

// ---- The machine as a whole -------------------------------------------------

// Puts every part of the machine back to a fresh state: no drives, no
// windows, clock at 0, no faults, no prompts, and every part registered
// with a ResetHook reset too (tests register the core's shared state there).
void ResetMachine();

// A part of the emulation registers its reset here (a static object per
// part); so do tests for state of their own that a fresh machine resets.
struct ResetHook {
  explicit ResetHook(void (*reset)());
};

// ---- Fault injection ----------------------------------------------------------

// Makes operation `op` (the Win32 or run-time name, e.g. "DeleteFileA",
// "_open", "_read", "FindFirstFileA") fail with `error` when it acts on
// `path` (a Windows path or registry key path, compared ignoring case; empty
// means any). The first `skip` matching calls pass; then `times` calls fail
// (-1: every call from then on). Run-time calls set errno from the error.
void FailOperation(const std::string& op, const std::string& path, DWORD error,
                   int times = -1, int skip = 0);

// Called by the emulated calls themselves: true when this call of `op` on
// `path` must fail; the error to report is stored in *error.
bool ShouldFail(const char* op, const char* path, DWORD* error);
// True while any fault is set: without one, a call need not ask ShouldFail.
extern bool FaultsSet;

// How many times `op` was called since the reset (every emulated call counts
// itself, whatever its outcome).
int CallCount(const std::string& op);

// Counts a call of `op` (a string literal: counted by its address, first in
// a small direct-mapped table, so the hot calls cost a few instructions).
struct RecentCounter {
  const char* op;
  int* counter;
};
constexpr size_t RecentCounterSlots = 256;
extern RecentCounter RecentCounters[RecentCounterSlots];
void CountCallByName(const char* op);
inline size_t RecentCounterSlot(const char* op) {  // literals lie close together: mix all bits
  return (reinterpret_cast<uintptr_t>(op) * 0x9E3779B97F4A7C15ull) >> 56;
}
inline void CountCall(const char* op) {
  RecentCounter& recent = RecentCounters[RecentCounterSlot(op)];
  if (recent.op == op) {
    ++*recent.counter;
    return;
  }
  CountCallByName(op);
}

// ---- Drives and files ------------------------------------------------------------

// Maps drive letter `letter` to the host directory `hostDir` with a drive type
// (DRIVE_FIXED, DRIVE_CDROM, ...). The root of a drive lists no "." and "..".
void MapDrive(char letter, const std::string& hostDir, UINT type = DRIVE_FIXED);

// Makes a mapped drive refuse every write as a read-only mount does (a
// drive on a read-only host mount refuses them without this).
void SetDriveReadOnly(char letter, bool readOnly = true);

// What the file system did not let the scan see or do, each path once per
// kind: an entry not examined (a name Windows cannot hold, a path over 260
// bytes, unreadable, not a regular file, a link; detail: the reason), a
// link deleted (only the link went, not what it points to), a removal at
// restart not recorded because the drive is read-only.
enum class FileNote { NotScanned, LinkRemoved, NotScheduled };
void OnFileNote(std::function<void(FileNote kind, const std::string& windowsPath,
                                   const std::string& detail)> hook);
int FileNoteCount(FileNote kind);

// Host path of a Windows path on an emulated drive (lookup ignoring case,
// never through a link). Empty when the drive is not mapped or a component
// does not exist.
std::string HostPath(const std::string& windowsPath);

// Host path for a Windows path whose last component may not exist yet
// (the parent is looked up ignoring case, the name kept as given).
std::string HostPathForCreate(const std::string& windowsPath);

// The emulated attributes of a file or directory, as GetFileAttributesA sees
// them; SetAttributes is the control-side twin of SetFileAttributesA.
DWORD Attributes(const std::string& windowsPath);
void SetAttributes(const std::string& windowsPath, DWORD attributes);

// Total bytes returned by _read since the reset.
int64_t BytesRead();

// True when `path`, the file the walk is at, was screened out: read by the
// host's read-ahead (platform/host/read_ahead.h, where its switch and its
// screen are set), found to be no row's, and nothing changed on the host
// since its directory was listed. For EntryScreenedOut
// (engine/shared_state.h).
bool ScreenedOut(const char* path);

// ---- Windows and messages -------------------------------------------------------

// Creates an emulated window whose procedure receives SendMessageA and
// dispatched messages.
HWND CreateWindow(std::function<LRESULT(HWND, UINT, WPARAM, LPARAM)> procedure);
void DestroyWindow(HWND window);

// Runs before every PeekMessageA with the count of earlier calls: tests post
// messages from here to act at a chosen point of a walk.
void OnPeekMessage(std::function<void(int call)> hook);

// Messages still waiting in the queue.
size_t PendingMessages();

// Every message DispatchMessageA handed to a window procedure.
const std::vector<MSG>& DispatchedMessages();

// ---- Time ---------------------------------------------------------------------------

// The virtual clock: Sleep advances it and returns at once.
DWORD Now();
const std::vector<DWORD>& Sleeps();

// ---- Prompts ----------------------------------------------------------------------

struct Prompt {
  std::string text;
  std::string title;
  unsigned style;
  int answer;
};
// Answers ExMessageBox gives, in order; when the script is used up, a
// question gets IDNO (or IDCANCEL for OK/Cancel) and a notice IDOK.
// Boxes of the system's MessageBoxA are recorded too, answered IDOK.
void ScriptAnswers(const std::vector<int>& answers);
const std::vector<Prompt>& Prompts();

// ---- Ending the program ---------------------------------------------------------

// Thrown by ExitProgram on the emulated machine; catch it around the code
// that may end the program. The code recorded is also kept in ExitCode().
struct ProgramEnded {
  int code;
};
bool ProgramHasEnded();
int ExitCode();

}  // namespace emu

namespace emu {
// Searches opened by FindFirstFileA and not yet closed (leak checks).
size_t OpenSearches();
// Windows name matching of a search mask ("*.*", "file.*", "a?c").
bool MatchesMask(const std::string& mask, const std::string& name);
}  // namespace emu

namespace emu {
// Descriptors opened by _open and not yet closed (leak checks).
size_t OpenDescriptors();
}  // namespace emu

#include "platform/emu/registry_control.h"
#include "platform/emu/process_control.h"
#include "platform/emu/system_control.h"
#include "platform/emu/service_control.h"
