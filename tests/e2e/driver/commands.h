// The commands of the end-to-end driver, one function per command; each
// takes the arguments after the command's name and answers the exit code.
#pragma once

#include <string>
#include <vector>

using Args = std::vector<std::string>;

// scan PROGRAM OUT [--restart yes|no] [--cancel-at TEXT] [--shot NAME]
//      [--second ARGS] (ARGS: a run of PROGRAM started at the first question)
int ScanCommand(const Args& args);
// quiet OUT PROGRAM [ARGS...] [--twice]: an unattended run, its windows
// and exit code.
int QuietCommand(const Args& args);
// spawn [--guard] EXE [ARGS...]: starts EXE and prints its process id.
int SpawnCommand(const Args& args);
// alive PID: exit code 0 while the process runs, 1 once it has ended.
int AliveCommand(const Args& args);
// settle: has Wine do what it does at the first font use in a prefix
// (it registers its fonts), so that later runs leave the registry alone.
int SettleCommand(const Args& args);
// short PATH: prints the short (8.3) form of PATH.
int ShortCommand(const Args& args);
// tree ROOT OUT: every entry under ROOT in the order the scan walks them.
int TreeCommand(const Args& args);

// Writes `text` with tab, CR, LF and backslash escaped, so that one record
// stays one line.
std::string Escaped(const std::string& text);
