// Detection on every core: the read-ahead's threads screen each file they
// read with the scanner rows' screens, and the walk skips the rows of a
// file ruled out (its rows' screened parts run instead).
#pragma once

// How many threads may match at once by default: the cores this process
// may run on.
int DefaultJobs();

// With more than one job, screens the files the read-ahead reads on up to
// `jobs` threads and lets the walk skip the rows of those ruled out; with
// one, every file goes through the rows on the walk's thread. Call after
// the machine is set up, before the scan.
void StartFileScreens(int jobs);
