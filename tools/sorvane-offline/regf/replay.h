// Bringing a dirty hive up to date from its transaction logs before it is
// read, as Windows does at its next start: the new format (log entries
// with their hashes and sequence numbers, LOG1 then LOG2) where a log is
// of that format, else the old one (a dirty vector and dirty pages, the
// log whose time stamp matches the hive's). Each entry or page set is
// checked before it is applied; replay stops at the first that fails.
#pragma once

#include <string>

#include "tools/sorvane-offline/regf/bytes.h"

namespace regf {

struct LogFile {
  std::string name;  // for messages ("NTUSER.DAT.LOG1")
  Bytes bytes;
};

struct ReplayResult {
  bool dirty = false;     // the hive needed its logs
  bool complete = false;  // clean, or every entry that continues it applied
  size_t applied = 0;     // log entries (new format) or dirty pages (old) applied
  uint32_t lastSequence = 0;  // the highest sequence number seen, hive or logs
  std::string why;        // what failed, when not complete
};

// Replays `logs` (in the order LOG1, LOG2, LOG) into `hive` when it is
// dirty. On a failed entry the entries before it stay applied, as Windows
// would leave them; `complete` is then false.
ReplayResult Replay(Bytes* hive, const std::vector<LogFile>& logs);

// One format each (log_new.cpp, log_old.cpp). `expected` is the sequence
// number the first entry to apply carries; both return false with the
// reason when an entry that should apply fails its checks, and leave what
// they applied before it.
bool ReplayNewLogs(Bytes* hive, const std::vector<const LogFile*>& logs, uint32_t expected, ReplayResult* r);
bool ReplayOldLog(Bytes* hive, const LogFile& log, ReplayResult* r);

// The first sector of a log file: the hive's base block with its file type.
Bytes LogBaseSector(const Bytes& hive, uint32_t fileType);

}  // namespace regf
