// Answers and exit codes of the unattended run.
#include "ui/unattended_policy.h"

#include <windows.h>

#include <cstring>

bool IsRestartOffer(const char* text) { return text && std::strstr(text, "Restart"); }

int UnattendedAnswer(const char* text, unsigned style, bool restart) {
  bool yes = restart && IsRestartOffer(text);
  switch (style & MB_TYPEMASK) {
    case MB_OK: return IDOK;
    case MB_OKCANCEL: return yes ? IDOK : IDCANCEL;
    case MB_YESNO:
    case MB_YESNOCANCEL: return yes ? IDYES : IDNO;
    default: return IDCANCEL;
  }
}

bool OutcomeCleaned(const char* outcome) {
  static const char* const cleaned[] = {"removed", "Virus removed", "renamed", "Virus renamed"};
  for (const char* c : cleaned) {
    if (outcome && std::strcmp(outcome, c) == 0) return true;
  }
  return false;
}

UnattendedExit ExitCodeOf(const RunSummary& run) {
  bool found = run.found > 0 || run.endedEarly;
  // A scan cut short that found nothing cannot say the machine is clean.
  if (!found) return run.terminated ? ExitNotRun : ExitNothingFound;
  bool left = run.left > 0 || run.restartNeeded || run.endedEarly || run.terminated;
  return left ? ExitSomethingLeft : ExitAllCleaned;
}

const char* ExitCodeMeaning(int code) {
  switch (code) {
    case ExitNothingFound: return "nothing found";
    case ExitAllCleaned: return "found, everything cleaned";
    case ExitSomethingLeft: return "found, something left";
    default: return "the scan could not be made";
  }
}
