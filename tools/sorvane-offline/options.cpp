// Parsing of sorvane-offline's arguments.
#include "tools/sorvane-offline/options.h"

#include <sys/stat.h>

#include <cctype>
#include <cstdlib>
#include <cstring>

#include "platform/system.h"
#include "tools/sorvane-offline/option_argument.h"

const char* const OfflineUsage =
    "usage: sorvane-offline --version | --yara-rules FILE\n"
    "       sorvane-offline --drive C=DIR [--drive E=DIR[:fixed|cdrom|remote|removable|ramdisk]]...\n"
    "                       [--answer yes|no|ok|cancel]...\n"
    "                       [--registry FILE.reg] [--save-registry FILE.reg] [--save-changes FILE.reg]\n"
    "                       [--platform 9x|nt4|nt5|nt6|other] [--windows-dir C:\\WINDOWS]\n"
    "                       [--process PID=PATH[:unkillable][:service=NAME]]...\n"
    "                       [--events FILE|-] [--jobs N]\n"
    "Scans the directories given as drives and acts on what it finds (deletes\n"
    "infected files). Results lines go to stdout, then the final status, the\n"
    "removals scheduled for the next start and a requested restart.\n"
    "--registry loads the machine's registry before the scan, --save-registry\n"
    "writes it after (in the format of the file loaded, else REGEDIT4).\n"
    "--save-changes FILE.reg writes what the scan removed from the registry as\n"
    "\"[-key]\" and \"value\"=- lines, in the same format, to apply on the live system.\n"
    "--process adds a running process with the image PATH (a Windows path) for\n"
    "the memory scan: one that cannot be terminated, or that runs as service NAME.\n"
    "Each process the run ends and each service it stops is named on stderr\n"
    "(\"process ended: PID PATH\", \"service stopped: NAME\").\n"
    "--events FILE writes one JSON object a line as the scan goes: an alert per\n"
    "results line (per removed registry value or key), then the statistics and\n"
    "the exit code; with \"-\" they go to stdout and the results list to stderr.\n"
    "Only the given directories are touched: no link is followed (links are\n"
    "shown as reparse points), only regular files are read, a file with other\n"
    "hard links is not written, and a read-only mount is not written at all.\n"
    "Each entry that could not be examined is named on stderr with the reason\n"
    "(\"not scanned: PATH: REASON\"), then their count.\n"
    "--jobs N matches files on up to N threads while one thread acts on them in\n"
    "the walk's order (default: the cores the process may use); the output is\n"
    "the same for every N, and --jobs 1 reads and matches on one thread.\n"
    "--yara-rules FILE writes the detection data as YARA rules (\"-\": stdout).\n"
    "Exit code: 0 complete and nothing found, 1 something found, 2 bad\n"
    "arguments, a missing directory, a registry file that cannot be read (a\n"
    "malformed one named with its line), an events stream that could not be\n"
    "written, or an incomplete scan that found nothing.\n";

namespace {

bool ParseDrive(const std::string& text, DriveOption* drive, std::string* error) {
  if (text.size() < 3 || !std::isalpha(static_cast<unsigned char>(text[0])) || text[1] != '=') {
    *error = "bad --drive '" + text + "': expected LETTER=DIR";
    return false;
  }
  drive->letter = static_cast<char>(std::toupper(static_cast<unsigned char>(text[0])));
  drive->dir = text.substr(2);
  drive->type = DRIVE_FIXED;
  static const struct {
    const char* name;
    unsigned type;
  } types[] = {{"fixed", DRIVE_FIXED},     {"cdrom", DRIVE_CDROM},
               {"remote", DRIVE_REMOTE},   {"removable", DRIVE_REMOVABLE},
               {"ramdisk", DRIVE_RAMDISK}};
  size_t colon = drive->dir.rfind(':');
  if (colon != std::string::npos) {
    std::string suffix = drive->dir.substr(colon + 1);
    for (const auto& t : types) {
      if (suffix == t.name) {
        drive->type = t.type;
        drive->dir.erase(colon);
        break;
      }
    }
  }
  if (drive->letter < 'C') {
    *error = "bad --drive '" + text + "': the scan walks the letters C to Z";
    return false;
  }
  struct stat st;
  if (stat(drive->dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    *error = "no such directory: " + drive->dir;
    return false;
  }
  return true;
}

bool ParseAnswer(const std::string& text, int* answer) {
  static const struct {
    const char* name;
    int code;
  } answers[] = {{"yes", IDYES}, {"no", IDNO}, {"ok", IDOK}, {"cancel", IDCANCEL}};
  for (const auto& a : answers) {
    if (text == a.name) {
      *answer = a.code;
      return true;
    }
  }
  return false;
}

}  // namespace

bool ParseOptions(int argc, char** argv, OfflineOptions* options, std::string* error) {
  for (int i = 1; i < argc; ++i) {
    int image = ParseImageArgument(argc, argv, &i, &options->image, error);
    if (image == 0) return false;
    if (image == 1) continue;
    int rescue = ParseRescueArgument(argc, argv, &i, &options->rescue, error);
    if (rescue == 0) return false;
    if (rescue == 1) continue;
    const std::string arg = argv[i];
    OptionArgument option = SplitArgument(argv[i]);
    const std::string& name = option.name;
    const std::string& value = option.value;
    auto takeValue = [&]() { return TakeValue(argc, argv, &i, &option, error); };
    if (name == "--drive") {
      if (!takeValue()) return false;
      DriveOption drive;
      if (!ParseDrive(value, &drive, error)) return false;
      for (const auto& d : options->drives) {
        if (d.letter == drive.letter) {
          *error = std::string("drive ") + drive.letter + ": given twice";
          return false;
        }
      }
      options->drives.push_back(drive);
    } else if (name == "--answer") {
      if (!takeValue()) return false;
      int answer;
      if (!ParseAnswer(value, &answer)) {
        *error = "bad --answer '" + value + "': expected yes, no, ok or cancel";
        return false;
      }
      options->answers.push_back(answer);
    } else if (name == "--registry" || name == "--save-registry") {
      if (!takeValue()) return false;
      (name == "--registry" ? options->registryIn : options->registryOut) = value;
    } else if (name == "--save-changes") {
      if (!takeValue()) return false;
      options->changesOut = value;
    } else if (name == "--platform") {
      if (!takeValue()) return false;
      if (value != "9x" && value != "nt4" && value != "nt5" && value != "nt6" && value != "other") {
        *error = "bad --platform '" + value + "': expected 9x, nt4, nt5, nt6 or other";
        return false;
      }
      options->platform = value;
    } else if (name == "--windows-dir") {
      if (!takeValue()) return false;
      if (value.size() < 3 || !std::isalpha(static_cast<unsigned char>(value[0])) || value[1] != ':' ||
          value[2] != '\\') {
        *error = "bad --windows-dir '" + value + "': expected a Windows path such as C:\\WINDOWS";
        return false;
      }
      options->windowsDir = value;
    } else if (name == "--events") {
      if (!takeValue()) return false;
      if (value.empty()) {
        *error = "bad --events '': expected a file or - for stdout";
        return false;
      }
      options->events = value;
    } else if (name == "--jobs") {
      if (!takeValue()) return false;
      char* end = nullptr;
      const long jobs = std::strtol(value.c_str(), &end, 10);
      if (value.empty() || *end || jobs < 1 || jobs > 256) {
        *error = "bad --jobs '" + value + "': expected a number from 1 to 256";
        return false;
      }
      options->jobs = int(jobs);
    } else if (name == "--process") {
      if (!takeValue()) return false;
      ProcessOption process;
      if (!ParseProcessOption(value, &process, error)) return false;
      for (const auto& p : options->processes) {
        if (p.id == process.id) {
          *error = "process " + std::to_string(process.id) + " given twice";
          return false;
        }
      }
      options->processes.push_back(process);
    } else {
      *error = "unknown argument: " + arg;
      return false;
    }
  }
  const bool image = !options->image.path.empty();
  if (image && !options->rescue.volume.empty()) {
    *error = "--image and --volume exclude each other";
    return false;
  }
  if (!image && (!options->image.format.empty() || options->image.partition >= 0)) {
    *error = "--format and --partition go with --image";
    return false;
  }
  for (const auto& d : options->drives) {
    if (d.letter == 'C' && image) {
      *error = "drive C: is the image's Windows volume; --drive C= and --image exclude each other";
      return false;
    }
    if (d.letter == 'C' && !options->rescue.volume.empty()) {
      *error = "drive C: is the volume; --drive C= and --volume exclude each other";
      return false;
    }
  }
  // A volume's registry is its hives: a .reg file loaded over them would be
  // written into them, and a .reg file saved from them holds one profile's
  // HKCU of many.
  if ((!options->rescue.volume.empty() || image) &&
      !(options->registryIn.empty() && options->registryOut.empty() && options->changesOut.empty())) {
    *error = "the registry of --volume is its hives: --registry, --save-registry and --save-changes "
             "do not go with it (--report lists each registry removal with its hive)";
    return false;
  }
  if (!options->rescue.restore.empty()) {
    if (options->events.empty()) return true;
    *error = "--events goes with a scan, not with --restore";
    return false;
  }
  if (options->drives.empty() && options->rescue.volume.empty() && !image) {
    *error = "no drive given";
    return false;
  }
  return true;
}
