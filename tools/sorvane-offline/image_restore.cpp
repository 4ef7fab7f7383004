// --restore of a quarantine kept from a disk image: the image and
// partition its manifest names are opened again, read-write.
#include <cstdio>
#include <fstream>
#include <nlohmann/json.hpp>

#include "tools/sorvane-offline/image.h"
#include "tools/sorvane-offline/quarantine.h"

using nlohmann::json;

namespace {

// The image record of a quarantine: from manifest.json, or from the
// journal's origin record when the run stopped before its summary.
json ImageRecord(const std::string& dir) {
  std::ifstream in(dir + "/manifest.json", std::ios::binary);
  json doc = json::parse(in, nullptr, false);
  if (in && !doc.is_discarded() && doc.is_object()) return doc.contains("image") ? doc : json();
  std::ifstream journal(dir + "/manifest.jsonl", std::ios::binary);
  std::string line;
  while (std::getline(journal, line)) {
    json record = json::parse(line, nullptr, false);
    if (record.is_object() && record.value("type", "") == "origin") return record;
  }
  return json();
}

}  // namespace

int RestoreFromImage(const std::string& dir, bool force, bool allowBacking) {
  json doc = ImageRecord(dir);
  if (doc.is_null()) return -1;
  if (!doc["image"].is_object()) {
    std::fprintf(stderr, "sorvane-offline: the image record of %s is malformed\n", dir.c_str());
    return 2;
  }
  CatchStopSignals();
  ImageSession session;
  std::string volume, error;
  if (!session.Reopen(doc["image"].dump(), allowBacking, &volume, &error)) {
    std::fprintf(stderr, "sorvane-offline: %s\n", error.c_str());
    return 2;
  }
  // The volume is mounted elsewhere now: its identity must match.
  int code = quarantine::Restore(dir, force, volume);
  std::fflush(stdout);
  if (!session.Close(&error)) {
    std::fprintf(stderr, "sorvane-offline: %s\n", error.c_str());
    return 2;
  }
  return code;
}
