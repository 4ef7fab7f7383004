// --image: a whole-disk image opened through QEMU's block layer, its
// Windows partition mounted with ntfs-3g for the volume rescue, and every
// mount and the daemon undone at the end, on SIGINT and SIGTERM, and by
// the next run after a SIGKILL.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "tools/sorvane-offline/image_format.h"
#include "tools/sorvane-offline/partitions.h"
#include "tools/sorvane-offline/qemu_export.h"

struct ImageOptions {
  std::string path;         // the image, or empty
  std::string format;       // forced format, or empty (read from the magic)
  int partition = -1;       // --partition N, or -1 (the Windows partition)
  bool allowBacking = false;
};

// Parses argv[*i] when it is an image option: 1 consumed, 0 error, -1 not one.
int ParseImageArgument(int argc, char** argv, int* i, ImageOptions* options, std::string* error);
extern const char* const ImageUsage;

// SIGINT, SIGTERM and SIGHUP end the run in order: the walk stops as a
// cancel does, the report and quarantine are written, the mounts undone.
void CatchStopSignals();
int StopSignal();  // the signal received, or 0

class ImageSession {
 public:
  ~ImageSession();

  // Opens the image, finds the partition to scan and mounts it (read-write
  // only when `writable`); *volume is the mount folder, *origin the JSON
  // text naming image and partition for the report and the quarantine.
  bool Open(const ImageOptions& options, bool writable, std::string* volume, std::string* origin,
            std::string* error);
  // Reopens the partition an earlier run recorded in `origin`, read-write,
  // checking that it still is the same volume.
  bool Reopen(const std::string& origin, bool allowBacking, std::string* volume, std::string* error);
  // Unmounts and stops everything; false with a message when something stays.
  bool Close(std::string* error);
  // Partitions left out that could hold anything (BitLocker, an NTFS
  // volume that could not be opened): a run that found nothing is then
  // incomplete.
  bool LeftLocked() const { return leftLocked_; }

 private:
  struct Mount {
    int index;
    std::string dir;
    pid_t ntfs;
  };
  bool MountPartition(const Partition& p, bool writable, std::string* dir, std::string* error);
  bool UnmountPartition(int index, std::string* error);
  bool StartDaemon(bool writable, std::string* error);

  std::string run_;
  ImageChain chain_;
  QemuExport daemon_;
  std::vector<Mount> mounts_;
  bool leftLocked_ = false;
};

// --restore DIR of a quarantine kept from an image: reopens the image and
// partition its manifest names and puts the files back there. -1 when the
// manifest names no image (a --volume quarantine), else the exit code.
int RestoreFromImage(const std::string& dir, bool force, bool allowBacking);
