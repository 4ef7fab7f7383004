// The virtual clock, the scripted answers of the tool's message dialog and
// the recorded end of the program.
#include "platform/message_box.h"
#include "platform/emu/machine.h"

namespace emu {
namespace {

DWORD now;
std::vector<DWORD> sleeps;
std::vector<int> answers;
size_t nextAnswer;
std::vector<Prompt> prompts;
bool ended;
int exitCode;

void ResetClockAndPrompts() {
  now = 0;
  sleeps.clear();
  answers.clear();
  nextAnswer = 0;
  prompts.clear();
  ended = false;
  exitCode = 0;
}
ResetHook clockHook(ResetClockAndPrompts);

}  // namespace

DWORD Now() { return now; }
const std::vector<DWORD>& Sleeps() { return sleeps; }

void ScriptAnswers(const std::vector<int>& script) {
  answers = script;
  nextAnswer = 0;
}
const std::vector<Prompt>& Prompts() { return prompts; }

bool ProgramHasEnded() { return ended; }
int ExitCode() { return exitCode; }

}  // namespace emu

using namespace emu;

void WINAPI Sleep(DWORD milliseconds) {
  CountCall("Sleep");
  now += milliseconds;
  sleeps.push_back(milliseconds);
}

DWORD WINAPI GetTickCount(void) { return now; }

int ExMessageBox(const char* text, const char* title, unsigned style) {
  CountCall("ExMessageBox");
  int answer;
  if (nextAnswer < answers.size()) {
    answer = answers[nextAnswer++];
  } else {
    unsigned buttons = style & 0xF;
    answer = buttons == MB_YESNO ? IDNO : buttons == MB_OKCANCEL ? IDCANCEL : IDOK;
  }
  prompts.push_back(Prompt{text ? text : "", title ? title : "", style, answer});
  return answer;
}

// The system's own message box: recorded with the prompts, answered OK.
int WINAPI MessageBoxA(HWND, LPCSTR text, LPCSTR caption, UINT type) {
  CountCall("MessageBoxA");
  prompts.push_back(Prompt{text ? text : "", caption ? caption : "", type, IDOK});
  return IDOK;
}

void ExitProgram(int code) {
  CountCall("ExitProgram");
  ended = true;
  exitCode = code;
  throw ProgramEnded{code};
}
