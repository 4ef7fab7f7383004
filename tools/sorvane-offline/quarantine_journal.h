// The records of a quarantine folder. manifest.jsonl is the journal: one
// JSON object a line, appended and fsynced before the change it announces,
// so that a run stopped at any instant leaves every original restorable.
// manifest.json is the summary written at the end of a run (and the only
// record of folders written before the journal existed).
#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "tools/sorvane-offline/volume_identity.h"

namespace quarantine {

// One kept original: a file before the scan changed it, or a hive before
// it was written back.
struct Entry {
  size_t n = 0;                 // entry number, unique in the folder
  std::string type = "file";    // "file" or "hive"
  std::string path;             // Windows path, UTF-8
  std::string host;             // host path when kept (bytes as they were)
  std::string root;             // host path of the drive root (empty: an old record)
  VolumeIdentity volume;        // identity of that root's volume
  std::string rel;              // path below the root (exact bytes)
  std::string renamedHost;      // a rename's destination: host path
  std::string renamedRel;       // and below the root (empty: no rename)
  std::string stored;           // the copy, relative to the folder
  std::string action, detection, sha256, time, attributes;
  uint64_t size = 0;
  nlohmann::json after;         // {"exists", "sha256"} the run left, or null when unknown
  nlohmann::json renamedAfter;  // the same for the rename's destination
  std::string hiveWrite;        // hives: "", "started", "written", "failed", "rolled back"
};

// The entry's record as the journal and the summary hold it.
nlohmann::json EntryRecord(const Entry& e);

// Reads the records of `dir`: the journal when there is one, else the
// summary. Each record that cannot be used is named in *problems; returns
// false (with the reason in *problems) when there are no usable records.
// *torn tells that the journal ends with an unfinished line (a run stopped
// while writing it: the change it announced was never made).
bool ReadRecords(const std::string& dir, std::vector<Entry>* entries, std::vector<std::string>* problems,
                 bool* fromJournal, bool* torn);

// Appends one record to the journal descriptor and fsyncs it.
bool AppendRecord(int journal, const nlohmann::json& record);

}  // namespace quarantine
