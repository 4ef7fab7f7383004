// Scripted ExMessageBox: a prompt beyond the script fails the running test
// and is answered No, the answer that lets a scan go on and restarts nothing.
#include "support/scripted_message_box.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <deque>

#include "platform/message_box.h"

namespace {
std::deque<int> answers;
std::vector<Prompt> prompts;
}  // namespace

void ScriptAnswers(const std::vector<int>& script) {
  answers.assign(script.begin(), script.end());
  prompts.clear();
}

const std::vector<Prompt>& RecordedPrompts() { return prompts; }

int ExMessageBox(const char* text, const char* title, unsigned style) {
  prompts.push_back({text ? text : "", title ? title : "", style});
  if (answers.empty()) {
    ADD_FAILURE() << "unscripted prompt: " << prompts.back().text;
    return IDNO;
  }
  int answer = answers.front();
  answers.pop_front();
  return answer;
}
