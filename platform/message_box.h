// The tool's own modal question and notice dialog. The user interface
// implements it; the emulated machine answers from a script and records
// every prompt. Returns IDYES, IDNO, IDOK or IDCANCEL.
#pragma once

int ExMessageBox(const char* text, const char* title, unsigned style);
