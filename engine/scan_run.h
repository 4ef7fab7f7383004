// The whole scan one press of SCAN starts: memory, every fixed drive,
// the statistics block, the final status and the restart question.
#pragma once

// Runs the scan; returns 1 (the caller ignores it).
int ScanRun();
