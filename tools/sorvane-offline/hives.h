// The registry of a mounted Windows volume: its hive files (SOFTWARE,
// SYSTEM, every profile's NTUSER.DAT) read through the regf layer into the
// emulated registry, a dirty hive's transaction logs replayed first, and
// the hives the scan changed written back after a copy of each original
// and its logs is kept. Only the cells that changed are rewritten: values
// and keys the scan left alone keep their bytes, those that could not be
// read too. A written hive is clean and its logs are reset.
#pragma once

#include <memory>
#include <string>
#include <vector>

struct HiveFile {
  std::string host;      // host path of the hive file
  std::string label;     // volume-relative Windows path, e.g. "Users\\alice\\NTUSER.DAT"
  std::string profile;   // profile folder for an NTUSER.DAT ("Users\\alice"), else empty
  std::string root;      // host path of the volume it lies on
};

struct CommittedLog {
  std::string label;     // the hive's label and the log's suffix
  std::string host;
  std::string backup;    // host path of the copy of the log as it was
};

struct CommittedHive {
  std::string label;
  std::string host;
  std::string backup;    // host path of the copy of the original
  std::vector<CommittedLog> logs;  // its transaction logs, reset after the write
};

class Hives {
 public:
  Hives();
  ~Hives();
  Hives(const Hives&) = delete;
  Hives& operator=(const Hives&) = delete;

  // Opens every hive (for writing unless readOnly) and loads SOFTWARE into
  // HKLM\SOFTWARE, SYSTEM into HKLM\SYSTEM with its current control set as
  // CurrentControlSet, and each profile into a tree of its own; HKCU shows
  // the first profile. A dirty hive is replayed from its logs first (one
  // whose logs cannot be replayed is read as it is and never written). A
  // hive that does not open or read soundly is an error naming it.
  bool Load(const HiveFile& software, const HiveFile& system, const std::vector<HiveFile>& profiles,
            bool readOnly, std::string* error);

  size_t ProfileCount() const;
  const HiveFile& Profile(size_t index) const;
  // Makes HKCU show profile `index`'s tree.
  void UseProfile(size_t index);
  size_t CurrentProfile() const;

  // The hive file a key path of the emulated registry lives in (label, in
  // the host's UTF-8), or
  // empty; HKCU means the current profile.
  std::string HiveOf(const std::string& keyPath) const;

  // True when the emulated registry differs from what a hive held.
  bool Changed(size_t hive) const;
  // The labels of dirty hives whose logs could not be replayed whole: the
  // scan saw them without their newest changes.
  std::vector<std::string> Unreplayed() const;
  // Writes back every changed hive through its volume's root (no link
  // followed, never a file with other hard links): its original is first
  // kept in the open quarantine with its logs, the write is recorded there
  // before it starts and when it ends, and the logs are reset after it (a
  // dirty hive whose logs could not be replayed is not written); a hive that fails to commit is put back as it
  // was. False with a message naming each hive not written.
  bool Commit(std::vector<CommittedHive>* committed, std::string* error);

 private:
  struct State;
  std::unique_ptr<State> state_;
};
