// The sweep of the worms' start-up registry entries, run on every detection.
#pragma once

// Runs every rule and the Run-entry cleanup for CurrentScanFile; always 1.
int CleanWormRegistry();
