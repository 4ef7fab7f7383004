// A disk image exported as FUSE files by qemu-storage-daemon: the whole
// disk (always read-only) and, through a raw node with an offset and a
// size, single partitions. The daemon runs in a session of its own and is
// driven over its QMP socket in the run folder.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>

#include "tools/sorvane-offline/image_format.h"

class QemuExport {
 public:
  ~QemuExport() { Stop(); }

  // Opens `chain` (writable or not) and exports the whole disk as
  // RUN/disk. QEMU's own message when it refuses (a lock held by another
  // run among them). `stop` ends the waiting early.
  bool Start(const std::string& runFolder, const ImageChain& chain, bool writable, const volatile int* stop,
             std::string* error);
  const std::string& Disk() const { return disk_; }

  // Exports `size` bytes at `offset` of the disk as RUN/pINDEX.
  bool ExportPartition(int index, uint64_t offset, uint64_t size, bool writable, std::string* path,
                       std::string* error);
  bool RemovePartition(int index, std::string* error);

  // Ends the daemon (it flushes and removes its exports); waits for it.
  void Stop();
  bool Running() const { return pid_ > 0; }

 private:
  bool Command(const std::string& json, std::string* error);
  std::string LogText() const;

  std::string folder_, disk_;
  pid_t pid_ = 0;
  int qmp_ = -1;
  std::string pending_;  // bytes read from QMP beyond the last line
};
