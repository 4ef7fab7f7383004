// The memory scan: every running process's image through the scanners
// before the drives are walked; infected processes are ended and their
// images handed to the scanners again to be removed.
#pragma once

// Runs the route of the platform with SingleFileMode set. On the NT family,
// when an infected process could neither be ended nor stopped as a service,
// offers a restart and ends the program.
void MemoryScan();

// The two routes. Non-zero when at least one image was detected.
int MemoryScan9x();
int MemoryScanNT();
