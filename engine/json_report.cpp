// Writing the JSON report shared by both programs.
#include "engine/json_report.h"

#include "engine/shared_state.h"

using nlohmann::json;

json ReportDocument(const ScanReport& report) {
  json results = json::array();
  for (const ReportResult& r : report.results) {
    json item = {{"line", r.line},       {"path", r.path},         {"detection", r.detection},
                 {"outcome", r.outcome}, {"action", report.action}, {"applied", r.applied}};
    if (r.registry) {
      json removed = json::array();
      for (const ReportRegistryRemoval& m : r.removals) {
        json e = {{"hive", m.hive}, {"key", m.key}, {"removed", m.wholeKey ? "key" : "value"}};
        if (!m.wholeKey) {
          e["value"] = m.value;
          if (m.hasData) e["data"] = m.data;
        }
        removed.push_back(e);
      }
      item["registry"] = removed;
    }
    results.push_back(item);
  }
  json pending = json::array();
  for (const ReportRename& p : report.pendingRenames) pending.push_back({{"from", p.from}, {"to", p.to}});
  return {{"action", report.action},
          {"results", results},
          {"statistics",
           {{"files_scanned", report.statistics.scanned},
            {"files_infected", report.statistics.infected},
            {"files_removed", report.statistics.removed},
            {"files_disinfected", report.statistics.disinfected}}},
          {"status", report.status},
          {"pending_renames", pending},
          {"exit_code", report.exitCode}};
}

std::string ReportText(const json& document) {
  return document.dump(2, ' ', false, json::error_handler_t::replace) + "\n";
}

const char* ReportActionName(int mode) {
  switch (mode) {
    case ActionRename: return "rename";
    case ActionDelete: return "delete";
    case ActionReport: return "report";
    default: return "clean";
  }
}
