// Rescue of a mounted Windows system volume: --volume, --action, --report.
// The volume is drive C:, its hives the registry; every profile's HKCU is
// swept; at the end the changed hives are written back (a copy of each
// original kept first) and a JSON record of the run is written.
#pragma once

#include <string>
#include <vector>

struct RegistryRemoval;
namespace emu {
namespace reg {
struct Value;
}
}  // namespace emu

struct RescueOptions {
  std::string volume;      // host directory of the volume, or empty
  int action = 0;          // ActionClean .. ActionReport (0: not given, clean)
  std::string report;      // JSON report file, or empty
  std::string quarantine;  // folder for copies of what is changed, or empty
  std::string restore;     // quarantine folder to restore from, or empty
  bool force = false;      // --restore overwrites files changed since
  bool crossFs = false;    // the walk enters other file systems below the drives
  std::vector<std::string> driveRoots;  // host folders of the --drive options
  std::string origin;      // JSON text naming the disk image and partition of the volume, or empty
};

// Parses argv[*i] when it is one of the rescue options (taking its value
// too): 1 when consumed, 0 on an error (message in *error), -1 when the
// argument is not a rescue option.
int ParseRescueArgument(int argc, char** argv, int* i, RescueOptions* options, std::string* error);

// --restore DIR [--force] [--volume DIR]: puts a quarantine's files back;
// the exit code.
int RunRestore(const RescueOptions& options);

// Maps the volume as C:, loads its hives and sets the Windows directory and
// platform; from then on every result record goes to the report and the
// registry sweep runs once per profile. Call after the machine is reset;
// false with a message. A quarantine folder (or, without one, the hive
// backups' folder) on a drive being cleaned is refused.
bool StartRescue(const RescueOptions& options, std::string* error);
bool RescueActive();
// True when the volume is mounted read-only: nothing the scan changes,
// files or hives, is written.
bool RescueVolumeReadOnly();

// Names a failure that ends the run early, for the report.
void NoteRescueFailure(const std::string& message);

// Writes back the changed hives (not in report mode), closes the
// quarantine, then writes the report. `exitCode` is the code the run ends
// with so far; *finalCode (when given) the one it must end with, which the
// report holds too (2 when a hive or the manifest could not be written).
// False with a message when something could not be written.
bool FinishRescue(int exitCode, std::string* error, int* finalCode = nullptr);

// A run refused before it starts (a hibernated Windows, an image that
// cannot be opened): the report, when asked for, says why, with exit code 2.
// False with a message when it cannot be written.
bool RefuseRescue(const RescueOptions& options, const std::string& why, std::string* error);

// A failure after the report was written (the events, an image's unmount):
// the report is written again with the code the process ends with and the
// reason added. False with a message when it cannot be written.
bool AmendRescueReport(int exitCode, const std::string& why, std::string* error);

// Lets go of the volume's files (the hives are mapped), so that a volume
// the run mounted can be unmounted.
void EndRescue();

// The value a registry record removed, as the registry held it just before
// the sweep that took it (name, type and data as stored); false for a
// whole key or a value that was not noted.
bool RemovedValue(const RegistryRemoval& removal, emu::reg::Value* value);

extern const char* const RescueUsage;
