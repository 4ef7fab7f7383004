// The rescue options of sorvane-offline's command line.
#include <sys/stat.h>

#include <cstring>

#include "engine/shared_state.h"
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
    "rewritten, listed in DIR/manifest.json.\n"
    "       sorvane-offline --restore DIR [--force]\n"
    "puts every file of the quarantine DIR back; a file changed since the run\n"
    "is left (and named) unless --force.\n";

int ParseRescueArgument(int argc, char** argv, int* i, RescueOptions* options, std::string* error) {
  std::string arg = argv[*i];
  std::string name = arg, value;
  size_t eq = arg.find('=');
  bool inlineValue = arg.rfind("--", 0) == 0 && eq != std::string::npos;
  if (inlineValue) name = arg.substr(0, eq);
  if (name == "--force" && !inlineValue) {
    options->force = true;
    return 1;
  }
  if (name == "--cross-fs" && !inlineValue) {
    options->crossFs = true;
    return 1;
  }
  if (name != "--volume" && name != "--action" && name != "--report" && name != "--quarantine" &&
      name != "--restore") {
    return -1;
  }
  if (inlineValue) {
    value = arg.substr(eq + 1);
  } else if (*i + 1 < argc) {
    value = argv[++*i];
  } else {
    *error = "missing value after " + name;
    return 0;
  }
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
