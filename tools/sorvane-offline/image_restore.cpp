// --restore of a quarantine kept from a disk image: the image and
// partition its manifest names are opened again, read-write.
#include <cstdio>
#include <fstream>
#include <nlohmann/json.hpp>

#include "tools/sorvane-offline/image.h"
#include "tools/sorvane-offline/quarantine.h"

using nlohmann::json;

int RestoreFromImage(const std::string& dir, bool force, bool allowBacking) {
  std::ifstream in(dir + "/manifest.json", std::ios::binary);
  json doc = json::parse(in, nullptr, false);
  if (!in || doc.is_discarded() || !doc.is_object() || !doc.contains("image")) return -1;
  std::string mountedAt = doc.value("mounted_at", "");
  if (mountedAt.empty() || !doc["image"].is_object()) {
    std::fprintf(stderr, "sorvane-offline: the image record of %s/manifest.json is malformed\n", dir.c_str());
    return 2;
  }
  CatchStopSignals();
  ImageSession session;
  std::string volume, error;
  if (!session.Reopen(doc["image"].dump(), allowBacking, &volume, &error)) {
    std::fprintf(stderr, "sorvane-offline: %s\n", error.c_str());
    return 2;
  }
  int code = quarantine::Restore(dir, force, mountedAt, volume);
  std::fflush(stdout);
  if (!session.Close(&error)) {
    std::fprintf(stderr, "sorvane-offline: %s\n", error.c_str());
    return 2;
  }
  return code;
}
