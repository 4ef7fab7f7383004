// ExMessageBox for the Wine test exe, where the dialog is not linked: each
// prompt takes the next scripted answer and is recorded.
#pragma once

#include <string>
#include <vector>

struct Prompt {
  std::string text;
  std::string title;
  unsigned style;
};

// Replaces the script of answers and forgets the prompts recorded so far.
void ScriptAnswers(const std::vector<int>& answers);

// Every prompt since the last ScriptAnswers, in order.
const std::vector<Prompt>& RecordedPrompts();
