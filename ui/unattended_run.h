// The program started with arguments: /? shows the switches, /quiet runs
// the scan with no window and no question, answering where a person would,
// writing a log (and a JSON report) and ending with an exit code.
#pragma once

#include "ui/command_line.h"

// Does what the command line asks; the program's exit code.
int RunCommandLine(const CommandLine& command);

// While an unattended run scans, the answer to a question of the scan (the
// question and its answer go to the log): true with *answer set. False when
// no unattended run is active, so that the question is shown.
bool AnswerUnattended(const char* text, const char* title, unsigned style, int* answer);
