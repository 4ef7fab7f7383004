// Partition tables through libblkid; boot sectors by their signatures.
#include "tools/sorvane-offline/partitions.h"

#include <blkid/blkid.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

// The file system libblkid finds in `size` bytes at `offset` of `fd`.
std::string FileSystemAt(int fd, uint64_t offset, uint64_t size) {
  blkid_probe probe = blkid_new_probe();
  if (!probe) return "";
  std::string type;
  if (blkid_probe_set_device(probe, fd, static_cast<blkid_loff_t>(offset), static_cast<blkid_loff_t>(size)) == 0) {
    blkid_probe_enable_superblocks(probe, 1);
    blkid_probe_set_superblocks_flags(probe, BLKID_SUBLKS_TYPE);
    const char* value = nullptr;
    if (blkid_do_safeprobe(probe) == 0 && blkid_probe_lookup_value(probe, "TYPE", &value, nullptr) == 0 && value)
      type = value;
  }
  blkid_free_probe(probe);
  return type;
}

void Classify(int fd, Partition* p) {
  std::string sector(512, '\0');
  ssize_t n = pread(fd, &sector[0], sector.size(), static_cast<off_t>(p->offset));
  sector.resize(n > 0 ? static_cast<size_t>(n) : 0);
  ClassifyBootSector(sector, p);
  if (p->kind.empty()) p->kind = FileSystemAt(fd, p->offset, p->size);
}

}  // namespace

void ClassifyBootSector(const std::string& sector, Partition* partition) {
  partition->kind.clear();
  partition->serial.clear();
  if (sector.size() < 512) return;
  if (sector.compare(3, 8, "-FVE-FS-") == 0) {
    partition->kind = "bitlocker";
  } else if (sector.compare(3, 8, "NTFS    ") == 0) {
    partition->kind = "ntfs";
    char text[17];
    uint64_t serial = 0;
    for (int i = 7; i >= 0; --i) serial = (serial << 8) | static_cast<uint8_t>(sector[0x48 + i]);
    std::snprintf(text, sizeof text, "%016llX", static_cast<unsigned long long>(serial));
    partition->serial = text;
  }
}

bool ReadPartitions(const std::string& path, std::string* table, std::vector<Partition>* partitions,
                    std::string* error) {
  partitions->clear();
  table->clear();
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    *error = "cannot read the disk: " + std::string(std::strerror(errno));
    return false;
  }
  off_t diskSize = lseek(fd, 0, SEEK_END);
  blkid_probe probe = blkid_new_probe();
  if (!probe || blkid_probe_set_device(probe, fd, 0, 0) != 0) {
    if (probe) blkid_free_probe(probe);
    close(fd);
    *error = "cannot probe the disk";
    return false;
  }
  blkid_probe_enable_partitions(probe, 1);
  blkid_probe_set_partitions_flags(probe, BLKID_PARTS_ENTRY_DETAILS);
  blkid_partlist list = blkid_probe_get_partitions(probe);
  if (list) {
    if (blkid_parttable root = blkid_partlist_get_table(list)) {
      const char* type = blkid_parttable_get_type(root);
      *table = type ? type : "";
    }
    int count = blkid_partlist_numof_partitions(list);
    for (int i = 0; i < count; ++i) {
      blkid_partition part = blkid_partlist_get_partition(list, i);
      if (!part || blkid_partition_is_extended(part)) continue;  // the container of logical partitions
      Partition p;
      p.index = blkid_partition_get_partno(part);
      p.offset = static_cast<uint64_t>(blkid_partition_get_start(part)) * 512;
      p.size = static_cast<uint64_t>(blkid_partition_get_size(part)) * 512;
      if (p.offset >= static_cast<uint64_t>(diskSize)) continue;
      if (p.offset + p.size > static_cast<uint64_t>(diskSize)) p.size = static_cast<uint64_t>(diskSize) - p.offset;
      partitions->push_back(p);
    }
  }
  blkid_free_probe(probe);
  if (table->empty()) {
    // No table: the disk may be a volume of its own.
    Partition whole;
    whole.size = static_cast<uint64_t>(diskSize);
    partitions->push_back(whole);
  }
  for (auto& p : *partitions) Classify(fd, &p);
  close(fd);
  return true;
}
