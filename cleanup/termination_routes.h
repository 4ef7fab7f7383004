// The two routes of process termination and the NT route's fallback.
#pragma once

// 9x family: the first process whose image base name equals the path's
// base name, from a Toolhelp snapshot. 1 when it was ended.
int TerminateByToolhelp(const char* path);

// NT family: every process whose performance-data instance name is the
// path's base name without extension, or that name and "#" and digits,
// and whose image path names the file itself (a process whose path cannot
// be read is left running).
// When the performance data yields no process rows, falls back to
// TerminateByImageName. 1 when at least one process was ended.
int TerminateByPerfData(const char* path);

// NT fallback: every process of a Toolhelp snapshot whose image base name
// equals the path's base name and whose image path names the file itself;
// 0 where the system has no Toolhelp.
int TerminateByImageName(const char* path);

// True when a performance-data instance name stands for `target` (a base
// name without extension): equal, or followed by "#" and digits, ignoring case.
bool InstanceNameMatches(const char* instance, const char* target);
