// The image session: daemon, partition choice, ntfs-3g mounts, clean-up.
#include "tools/sorvane-offline/image.h"

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <nlohmann/json.hpp>

#include "engine/shared_state.h"
#include "tools/sorvane-offline/hibernation.h"
#include "tools/sorvane-offline/mounts.h"
#include "tools/sorvane-offline/volume.h"

using nlohmann::json;

namespace {

volatile sig_atomic_t stopSignal = 0;
volatile int stopFlag = 0;

void OnStopSignal(int sig) {
  stopSignal = sig;
  stopFlag = 1;
  CancelRequested = 1;  // the walk returns at every level, as after a cancel
}

json PartitionRecord(const Partition& p) {
  return {{"index", p.index}, {"offset", p.offset}, {"size", p.size}, {"ntfs_serial", p.serial}};
}

std::string Name(const Partition& p) {
  return p.index == 0 ? std::string("the whole disk") : "partition " + std::to_string(p.index);
}

}  // namespace

void CatchStopSignals() {
  struct sigaction action = {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) sigaction(sig, &action, nullptr);
}

int StopSignal() { return stopSignal; }

ImageSession::~ImageSession() {
  std::string error;
  if (!Close(&error)) std::fprintf(stderr, "sorvane-offline: %s\n", error.c_str());
}

bool ImageSession::StartDaemon(bool writable, std::string* error) {
  if (!daemon_.Start(run_, chain_, writable, &stopFlag, error)) return false;
  return !stopFlag || (*error = "stopped by a signal", false);
}

bool ImageSession::MountPartition(const Partition& p, bool writable, std::string* dir, std::string* error) {
  std::string device;
  if (!daemon_.ExportPartition(p.index, p.offset, p.size, writable, &device, error)) return false;
  *dir = run_ + "/m" + std::to_string(p.index);
  mkdir(dir->c_str(), 0700);
  std::string log = run_ + "/ntfs-" + std::to_string(p.index) + ".log";
  pid_t pid = mounts::Spawn({"ntfs-3g", "-o", writable ? "no_detach" : "ro,no_detach", device, *dir}, log, error);
  if (pid <= 0) {
    daemon_.RemovePartition(p.index, error);
    return false;
  }
  mounts::RecordProcess(run_, "ntfs-" + std::to_string(p.index), pid);
  mounts_.push_back(Mount{p.index, *dir, pid});
  // Not cut short by a signal: a mount half made is waited for, then undone.
  if (!mounts::WaitForMount(*dir, pid, 30, nullptr) || stopFlag) {
    std::string text;
    if (FILE* f = std::fopen(log.c_str(), "r")) {
      char line[512];
      while (std::fgets(line, sizeof line, f)) {
        if (std::strstr(line, "Version ") != line && std::strstr(line, "canonicalized") == nullptr) text += line;
      }
      std::fclose(f);
    }
    while (!text.empty() && text.back() == '\n') text.pop_back();
    *error = stopFlag ? "stopped by a signal" : "ntfs-3g cannot mount " + Name(p) + ": " + text;
    if (!mounts::IsMountPoint(*dir)) mounts::Stop(pid, 5);  // never mounted: nothing of it to write back
    std::string ignored;
    UnmountPartition(p.index, &ignored);
    return false;
  }
  return true;
}

bool ImageSession::UnmountPartition(int index, std::string* error) {
  for (size_t i = 0; i < mounts_.size(); ++i) {
    if (mounts_[i].index != index) continue;
    // ntfs-3g writes back and ends before its device goes.
    if (!mounts::Unmount(mounts_[i].dir, mounts_[i].ntfs, 60, error)) return false;
    rmdir(mounts_[i].dir.c_str());
    unlink((run_ + "/ntfs-" + std::to_string(index) + ".pid").c_str());
    mounts_.erase(mounts_.begin() + static_cast<long>(i));
    break;
  }
  return daemon_.RemovePartition(index, error);
}

bool ImageSession::Close(std::string* error) {
  bool ok = true;
  while (!mounts_.empty()) {
    if (!UnmountPartition(mounts_.back().index, error)) {
      // The daemon stays while ntfs-3g may still write to it; the next run
      // (or the steps in docs/images.md) finishes this.
      *error += "; the image stays open in " + run_;
      mounts_.clear();
      run_.clear();
      return false;
    }
  }
  daemon_.Stop();
  if (!run_.empty()) {
    if (!mounts::MountsBelow(run_).empty()) {
      *error = "mounts are left below " + run_;
      ok = false;
    } else {
      mounts::RemoveRunFolder(run_);
    }
    run_.clear();
  }
  return ok;
}

bool ImageSession::Open(const ImageOptions& options, bool writable, std::string* volume, std::string* origin,
                        std::string* error) {
  mounts::CleanStaleRuns();
  if (!ResolveImage(options.path, options.format, options.allowBacking, &chain_, error)) return false;
  run_ = mounts::CreateRunFolder(error);
  if (run_.empty()) return false;
  // First read-only: the partitions are looked at, and a run that is to
  // write is refused, before the image is opened for writing.
  if (!StartDaemon(false, error)) return false;
  std::string table;
  std::vector<Partition> partitions;
  if (!ReadPartitions(daemon_.Disk(), &table, &partitions, error)) return false;
  const Partition* chosen = nullptr;
  json notScanned = json::array();
  auto leave = [&](const Partition& p, const std::string& reason) {
    std::fprintf(stderr, "image: %s not scanned: %s\n", Name(p).c_str(), reason.c_str());
    notScanned.push_back({{"index", p.index}, {"reason", reason}});
  };
  bool anyLocked = false;
  std::string unreadable;  // the first NTFS partition that could not be opened, and why
  for (const auto& p : partitions) {
    if (options.partition >= 0 && p.index != options.partition) continue;
    if (p.kind == "bitlocker") {
      leave(p, "BitLocker volume, locked");
      anyLocked = true;
      continue;
    }
    if (p.kind != "ntfs") {
      leave(p, p.kind.empty() ? "not NTFS" : "not NTFS (" + p.kind + ")");
      continue;
    }
    std::string dir;
    if (!MountPartition(p, false, &dir, error)) {
      if (stopFlag) return false;
      // Unread (another run's lock, a damaged volume): it could hold Windows.
      leave(p, *error);
      if (unreadable.empty()) unreadable = Name(p) + ": " + *error;
      anyLocked = true;
      continue;
    }
    VolumeLayout layout;
    std::string why;
    bool windows = FindVolumeLayout(dir, &layout, &why);
    if (windows && !chosen) {
      chosen = &p;
      continue;
    }
    leave(p, windows ? "another Windows volume (--partition " + std::to_string(p.index) + " scans it)"
                     : "no Windows folder with System32\\config\\SOFTWARE");
    if (!UnmountPartition(p.index, error)) return false;
  }
  if (options.partition >= 0) {
    bool found = false;
    for (const auto& p : partitions) found = found || p.index == options.partition;
    if (!found) {
      std::string list;
      for (const auto& p : partitions) list += (list.empty() ? "" : ", ") + std::to_string(p.index);
      *error = "the image has no partition " + std::to_string(options.partition) + " (it has " +
               (list.empty() ? "none" : list) + ")";
      return false;
    }
  }
  if (!chosen) {
    *error = !unreadable.empty() ? "the image holds no Windows volume that could be read: " + unreadable
             : anyLocked ? "the image holds no Windows volume that can be read: its BitLocker volume is locked and "
                         "was not scanned (unlock it in Windows, or image the unlocked volume)"
                       : "the image holds no NTFS partition with a Windows folder";
    return false;
  }
  for (const auto& p : partitions) {
    if (options.partition < 0 || p.index == options.partition) continue;
    leave(p, "not chosen (--partition " + std::to_string(options.partition) + ")");
    anyLocked = anyLocked || p.kind == "bitlocker";
  }
  leftLocked_ = anyLocked;
  const Partition part = *chosen;
  if (writable) {
    if (!RefuseIfHibernated(run_ + "/m" + std::to_string(part.index), error)) return false;
    if (!UnmountPartition(part.index, error)) return false;
    daemon_.Stop();
    if (!StartDaemon(true, error)) return false;
  }
  if (!writable) {
    *volume = run_ + "/m" + std::to_string(part.index);
  } else if (!MountPartition(part, true, volume, error)) {
    return false;
  }
  json record = {{"path", chain_.layers[0].path},
                 {"format", chain_.layers[0].format},
                 {"table", table.empty() ? "none" : table},
                 {"partition", PartitionRecord(part)},
                 {"not_scanned", notScanned}};
  if (chain_.layers.size() > 1) {
    json backing = json::array();
    for (size_t i = 1; i < chain_.layers.size(); ++i) backing.push_back(chain_.layers[i].path);
    record["backing"] = backing;
  }
  *origin = record.dump();
  std::fprintf(stderr, "image: %s (%s), %s: offset %llu, size %llu, NTFS serial %s, mounted %s at %s\n",
               chain_.layers[0].path.c_str(), chain_.layers[0].format.c_str(), Name(part).c_str(),
               static_cast<unsigned long long>(part.offset), static_cast<unsigned long long>(part.size),
               part.serial.c_str(), writable ? "read-write" : "read-only", volume->c_str());
  return true;
}

bool ImageSession::Reopen(const std::string& originText, bool allowBacking, std::string* volume,
                          std::string* error) {
  json origin = json::parse(originText, nullptr, false);
  const json* part = origin.is_object() && origin.contains("partition") ? &origin["partition"] : nullptr;
  if (!part || !part->is_object() || !origin["path"].is_string() || !origin["format"].is_string() ||
      !(*part)["index"].is_number_unsigned() || !(*part)["offset"].is_number_unsigned() ||
      !(*part)["size"].is_number_unsigned()) {
    *error = "the manifest's image record is malformed";
    return false;
  }
  mounts::CleanStaleRuns();
  std::string path = origin["path"];
  if (!ResolveImage(path, origin["format"], allowBacking, &chain_, error)) return false;
  run_ = mounts::CreateRunFolder(error);
  if (run_.empty() || !StartDaemon(true, error)) return false;
  Partition p;
  p.index = (*part)["index"];
  p.offset = (*part)["offset"];
  p.size = (*part)["size"];
  std::string sector(512, '\0');
  FILE* disk = std::fopen(daemon_.Disk().c_str(), "rb");
  bool read = disk && fseeko(disk, static_cast<off_t>(p.offset), SEEK_SET) == 0 &&
              std::fread(&sector[0], 1, 512, disk) == 512;
  if (disk) std::fclose(disk);
  Partition now = p;
  if (read) ClassifyBootSector(sector, &now);
  if (!read || now.serial != part->value("ntfs_serial", "")) {
    *error = Name(p) + " of " + path + " is no longer the NTFS volume the quarantine came from (serial " +
             part->value("ntfs_serial", "") + ", now " + (now.serial.empty() ? "none" : now.serial) + ")";
    return false;
  }
  if (!MountPartition(p, true, volume, error)) return false;
  if (!RefuseIfHibernated(*volume, error)) return false;
  std::fprintf(stderr, "image: %s, %s reopened at %s\n", path.c_str(), Name(p).c_str(), volume->c_str());
  return true;
}
