// The rescue options of sorvane-offline's command line.
#include <sys/stat.h>

#include <cstring>

#include "engine/shared_state.h"
#include "tools/sorvane-offline/option_argument.h"
#include "tools/sorvane-offline/rescue.h"

const char* const RescueUsage =
    "\nRescue of a mounted Windows system volume:\n"
    "       sorvane-offline --volume DIR [--action clean|rename|delete|report]\n"
    "                       [--report FILE.json] [--quarantine DIR] [--cross-fs]\n"
    "                       [--drive E=DIR]... [other options]\n"
    "--volume: DIR is a mounted Windows system volume (drive C:); its hives are\n"
    "the registry: SOFTWARE, SYSTEM and every profile's NTUSER.DAT, each HKCU\n"
    "entry the sweep removes is removed from every profile. Hives the scan\n"
    "changed are written back after a copy of each is kept (named on stderr).\n"
    "--action: what is done with a detection (default clean). With report\n"
    "nothing on the volume changes: the registry lines are still printed but\n"
    "not applied (the report marks them so).\n"
    "--registry, --save-registry and --save-changes do not go with --volume.\n"
    "--cross-fs: enters other file systems mounted below a drive (without it\n"
    "they are left out); either way each is named on stderr.\n"
    "--report: a JSON record of the run (results, registry removals with their\n"
    "hive, statistics, pending renames, exit code).\n"
    "--quarantine DIR: keeps the original bytes of every file before it is\n"
    "deleted, renamed, truncated or repaired, and of every hive before it is\n"
    "rewritten. Each copy and its record in DIR/manifest.jsonl reach the disk\n"
    "before the change; DIR/manifest.json sums them up at the end. A folder\n"
    "that holds entries already is continued, never overwritten. DIR must not\n"
    "be on a drive being cleaned; without --quarantine the hives' originals go\n"
    "to sorvane-backup-TIME in the working folder, which must not be either.\n"
    "       sorvane-offline --restore DIR [--force] [--volume WHERE]\n"
    "puts every file of the quarantine (or hive backups' folder) DIR back; a\n"
    "file changed since the run is left (and named) unless --force. --volume\n"
    "names where the cleaned volume is mounted now (it must be the same\n"
    "volume); a hive write that a stopped run left unfinished is undone.\n";

int ParseRescueArgument(int argc, char** argv, int* i, RescueOptions* options, std::string* error) {
  OptionArgument option = SplitArgument(argv[*i]);
  const std::string& name = option.name;
  if (name == "--force" && !option.inlineValue) {
    options->force = true;
    return 1;
  }
  if (name == "--cross-fs" && !option.inlineValue) {
    options->crossFs = true;
    return 1;
  }
  if (name != "--volume" && name != "--action" && name != "--report" && name != "--quarantine" &&
      name != "--restore") {
    return -1;
  }
  if (!TakeValue(argc, argv, i, &option, error)) return 0;
  const std::string& value = option.value;
  if (name == "--volume") {
    struct stat st;
    if (stat(value.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
      *error = "no such directory: " + value;
      return 0;
    }
    options->volume = value;
  } else if (name == "--action") {
    static const struct {
      const char* name;
      int mode;
    } actions[] = {{"clean", ActionClean}, {"rename", ActionRename}, {"delete", ActionDelete},
                   {"report", ActionReport}};
    for (const auto& a : actions) {
      if (value == a.name) options->action = a.mode;
    }
    if (!options->action) {
      *error = "bad --action '" + value + "': expected clean, rename, delete or report";
      return 0;
    }
  } else if (name == "--report") {
    options->report = value;
  } else if (name == "--quarantine") {
    options->quarantine = value;
  } else {
    options->restore = value;
  }
  return 1;
}
