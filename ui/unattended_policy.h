// What an unattended run decides in place of a person: the answer to each
// question the scan asks, and the exit code that sums the run up.
#pragma once

// The exit codes of sorvane.exe /quiet.
enum UnattendedExit {
  ExitNothingFound = 0,
  ExitAllCleaned = 1,    // found, and everything found was cleaned
  ExitSomethingLeft = 2, // found, and something stays (a restart may be needed)
  ExitNotRun = 3,        // bad switch, a file that cannot be written, another scan
};

// True for a question that offers to restart the computer.
bool IsRestartOffer(const char* text);

// The button a person wanting the scan to go on would press: a restart offer
// is accepted only with /restart; any other question gets the answer that
// changes nothing (No, Cancel, or OK where OK is the only button).
int UnattendedAnswer(const char* text, unsigned style, bool restart);

// True when a results line's outcome means the file or entry is gone or
// made harmless ("removed", "Virus removed", "renamed", ...).
bool OutcomeCleaned(const char* outcome);

struct RunSummary {
  int found = 0;        // results lines (files and registry entries)
  int left = 0;         // of them, not cleaned
  bool restartNeeded = false;  // a removal waits for the next start
  bool endedEarly = false;     // the memory scan ended the program
  bool terminated = false;     // the walk was cut short ("Scanning terminated")
};

UnattendedExit ExitCodeOf(const RunSummary& run);
// "nothing found", "found, everything cleaned", ...
const char* ExitCodeMeaning(int code);
