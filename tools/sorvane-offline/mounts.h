// The helpers processes and FUSE mounts of an image run: child processes in
// sessions of their own (a Ctrl-C on the terminal reaches only us, so the
// mounts are undone in order), the mount table, and the run folder that
// lets the next run clean up after a run that was killed.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace mounts {

// Starts argv[0] (looked up in PATH) with stdin from /dev/null and stdout
// and stderr appended to `log`, in a new session; -1 with a message.
pid_t Spawn(const std::vector<std::string>& argv, const std::string& log, std::string* error);

// True when `path` is a mount point now (from /proc/self/mountinfo).
bool IsMountPoint(const std::string& path);
// The mount points at or below `dir`, deepest first.
std::vector<std::string> MountsBelow(const std::string& dir);

// Waits up to `seconds` until `path` is a mount point; false when `child`
// ended first or the time ran out, or `stop` became true.
bool WaitForMount(const std::string& path, pid_t child, double seconds, const volatile int* stop);

// Unmounts `path` (a FUSE mount); then waits up to `seconds` for `child`
// (its daemon, 0 when unknown) to end. False with a message when the mount
// stays or the child does not end.
bool Unmount(const std::string& path, pid_t child, double seconds, std::string* error);

// Ends `child` with SIGTERM, then SIGKILL after `seconds`; reaps it.
void Stop(pid_t child, double seconds);

// The process's start time (field 22 of /proc/PID/stat); 0 when it is gone.
unsigned long long StartTime(pid_t pid);

// The folder runs keep their mounts in: $SORVANE_RUN_DIR, else
// /run/sorvane-offline as root, else $XDG_RUNTIME_DIR/sorvane-offline or
// /tmp/sorvane-offline-UID.
std::string RunBase();

// Creates RunBase()/PID with an "owner" file naming this process; the
// folder, or empty with a message.
std::string CreateRunFolder(std::string* error);

// Records a helper process (name "daemon" or "ntfs-N") in the run folder
// so that a later run can end it when this one was killed.
void RecordProcess(const std::string& runFolder, const std::string& name, pid_t pid);

// Undoes what runs that no longer live left in RunBase(): ntfs-3g mounts
// first, their processes waited for, then the exports and the daemon; a
// folder whose ntfs-3g mount is still in use keeps its daemon. Each folder
// cleaned is named on stderr. Runs still alive are left alone.
void CleanStaleRuns();

// Removes the run folder of this run (its mounts must be gone).
void RemoveRunFolder(const std::string& runFolder);

}  // namespace mounts
