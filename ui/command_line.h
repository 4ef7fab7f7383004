// The program's switches: none opens the window; /quiet scans unattended
// with /restart, /log FILE and /report FILE; /? shows the switches.
#pragma once

#include <string>

struct CommandLine {
  bool quiet = false;
  bool restart = false;  // answer the restart question Yes
  bool help = false;     // /?: show the switches, scan nothing
  std::string log;       // empty: the default log in the Windows folder
  std::string report;    // empty: no JSON report
  std::string error;     // why the arguments were refused; empty when accepted
};

// Reads the arguments after the program's name. Switches start with "/" or
// "-" and are read in any letter case; /log and /report take the next
// argument (or "/log:FILE"). Anything not understood sets `error`.
CommandLine ParseCommandLine(int count, const char* const* arguments);

// The text /? shows.
extern const char kUsageText[];
