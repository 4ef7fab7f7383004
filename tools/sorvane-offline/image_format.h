// The format of a disk image read from its own magic (QEMU is always told
// the format, never left to guess it), and every other file the image
// names: a backing file, an external data file, the extents of a VMDK
// descriptor. These are read before QEMU opens anything.
#pragma once

#include <string>
#include <vector>

struct ImageLayer {
  std::string path;    // absolute
  std::string format;  // QEMU driver name: raw, qcow2, vmdk, vhdx, vdi, vpc
};

// The image and, top first, the backing files it is read through.
struct ImageChain {
  std::vector<ImageLayer> layers;
  std::vector<std::string> otherFiles;  // extents and data files QEMU opens by name (beside the image)
};

// What one image file names besides itself.
struct ImageReferences {
  std::string backing;           // backing file as the image names it, or empty
  std::string backingFormat;     // as recorded in the image, or empty
  std::vector<std::string> files;    // extents, data file: names as written
  std::string unsupported;       // why the image cannot be opened at all, or empty
};

// The format of the first bytes of a file (at least 1 KiB where the file
// has it, `size` its full length): a format's magic, else "raw" when the
// first sector holds an MBR, the second a GPT header, or the first an NTFS
// boot sector; empty when nothing is recognised.
std::string FormatOfBytes(const std::string& head, unsigned long long size);

// Reads what the image at `path`, taken as `format`, names besides itself;
// false with a message when it cannot be read.
bool ReadReferences(const std::string& path, const std::string& format, ImageReferences* refs,
                    std::string* error);

// The chain QEMU is to open for `path`: the format from `forced` or the
// magic. Every file it names must be a regular file in the image's own
// folder; a backing or data file is refused unless `allowBacking` too
// (the extents of a split VMDK are part of the disk). False with a message (the run
// ends with exit code 2).
bool ResolveImage(const std::string& path, const std::string& forced, bool allowBacking, ImageChain* chain,
                  std::string* error);

// The formats --format accepts.
bool KnownFormat(const std::string& format);
