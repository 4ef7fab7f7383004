// Control API of the emulated processes: the process table behind
// OpenProcess/TerminateProcess, the Toolhelp snapshot and the performance
// data, the modules found by LoadLibraryA/GetProcAddress, and what the code
// did to them. OpenProcess and TerminateProcess faults are keyed by the
// process's image path; CreateToolhelp32Snapshot, LoadLibraryA and
// GetProcAddress by "" (any) or the name asked for.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "platform/system.h"

namespace emu {

struct ProcessOptions {
  bool canOpen = true;              // OpenProcess is granted
  bool canTerminate = true;         // TerminateProcess succeeds
  bool needsDebugPrivilege = false; // opens succeed only with SeDebugPrivilege enabled
};

// Adds a running process with the Windows path of its image; returns its id
// (ids are given out as 4, 8, 12, ... in order of adding).
DWORD AddProcess(const std::string& imagePath, const ProcessOptions& options = {});
// The same with a chosen id (0 stands for the idle process and cannot be opened).
void AddProcessWithId(DWORD id, const std::string& imagePath, const ProcessOptions& options = {});

bool ProcessRunning(DWORD id);
// Ends a process by itself (a service that stopped): no TerminateProcess
// call, nothing recorded in Terminations().
void RemoveProcess(DWORD id);
// Ids of the running processes whose image is `imagePath` (ignoring case).
std::vector<DWORD> ProcessesRunning(const std::string& imagePath);
// True while a running process has `imagePath` as its image.
bool IsImageRunning(const std::string& imagePath);

struct Termination {
  DWORD id;
  std::string image;
  UINT exitCode;
  DWORD time;  // virtual clock at the call
};
const std::vector<Termination>& Terminations();

// What the code did to the machine's processes and services, in order:
// each process it ended (TerminateProcess) and each service that reached
// the stopped state after its stop request (its process ends with it).
struct MachineChange {
  enum Kind { ProcessEnded, ServiceStopped } kind;
  DWORD processId;   // the ended process, or the service's (0: none)
  std::string text;  // the process's image path, or the service's name
};
const std::vector<MachineChange>& MachineChanges();

struct ProcessOpen {
  DWORD id;
  DWORD access;
  bool granted;
};
const std::vector<ProcessOpen>& ProcessOpens();

// Process, snapshot and token handles not yet closed.
int OpenKernelHandles();

// ---- Performance data (HKEY_PERFORMANCE_DATA) ----

struct PerfConfig {
  DWORD processIndex = 230;    // title index of the Process object
  DWORD idProcessIndex = 784;  // title index of its "ID Process" counter
  bool processObject = true;   // queries naming the object return it
  bool idProcessCounter = true;
  bool signature = true;       // the data block begins with "PERF"
};
// Also rebuilds the perflib "Counters" value the machine provides, unless a
// test or file has set that value itself.
void SetPerfConfig(const PerfConfig& config);
// The buffer size offered by every query of HKEY_PERFORMANCE_DATA, in order.
const std::vector<DWORD>& PerfQuerySizes();

// ---- Modules ----

// Whether "Kernel32.dll" exports the Toolhelp calls; by default as the
// platform has them (9x family and Windows 2000 on, not NT 4).
void SetToolhelpAvailable(bool available);
// Adds a module that LoadLibraryA finds by its full path in the system
// directory or by its bare name, with its exports.
void AddModule(const std::string& fileName,
               const std::vector<std::pair<std::string, FARPROC>>& exports);
// Every name LoadLibraryA was called with, in order.
const std::vector<std::string>& LoadedLibraries();

}  // namespace emu
