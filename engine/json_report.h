// The JSON report of a scan, one format for sorvane-offline and
// sorvane.exe: every result with its line, the statistics, the final
// status, the removals waiting for the next start and the exit code. Each
// program adds fields of its own to the document. Texts are UTF-8.
#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

struct ReportRegistryRemoval {
  std::string hive;  // the hive file that held the entry; empty on a live system
  std::string key;   // "HKCU\\Software\\..."
  bool wholeKey = false;
  std::string value;
  bool hasData = false;  // the removed data is known
  std::string data;      // text for string types, hex bytes otherwise
};

struct ReportResult {
  std::string line, path, detection, outcome;
  bool applied = true;  // the change is on the disk
  bool registry = false;
  std::vector<ReportRegistryRemoval> removals;
};

struct ReportRename {
  std::string from, to;  // to empty: removal
};

struct ReportStatistics {
  long long scanned = 0, infected = 0, removed = 0, disinfected = 0;
};

struct ScanReport {
  std::string action;  // "clean", "rename", "delete" or "report"
  std::vector<ReportResult> results;
  ReportStatistics statistics;
  std::string status;
  std::vector<ReportRename> pendingRenames;
  int exitCode = 0;
};

// The report's fields as a JSON object.
nlohmann::json ReportDocument(const ScanReport& report);

// The document as written to a file: indented, ending with a line break;
// bytes that are no UTF-8 are replaced rather than failing the report.
std::string ReportText(const nlohmann::json& document);

// The name of an action mode in the report.
const char* ReportActionName(int mode);
