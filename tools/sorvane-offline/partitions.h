// The partitions of a whole disk (GPT or MBR, read by libblkid) and what
// each holds at its start: NTFS, a BitLocker volume, or another file system.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct Partition {
  int index = 0;        // as the table numbers them (MBR logical from 5); 0: the whole disk
  uint64_t offset = 0;  // bytes
  uint64_t size = 0;    // bytes
  std::string kind;     // "ntfs", "bitlocker", or another file system's name ("" unknown)
  std::string serial;   // NTFS volume serial number, 16 hex digits
};

// Reads the partition table of the disk `path` (a file); a disk with no
// table whose first sector is a file system is one partition, index 0.
// False with a message when the disk cannot be read.
bool ReadPartitions(const std::string& path, std::string* table, std::vector<Partition>* partitions,
                    std::string* error);

// What a partition's boot sector says it is (the kind and NTFS serial of
// the Partition fields).
void ClassifyBootSector(const std::string& sector, Partition* partition);
