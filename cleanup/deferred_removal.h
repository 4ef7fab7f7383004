// Removal at the next start of the system, and the restart itself.
#pragma once

// 1 when the deletion of `path` is requested for the next start, else 0.
int ScheduleDeleteAtRestart(const char* path);

// Asks the system for a forced reboot.
void RestartComputer();
