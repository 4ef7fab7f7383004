// The --image options of sorvane-offline's command line.
#include <cstdlib>

#include "tools/sorvane-offline/image.h"
#include "tools/sorvane-offline/option_argument.h"

const char* const ImageUsage =
    "\nRescue of a whole-disk image (raw, qcow2, vmdk, vhdx, vdi, vpc):\n"
    "       sorvane-offline --image FILE [--format FORMAT] [--partition N] [--allow-backing]\n"
    "                       [--action ...] [--report FILE.json] [--quarantine DIR] [other options]\n"
    "The image is opened through qemu-storage-daemon (read-only unless the action\n"
    "changes something) and its Windows partition mounted with ntfs-3g; then the\n"
    "run is that of --volume. --partition N scans partition N as the partition\n"
    "table numbers it (MBR logical partitions from 5). The format is read from the\n"
    "file's magic (--format forces one). An image that names other files (backing\n"
    "file, data file) is refused unless --allow-backing, and then only files beside\n"
    "it are opened. Partitions not scanned are named on stderr with the reason.\n"
    "A hibernated Windows is only reported on. --restore DIR reopens the image a\n"
    "quarantine came from.\n";

int ParseImageArgument(int argc, char** argv, int* i, ImageOptions* options, std::string* error) {
  OptionArgument option = SplitArgument(argv[*i]);
  const std::string& name = option.name;
  if (name == "--allow-backing" && !option.inlineValue) {
    options->allowBacking = true;
    return 1;
  }
  if (name != "--image" && name != "--format" && name != "--partition") return -1;
  if (!TakeValue(argc, argv, i, &option, error)) return 0;
  const std::string& value = option.value;
  if (name == "--image") {
    options->path = value;
  } else if (name == "--format") {
    if (!KnownFormat(value)) {
      *error = "bad --format '" + value + "': expected raw, qcow2, vmdk, vhdx, vdi or vpc";
      return 0;
    }
    options->format = value;
  } else {
    char* end = nullptr;
    long n = std::strtol(value.c_str(), &end, 10);
    if (value.empty() || *end || n < 0 || n > 4096) {
      *error = "bad --partition '" + value + "': expected a partition number (0: a disk with no table)";
      return 0;
    }
    options->partition = static_cast<int>(n);
  }
  return 1;
}
