// The sweep of the worms' start-up registry entries, run on every detection.
#pragma once

// Runs every rule and the Run-entry cleanup for CurrentScanFile; always 1.
// Each removal is a "System Registry" result naming the entry that went.
int CleanWormRegistry();

// Where HKCU stands for one user the sweep runs once. A tool that has
// several users' hives loaded sets a hook that runs `sweep` once with each
// of them shown as HKCU and returns what the last pass returned; null puts
// the single pass back.
using ProfileSweepHook = int (*)(int (*sweep)());
void SetProfileSweepHook(ProfileSweepHook hook);
