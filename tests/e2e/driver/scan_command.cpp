// `scan PROGRAM OUT ...`: starts sorvane.exe, presses SCAN and follows the
// run to its end as a user would, answering every question it asks: the
// restart question as --restart says (default no), "Terminate the Scan
// now?" with Yes once --cancel-at has pressed CANCEL, the OK/Cancel notice
// of the memory scan with Cancel. Then it reads the results list and the
// path display, takes screenshots (--shot NAME: the end, NAME-list with the
// first file lines, NAME-restart with the restart question), presses OK and waits for the
// end. Every observation goes to OUT, one record per line:
//   prompt TITLE TEXT BUTTONS LINES STATUS   (a question as it appeared)
//   answer BUTTON / running-after-answer 0|1
//   line TEXT (each results line, in order) / status TEXT / seconds S
//   exit CODE
//   second CODE   (--second ARGS: PROGRAM ARGS run while the first question
//                 is up, that is while the scan has not ended)
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "commands.h"
#include "resource.h"
#include "support/driver.h"

using namespace ui_test;

namespace {

const char kRestartText[] =
    "The system has to be restarted to remove the virus completely from your system. \n\n Restart now?";
const char kTerminateText[] = "Terminate the Scan now?";

struct Options {
  std::string program, out, cancelAt, shot, second;
  bool restartYes = false;
  int timeoutSeconds = 150;
};

bool Parse(const Args& args, Options& o) {
  if (args.size() < 2) return false;
  o.program = args[0];
  o.out = args[1];
  for (size_t i = 2; i < args.size(); ++i) {
    const std::string& a = args[i];
    bool hasValue = i + 1 < args.size();
    if (a == "--restart" && hasValue) {
      o.restartYes = args[++i] == "yes";
    } else if (a == "--cancel-at" && hasValue) {
      o.cancelAt = args[++i];
    } else if (a == "--second" && hasValue) {
      o.second = args[++i];
    } else if (a == "--shot" && hasValue) {
      o.shot = args[++i];
    } else if (a == "--timeout" && hasValue) {
      o.timeoutSeconds = std::atoi(args[++i].c_str());
    } else {
      return false;
    }
  }
  return true;
}

class Record {
 public:
  explicit Record(const std::string& path) : m_out(std::fopen(path.c_str(), "wb")) {}
  ~Record() {
    if (m_out) std::fclose(m_out);
  }
  bool Ok() const { return m_out != nullptr; }
  void Write(const std::string& kind, const std::vector<std::string>& fields) {
    std::string text = kind;
    for (const std::string& f : fields) text += "\t" + Escaped(f);
    std::fprintf(m_out, "%s\n", text.c_str());
    std::fflush(m_out);
  }

 private:
  std::FILE* m_out;
};

bool Finished(HWND dialog) {
  return !Visible(dialog, IDCANCEL) && Visible(dialog, IDC_OK_BUTTON) &&
         ControlText(dialog, IDC_UPPER_GROUP).empty();
}

std::string VisibleButtons(HWND prompt) {
  struct Button {
    int id;
    const char* name;
  };
  const Button buttons[] = {{IDYES, "Yes"}, {IDNO, "No"}, {IDOK, "OK"}, {IDCANCEL, "Cancel"},
                            {IDC_SINGLE_OK, "OK"}};
  std::string names;
  for (const Button& b : buttons) {
    if (!Visible(prompt, b.id)) continue;
    if (!names.empty()) names += ",";
    names += b.name;
  }
  return names;
}

struct Child {
  PROCESS_INFORMATION info = {};
  ~Child() {
    if (!info.hProcess) return;
    if (WaitForSingleObject(info.hProcess, 0) == WAIT_TIMEOUT) TerminateProcess(info.hProcess, 99);
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
  }
  bool Ended(DWORD ms) const { return WaitForSingleObject(info.hProcess, ms) == WAIT_OBJECT_0; }
};

bool Start(const std::string& program, Child& child, const std::string& arguments = "") {
  std::string folder = program.substr(0, program.find_last_of('\\') + 1);
  std::string commandLine = "\"" + program + "\"" + (arguments.empty() ? "" : " " + arguments);
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  return CreateProcessA(program.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr,
                        folder.empty() ? nullptr : folder.c_str(), &startup, &child.info) != 0;
}

// Without a window manager on the display, Wine's managed windows wait for
// answers that never come when hidden; unmanaged ones do not.
void UnmanagedWindows() {
  HKEY key;
  if (RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Wine\\X11 Driver", 0, nullptr, 0, KEY_SET_VALUE,
                      nullptr, &key, nullptr) == ERROR_SUCCESS) {
    RegSetValueExA(key, "Managed", 0, REG_SZ, reinterpret_cast<const BYTE*>("N"), 2);
    RegCloseKey(key);
  }
}

// A screenshot of the skinned window (and `prompt` over it) once what they
// paint has reached the screen; the name, or empty when it failed.
std::string Shoot(HWND dialog, HWND prompt, const std::string& name) {
  Repaint(dialog);
  if (prompt) Repaint(prompt);
  Sleep(300);
  RECT w = WindowRect(dialog);
  RECT skin = {w.left, w.top, w.left + 527, w.top + 338};
  return SaveScreenshot(name.c_str(), skin) ? name : "";
}

}  // namespace

int ScanCommand(const Args& args) {
  Options o;
  if (!Parse(args, o)) {
    std::fputs("scan: PROGRAM OUT [--restart yes|no] [--cancel-at TEXT] [--shot NAME]\n", stderr);
    return 2;
  }
  Record record(o.out);
  if (!record.Ok()) return 2;
  UnmanagedWindows();
  Child child;
  if (!Start(o.program, child)) {
    record.Write("error", {"cannot start the program"});
    return 1;
  }
  WaitForInputIdle(child.info.hProcess, 10000);
  DWORD id = child.info.dwProcessId;
  HWND dialog = nullptr;
  if (!WaitUntil([&] { return (dialog = FindMainDialog(id)) != nullptr; }, 15000) || !Sync(dialog)) {
    record.Write("error", {"no main dialog"});
    return 1;
  }
  WaitUntil([&] { return GetForegroundWindow() == dialog; }, 2000);

  Click(dialog, IDC_SCAN);
  DWORD start = GetTickCount();
  bool cancelled = false, timedOut = false;
  HWND answered = nullptr;
  for (;;) {
    if (child.Ended(0)) {
      record.Write("ended-during-scan", {});
      break;
    }
    if (static_cast<int>(GetTickCount() - start) > o.timeoutSeconds * 1000) {
      timedOut = true;
      break;
    }
    HWND prompt = FindMessageDialog(id);
    if (prompt && prompt != answered) {
      Sync(prompt);
      std::string text = ControlText(prompt, IDC_MESSAGE_TEXT);
      std::vector<std::string> lines = ListLines(GetDlgItem(dialog, IDC_RESULT_LOG));
      record.Write("prompt", {Text(prompt), text, VisibleButtons(prompt), std::to_string(lines.size()),
                              ControlText(dialog, IDC_PATH_DISPLAY)});
      if (!o.second.empty() && !answered) {
        Child second;
        DWORD code = STILL_ACTIVE;
        if (Start(o.program, second, o.second) && second.Ended(30000)) {
          GetExitCodeProcess(second.info.hProcess, &code);
        }
        record.Write("second", {std::to_string(code)});
      }
      int button = IDCANCEL;
      if (text == kTerminateText) button = cancelled ? IDYES : IDNO;
      if (text == kRestartText) {
        button = o.restartYes ? IDYES : IDNO;
        if (!o.shot.empty()) record.Write("shot", {Shoot(dialog, prompt, o.shot + "-restart")});
      }
      record.Write("answer", {button == IDYES ? "Yes" : button == IDNO ? "No" : "Cancel"});
      Click(prompt, button);
      answered = prompt;
      WaitUntil([&] { return !IsWindow(prompt); });
      if (text == kRestartText) {
        bool running = !child.Ended(1000) && IsWindow(dialog);
        record.Write("running-after-answer", {running ? "1" : "0"});
      }
      continue;
    }
    if (!prompt && Finished(dialog)) break;
    if (!cancelled && !o.cancelAt.empty() &&
        ControlText(dialog, IDC_PATH_DISPLAY).find(o.cancelAt) != std::string::npos) {
      Click(dialog, IDCANCEL);
      cancelled = true;
      record.Write("cancel", {ControlText(dialog, IDC_PATH_DISPLAY)});
    }
    Sleep(10);
  }
  char seconds[32];
  std::snprintf(seconds, sizeof seconds, "%.1f", (GetTickCount() - start) / 1000.0);
  record.Write("seconds", {seconds});
  if (timedOut) record.Write("timeout", {});
  if (child.Ended(0)) {
    DWORD code = 0;
    GetExitCodeProcess(child.info.hProcess, &code);
    record.Write("exit", {std::to_string(code)});
    return 0;
  }

  Sync(dialog);
  for (const std::string& line : ListLines(GetDlgItem(dialog, IDC_RESULT_LOG))) {
    record.Write("line", {line});
  }
  record.Write("status", {ControlText(dialog, IDC_PATH_DISPLAY)});
  if (!o.shot.empty()) {
    record.Write("shot", {Shoot(dialog, nullptr, o.shot)});
    // The list scrolled to its first line that is not a registry line.
    HWND list = GetDlgItem(dialog, IDC_RESULT_LOG);
    std::vector<std::string> lines = ListLines(list);
    size_t first = 0;
    while (first < lines.size() && lines[first].rfind("System Registry", 0) == 0) ++first;
    if (first < lines.size()) {
      SendMessageW(list, LB_SETTOPINDEX, first, 0);
      record.Write("shot", {Shoot(dialog, nullptr, o.shot + "-list")});
      SendMessageW(list, LB_SETTOPINDEX, lines.size() - 1, 0);
    }
  }
  Click(dialog, IDC_OK_BUTTON);
  DWORD code = STILL_ACTIVE;
  if (child.Ended(10000)) GetExitCodeProcess(child.info.hProcess, &code);
  record.Write("exit", {std::to_string(code)});
  return timedOut ? 1 : 0;
}
