// The memory scan: every running process's image through the scanners
// before the drives are walked.
#pragma once

void MemoryScan();
