// Quarantine copies, their manifest and --restore.
#include "tools/sorvane-offline/quarantine.h"

#include <fcntl.h>
#include <openssl/evp.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <vector>

#include "platform/emu/host_changes.h"
#include "platform/emu/text_codec.h"
#include "tools/sorvane-offline/hives.h"

using nlohmann::json;

namespace quarantine {
namespace {

const char AttributeName[] = "system.ntfs_attrib_be";

struct Entry {
  std::string host, windowsPath, stored, action, detection, sha256, time, attributes, renamedTo;
  uint64_t size = 0;
};

std::string folder;
std::vector<Entry> entries;
std::map<std::string, size_t> kept;  // host path -> entry
std::string origin, mountedAt;       // an image's record and its mount folder

std::string Now() {
  time_t now = time(nullptr);
  char text[32];
  strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", gmtime(&now));
  return text;
}

bool ReadAll(const std::string& path, std::string* bytes) {
  int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(fd);
    return false;
  }
  bytes->clear();
  char buffer[65536];
  ssize_t n;
  while ((n = read(fd, buffer, sizeof buffer)) > 0) bytes->append(buffer, static_cast<size_t>(n));
  close(fd);
  return n == 0;
}

// Writes a whole file: in place when it exists (same inode, so its NTFS
// attributes and security stay), never through a link.
bool WriteAll(const std::string& path, const std::string& bytes, bool create) {
  int fd = open(path.c_str(), O_WRONLY | O_TRUNC | O_NOFOLLOW | O_CLOEXEC | (create ? O_CREAT : 0), 0644);
  if (fd < 0) return false;
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  bool ok = done == bytes.size() && fsync(fd) == 0;
  return close(fd) == 0 && ok;
}

// The NTFS attributes the file had before the run (the scanners clear
// them before a removal).
std::string AttributesOf(const std::string& host) {
  unsigned char b[4];
  unsigned long before;
  if (emu::NtfsAttributesBefore(host, &before)) {
    for (int i = 0; i < 4; ++i) b[i] = static_cast<unsigned char>(before >> (24 - 8 * i));
  } else if (lgetxattr(host.c_str(), AttributeName, b, sizeof b) != 4) {
    return "";
  }
  char text[16];
  std::snprintf(text, sizeof text, "0x%02x%02x%02x%02x", b[0], b[1], b[2], b[3]);
  return text;
}

void SetAttributesOf(const std::string& host, const std::string& text) {
  if (text.size() != 10) return;
  unsigned long v = std::strtoul(text.c_str(), nullptr, 16);
  unsigned char b[4] = {static_cast<unsigned char>(v >> 24), static_cast<unsigned char>(v >> 16),
                        static_cast<unsigned char>(v >> 8), static_cast<unsigned char>(v)};
  lsetxattr(host.c_str(), AttributeName, b, sizeof b, 0);
}

json After(const std::string& host) {
  struct stat st;
  if (lstat(host.c_str(), &st) != 0) return {{"exists", false}};
  return {{"exists", true}, {"sha256", FileSha256(host)}};
}

}  // namespace

std::string Sha256(const std::string& bytes) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_sha256(), nullptr);
  static const char hex[] = "0123456789abcdef";
  std::string text;
  for (unsigned i = 0; i < length; ++i) {
    text += hex[digest[i] >> 4];
    text += hex[digest[i] & 15];
  }
  return text;
}

std::string FileSha256(const std::string& host) {
  std::string bytes;
  return ReadAll(host, &bytes) ? Sha256(bytes) : "";
}

bool Open(const std::string& dir, std::string* error) {
  folder = dir;
  entries.clear();
  kept.clear();
  mkdir(dir.c_str(), 0700);
  mkdir((dir + "/files").c_str(), 0700);
  struct stat st;
  if (lstat((dir + "/files").c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    *error = "cannot use the quarantine folder " + dir + ": " + std::strerror(errno);
    folder.clear();
    return false;
  }
  if (lstat((dir + "/manifest.json").c_str(), &st) == 0) {
    *error = "the quarantine folder " + dir + " already holds a manifest.json (use a new folder)";
    folder.clear();
    return false;
  }
  return true;
}

bool IsOpen() { return !folder.empty(); }

void SetOrigin(const std::string& originJson, const std::string& mountFolder) {
  origin = originJson;
  mountedAt = mountFolder;
}
const std::string& Folder() { return folder; }

bool Keep(const std::string& host, const std::string& windowsPath, const char* action,
          const std::string& renamedTo) {
  if (folder.empty()) return true;
  if (kept.count(host)) {
    if (!renamedTo.empty()) kept[renamedTo] = kept[host];
    return true;
  }
  struct stat st;
  if (lstat(host.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return true;  // nothing of its own to keep
  std::string bytes;
  if (!ReadAll(host, &bytes)) {
    std::fprintf(stderr, "quarantine: cannot read %s, left as it is\n", windowsPath.c_str());
    return false;
  }
  char name[32];
  std::snprintf(name, sizeof name, "files/%06zu", entries.size() + 1);
  if (!WriteAll(folder + "/" + name, bytes, true)) {
    std::fprintf(stderr, "quarantine: cannot keep a copy of %s, left as it is\n", windowsPath.c_str());
    return false;
  }
  Entry e;
  e.host = host;
  e.windowsPath = windowsPath;
  e.stored = name;
  e.action = action;
  e.size = bytes.size();
  e.sha256 = Sha256(bytes);
  e.time = Now();
  e.attributes = AttributesOf(host);
  e.renamedTo = renamedTo;
  kept[host] = entries.size();
  if (!renamedTo.empty()) kept[renamedTo] = entries.size();
  entries.push_back(e);
  return true;
}

void KeepHive(const std::string& host, const std::string& label, const std::string& copy) {
  if (folder.empty()) return;
  std::string bytes;
  ReadAll(copy, &bytes);
  Entry e;
  e.host = host;
  e.windowsPath = "C:\\" + label;
  e.stored = copy.compare(0, folder.size() + 1, folder + "/") == 0 ? copy.substr(folder.size() + 1) : copy;
  e.action = "hive rewritten";
  e.size = bytes.size();
  e.sha256 = Sha256(bytes);
  e.time = Now();
  e.attributes = AttributesOf(host);
  kept[host] = entries.size();
  entries.push_back(e);
}

void NoteDetection(const std::string& windowsPath, const std::string& detection) {
  for (auto& e : entries) {
    if (e.detection.empty() && e.windowsPath == windowsPath) e.detection = detection;
  }
}

bool Close(std::string* error) {
  if (folder.empty()) return true;
  json list = json::array();
  for (const auto& e : entries) {
    json item = {{"path", emu::EncodeUtf8(emu::WidenAnsi(e.windowsPath))}, {"host", e.host}, {"stored", e.stored},
                 {"detection", e.detection}, {"action", e.action}, {"size", e.size},
                 {"sha256", e.sha256}, {"time", e.time}, {"after", After(e.host)}};
    if (!e.attributes.empty()) item["attributes"] = e.attributes;
    if (!e.renamedTo.empty()) {
      item["renamed_to"] = e.renamedTo;
      item["renamed_after"] = After(e.renamedTo);
    }
    list.push_back(item);
  }
  json doc = {{"created", Now()}, {"entries", list}};
  if (!origin.empty()) {
    doc["image"] = json::parse(origin, nullptr, false);
    doc["mounted_at"] = mountedAt;
  }
  std::string text = doc.dump(2, ' ', false, json::error_handler_t::replace) + "\n";
  if (!WriteAll(folder + "/manifest.json", text, true)) {
    *error = "cannot write " + folder + "/manifest.json";
    return false;
  }
  folder.clear();
  return true;
}

namespace {

bool SameAsAfter(const json& after, const std::string& host) {
  struct stat st;
  bool exists = lstat(host.c_str(), &st) == 0;
  if (!after.value("exists", false)) return !exists;
  return exists && FileSha256(host) == after.value("sha256", "");
}

}  // namespace

int Restore(const std::string& dir, bool force, const std::string& mountedAt, const std::string& mountNow) {
  std::ifstream in(dir + "/manifest.json", std::ios::binary);
  json doc = json::parse(in, nullptr, false);
  if (!in || doc.is_discarded() || !doc.contains("entries") || !doc["entries"].is_array()) {
    std::fprintf(stderr, "sorvane-offline: no usable manifest.json in %s\n", dir.c_str());
    return 2;
  }
  int code = 0;
  for (const auto& e : doc["entries"]) {
    std::string path = e.value("path", ""), host = e.value("host", ""), stored = e.value("stored", "");
    const char* name = path.c_str();
    if (!mountedAt.empty()) {
      // The image's volume is mounted elsewhere now.
      if (host.compare(0, mountedAt.size() + 1, mountedAt + "/") != 0 || host.find("/../") != std::string::npos) {
        std::printf("not restored (not on the image's volume): %s\n", name);
        code = 1;
        continue;
      }
      host = mountNow + host.substr(mountedAt.size());
    }
    std::string bytes;
    if (host.empty() || stored.empty() || stored.find("..") != std::string::npos ||
        !ReadAll(dir + "/" + stored, &bytes) || Sha256(bytes) != e.value("sha256", "")) {
      std::printf("not restored (the kept copy is missing or damaged): %s\n", name);
      code = 1;
      continue;
    }
    bool changed = !SameAsAfter(e.value("after", json::object()), host);
    if (changed && !force) {
      std::printf("not restored (changed since the run; --force overwrites it): %s\n", name);
      code = 1;
      continue;
    }
    if (!WriteAll(host, bytes, true)) {
      std::printf("not restored (%s): %s\n", std::strerror(errno), name);
      code = 1;
      continue;
    }
    if (e.contains("attributes")) SetAttributesOf(host, e.value("attributes", ""));
    std::string renamed = e.value("renamed_to", "");
    if (!mountedAt.empty() && renamed.compare(0, mountedAt.size() + 1, mountedAt + "/") == 0) {
      renamed = mountNow + renamed.substr(mountedAt.size());
    } else if (!mountedAt.empty()) {
      renamed.clear();
    }
    if (!renamed.empty() && SameAsAfter(e.value("renamed_after", json::object()), renamed)) {
      unlink(renamed.c_str());
    }
    std::printf("restored: %s\n", name);
  }
  return code;
}

}  // namespace quarantine
