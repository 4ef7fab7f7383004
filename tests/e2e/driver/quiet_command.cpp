// `quiet OUT PROGRAM [ARGS...] [--twice]`: starts PROGRAM with ARGS (an
// unattended run), watches the window list until it ends and records every
// top-level window the process had. With --twice the same command is started
// a second time once the first holds the scan lock, and both are followed.
// Records, one per line in OUT:
//   window RUN TITLE CLASS VISIBLE   (each window seen, RUN 1 or 2)
//   exit RUN CODE / first-running-at-second-end 0|1 / timeout RUN
#include <windows.h>

#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "commands.h"

namespace {

struct Seen {
  DWORD process;
  std::set<HWND>* windows;
};

BOOL CALLBACK Collect(HWND window, LPARAM data) {
  Seen* seen = reinterpret_cast<Seen*>(data);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  if (owner == seen->process) seen->windows->insert(window);
  return TRUE;
}

struct Run {
  PROCESS_INFORMATION info = {};
  std::set<HWND> windows;
  std::vector<std::string> described;
};

bool Start(const std::string& program, const std::string& arguments, Run& run) {
  std::string commandLine = "\"" + program + "\"" + arguments;
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  return CreateProcessA(program.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, "C:\\",
                        &startup, &run.info) != 0;
}

// Looks at the window list once; describes each window when first seen.
void Watch(Run& run) {
  std::set<HWND> now;
  Seen seen = {run.info.dwProcessId, &now};
  EnumWindows(Collect, reinterpret_cast<LPARAM>(&seen));
  for (HWND w : now) {
    if (!run.windows.insert(w).second) continue;
    char title[256] = "", name[256] = "";
    GetWindowTextA(w, title, sizeof title);
    GetClassNameA(w, name, sizeof name);
    run.described.push_back(std::string(title) + "\t" + name + "\t" + (IsWindowVisible(w) ? "1" : "0"));
  }
}

bool Ended(const Run& run) { return WaitForSingleObject(run.info.hProcess, 0) == WAIT_OBJECT_0; }

bool LockTaken() {
  for (const char* name : {"Global\\Sorvane.Scan", "Sorvane.Scan"}) {
    HANDLE lock = OpenMutexA(SYNCHRONIZE, FALSE, name);
    if (lock) {
      CloseHandle(lock);
      return true;
    }
  }
  return false;
}

}  // namespace

int QuietCommand(const Args& args) {
  if (args.size() < 2) {
    std::fputs("quiet: OUT PROGRAM [ARGS...] [--twice]\n", stderr);
    return 2;
  }
  std::string arguments;
  bool twice = false;
  for (size_t i = 2; i < args.size(); ++i) {
    if (args[i] == "--twice") {
      twice = true;
    } else {
      arguments += " " + args[i];
    }
  }
  std::FILE* out = std::fopen(args[0].c_str(), "wb");
  if (!out) return 2;
  Run runs[2];
  if (!Start(args[1], arguments, runs[0])) {
    std::fprintf(out, "error\tcannot start the program\n");
    std::fclose(out);
    return 1;
  }
  bool secondStarted = false, firstRunningAtSecondEnd = false, timedOut = false;
  DWORD start = GetTickCount();
  for (;;) {
    Watch(runs[0]);
    if (secondStarted) Watch(runs[1]);
    if (twice && !secondStarted && LockTaken() && !Ended(runs[0])) {
      secondStarted = Start(args[1], arguments, runs[1]);
    }
    if (secondStarted && Ended(runs[1]) && runs[1].info.hThread) {
      firstRunningAtSecondEnd = !Ended(runs[0]);
      CloseHandle(runs[1].info.hThread);
      runs[1].info.hThread = nullptr;
    }
    bool firstDone = Ended(runs[0]);
    if (firstDone && (!twice || !secondStarted || Ended(runs[1]))) break;
    if (twice && firstDone && !secondStarted) break;
    if (GetTickCount() - start > 200000) {
      timedOut = true;
      break;
    }
    Sleep(5);
  }
  for (int r = 0; r < (secondStarted ? 2 : 1); ++r) {
    for (const std::string& d : runs[r].described) std::fprintf(out, "window\t%d\t%s\n", r + 1, d.c_str());
    DWORD code = STILL_ACTIVE;
    GetExitCodeProcess(runs[r].info.hProcess, &code);
    if (code == STILL_ACTIVE) {
      std::fprintf(out, "timeout\t%d\n", r + 1);
      TerminateProcess(runs[r].info.hProcess, 99);
    } else {
      std::fprintf(out, "exit\t%d\t%lu\n", r + 1, code);
    }
  }
  if (secondStarted) std::fprintf(out, "first-running-at-second-end\t%d\n", firstRunningAtSecondEnd ? 1 : 0);
  std::fclose(out);
  return timedOut ? 1 : 0;
}
