// Rescue of a mounted Windows system volume: --volume, --action, --report.
// The volume is drive C:, its hives the registry; every profile's HKCU is
// swept; at the end the changed hives are written back (a copy of each
// original kept first) and a JSON record of the run is written.
#pragma once

#include <string>

struct RescueOptions {
  std::string volume;      // host directory of the volume, or empty
  int action = 0;          // ActionClean .. ActionReport (0: not given, clean)
  std::string report;      // JSON report file, or empty
  std::string quarantine;  // folder for copies of what is changed, or empty
  std::string restore;     // quarantine folder to restore from, or empty
  bool force = false;      // --restore overwrites files changed since
  bool crossFs = false;    // the walk enters other file systems below the drives
};

// Parses argv[*i] when it is one of the rescue options (taking its value
// too): 1 when consumed, 0 on an error (message in *error), -1 when the
// argument is not a rescue option.
int ParseRescueArgument(int argc, char** argv, int* i, RescueOptions* options, std::string* error);

// --restore DIR [--force]: puts a quarantine's files back; the exit code.
int RunRestore(const RescueOptions& options);

// Maps the volume as C:, loads its hives and sets the Windows directory and
// platform; from then on every result record goes to the report and the
// registry sweep runs once per profile. Call after the machine is reset;
// false with a message.
bool StartRescue(const RescueOptions& options, std::string* error);
bool RescueActive();

// Writes back the changed hives (not in report mode), then the report.
// `exitCode` is the code the run ends with; false with a message.
bool FinishRescue(int exitCode, std::string* error);

extern const char* const RescueUsage;
