// Quarantine copies and the journal of a run.
#include "tools/sorvane-offline/quarantine.h"

#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <openssl/evp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <map>
#include <memory>
#include <set>
#include <vector>

#include "platform/emu/host_changes.h"
#include "platform/emu/machine.h"
#include "platform/host/host_faults.h"
#include "platform/host/host_files.h"
#include "tools/sorvane-offline/confined_path.h"
#include "tools/sorvane-offline/hives.h"
#include "tools/sorvane-offline/host_names.h"
#include "tools/sorvane-offline/quarantine_internal.h"
#include "tools/sorvane-offline/quarantine_journal.h"

using nlohmann::json;

namespace quarantine {
namespace {

const char AttributeName[] = "system.ntfs_attrib_be";

std::string folder;
int folderFd = -1;   // the quarantine folder (O_PATH)
int journalFd = -1;  // manifest.jsonl, appended to
bool hivesOnly = false;
std::vector<Entry> entries;          // this run's
std::map<std::string, size_t> kept;  // host path -> entry of this run
std::set<std::string> notKept;       // host paths whose copy could not be made
std::set<size_t> pendingAfter;       // entries changed since their state was recorded
size_t nextEntry = 1;
std::string origin, mountedAt;       // an image's record and its mount folder

std::string Now() {
  time_t now = time(nullptr);
  char text[32];
  strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", gmtime(&now));
  return text;
}

// The NTFS attributes the file had before the run (the scanners clear
// them before a removal).
std::string AttributesOf(const std::string& host) {
  unsigned char b[4];
  unsigned long before;
  if (emu::NtfsAttributesBefore(host, &before)) {
    for (int i = 0; i < 4; ++i) b[i] = static_cast<unsigned char>(before >> (24 - 8 * i));
  } else {
    uint32_t now;
    if (!host::NtfsAttributes(host, &now)) return "";
    for (int i = 0; i < 4; ++i) b[i] = static_cast<unsigned char>(now >> (24 - 8 * i));
  }
  char text[16];
  std::snprintf(text, sizeof text, "0x%02x%02x%02x%02x", b[0], b[1], b[2], b[3]);
  return text;
}

// The drive root a Windows path lies on, and its path below it.
bool Locate(const std::string& host, const std::string& windowsPath, std::string* root, std::string* rel) {
  if (windowsPath.size() < 2 || windowsPath[1] != ':') return false;
  *root = emu::HostPath(windowsPath.substr(0, 2) + "\\");
  if (root->empty() || host.compare(0, root->size() + 1, *root + "/") != 0) return false;
  *rel = host.substr(root->size() + 1);
  return confined::IsPlainRelative(*rel);
}

// A root as the records keep it: absolute, so that a restore from another
// working folder finds the same place.
std::string Absolute(const std::string& root) {
  char resolved[PATH_MAX];
  return realpath(root.c_str(), resolved) ? resolved : root;
}

// Creates `name` in the folder, never over an existing file, with `bytes`,
// fsynced with the folder that lists it.
bool CreateCopy(const std::string& name, const std::string& bytes) {
  int fd = openat(folderFd, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  bool ok = host::WriteAllTo(fd, bytes);
  int why = errno;
  if (close(fd) != 0) ok = false;
  std::string dir = name.substr(0, name.rfind('/'));
  int d = openat(folderFd, dir.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (d >= 0) {
    if (ok && fsync(d) != 0) ok = false;
    close(d);
  }
  if (!ok) {
    unlinkat(folderFd, name.c_str(), 0);
    errno = why ? why : EIO;
  }
  return ok;
}

// A copy's name: `base` when free, else with the entry number added.
bool CreateNamedCopy(const std::string& base, size_t n, const std::string& bytes, std::string* name) {
  *name = base;
  if (CreateCopy(*name, bytes)) return true;
  if (errno != EEXIST) return false;
  *name = base + "." + std::to_string(n);
  return CreateCopy(*name, bytes);
}

// Test faults keyed by the Windows path, through the host layer's table:
// "quarantine copy" fails a copy as a full disk would.
bool Injected(const char* op, const std::string& windowsPath) {
  if (!host::Injected(op, windowsPath)) return false;
  errno = ENOSPC;
  return true;
}

// Records the state the run left every entry changed since the last look
// in (each change is over by the time the next one is announced).
void RecordAfter() {
  for (size_t index : pendingAfter) {
    Entry& e = entries[index];
    e.after = FileState(e.root, e.rel);
    if (!e.renamedRel.empty()) e.renamedAfter = FileState(e.root, e.renamedRel);
    json record = {{"type", "after"}, {"n", e.n}, {"after", e.after}};
    if (!e.renamedRel.empty()) record["renamed_after"] = e.renamedAfter;
    AppendRecord(journalFd, record);
  }
  pendingAfter.clear();
}

void Shut() {
  if (journalFd >= 0) close(journalFd);
  if (folderFd >= 0) close(folderFd);
  journalFd = folderFd = -1;
  folder.clear();
}

}  // namespace

json FileState(const std::string& root, const std::string& rel) {
  confined::Root r;
  bool regular = false;
  if (!r.Open(root) || !r.Exists(rel, &regular)) return {{"exists", false}};
  std::string bytes;
  if (!regular || !r.Read(rel, &bytes)) return {{"exists", true}, {"sha256", ""}};
  return {{"exists", true}, {"sha256", Sha256(bytes)}};
}

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
  size_t slash = host.rfind('/');
  std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : host.substr(0, slash);
  confined::Root r;
  std::string bytes;
  return r.Open(dir) && r.Read(host.substr(slash + 1), &bytes) ? Sha256(bytes) : "";
}

bool Open(const std::string& dir, std::string* error, bool onlyHives) {
  origin.clear();
  mountedAt.clear();
  Shut();
  entries.clear();
  kept.clear();
  notKept.clear();
  pendingAfter.clear();
  ForgetIdentities();
  hivesOnly = onlyHives;
  auto fail = [&](const std::string& why) {
    *error = "cannot use the quarantine folder " + dir + ": " + why;
    Shut();
    return false;
  };
  mkdir(dir.c_str(), 0700);
  folderFd = open(dir.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (folderFd < 0) return fail(std::strerror(errno));
  for (const char* sub : {"files", "hives"}) {
    struct stat st;
    mkdirat(folderFd, sub, 0700);
    if (fstatat(folderFd, sub, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISDIR(st.st_mode)) {
      return fail(std::string(sub) + " is not a folder");
    }
  }
  struct stat st;
  bool hasJournal = fstatat(folderFd, "manifest.jsonl", &st, AT_SYMLINK_NOFOLLOW) == 0;
  if (!hasJournal && fstatat(folderFd, "manifest.json", &st, AT_SYMLINK_NOFOLLOW) == 0) {
    *error = "the quarantine folder " + dir + " holds a manifest.json of an older run without a journal"
             " (use a new folder)";
    Shut();
    return false;
  }
  folder = dir;
  std::vector<Entry> earlier;
  nextEntry = 1;
  if (hasJournal) {
    std::vector<std::string> problems;
    bool fromJournal, torn;
    ReadRecords(dir, &earlier, &problems, &fromJournal, &torn);
    for (const auto& p : problems) std::fprintf(stderr, "quarantine: %s (skipped)\n", p.c_str());
    for (const auto& e : earlier) nextEntry = std::max(nextEntry, e.n + 1);
  }
  journalFd = openat(folderFd, "manifest.jsonl", O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (journalFd < 0) return fail(std::string("manifest.jsonl: ") + std::strerror(errno));
  // A line a stopped run left unfinished is ended, so the next record
  // stands on a line of its own.
  off_t length = lseek(journalFd, 0, SEEK_END);
  char last = '\n';
  if (length > 0 && pread(journalFd, &last, 1, length - 1) != 1) last = '\n';
  if (last != '\n' && (write(journalFd, "\n", 1) != 1 || fdatasync(journalFd) != 0)) {
    return fail(std::string("manifest.jsonl: ") + std::strerror(errno));
  }
  int listing = openat(folderFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (listing >= 0) {
    fsync(listing);
    close(listing);
  }
  if (!AppendRecord(journalFd, {{"type", "run"}, {"time", Now()}, {"hives_only", hivesOnly}})) {
    return fail(std::string("manifest.jsonl: ") + std::strerror(errno));
  }
  // A hive a stopped run was writing is put back as it was before that run.
  for (const auto& e : earlier) {
    if (e.type != "hive" || e.hiveWrite != "started") continue;
    std::string why;
    if (!RollBackHive(dir, e, journalFd, &why)) {
      return fail("the hive " + e.path + " was being written when a run stopped, and cannot be put back: " +
                  why + " (run --restore " + dir + ")");
    }
    std::fprintf(stderr, "quarantine: %s was being written when a run stopped; its original is back\n",
                 e.path.c_str());
  }
  return true;
}

bool IsOpen() { return !folder.empty(); }

void SetOrigin(const std::string& originJson, const std::string& mountFolder) {
  origin = originJson;
  mountedAt = mountFolder;
  // In the journal too, so that a restore after a stopped run finds the image.
  if (journalFd >= 0) {
    AppendRecord(journalFd, {{"type", "origin"}, {"image", json::parse(origin, nullptr, false)},
                             {"mounted_at", mountedAt}});
  }
}
const std::string& Folder() { return folder; }

bool Keep(const std::string& host, const std::string& windowsPath, const char* action,
          const std::string& renamedTo) {
  if (folder.empty()) return true;
  RecordAfter();
  if (hivesOnly) return true;
  const std::string shown = names::Readable(windowsPath);
  if (kept.count(host)) {
    size_t index = kept[host];
    if (!renamedTo.empty()) kept[renamedTo] = index;
    // Kept when its attributes changed: what follows names the action.
    Entry& e = entries[index];
    if (e.action == "attributes" && e.action != action) {
      e.action = action;
      AppendRecord(journalFd, {{"type", "action"}, {"n", e.n}, {"action", e.action}});
    }
    pendingAfter.insert(index);
    return true;
  }
  if (notKept.count(host)) return false;
  std::string root, rel;
  if (!Locate(host, windowsPath, &root, &rel)) {
    std::fprintf(stderr, "quarantine: %s is on no drive, left as it is\n", shown.c_str());
    notKept.insert(host);
    return false;
  }
  confined::Root drive;
  bool regular = false;
  if (!drive.Open(root) || !drive.Exists(rel, &regular) || !regular) return true;  // nothing of its own to keep
  std::string bytes;
  if (!drive.Read(rel, &bytes)) {
    std::fprintf(stderr, "quarantine: cannot read %s (%s), left as it is\n", shown.c_str(), std::strerror(errno));
    notKept.insert(host);
    return false;
  }
  Entry e;
  e.n = nextEntry++;
  char name[32];
  std::snprintf(name, sizeof name, "files/%06zu", e.n);
  if (Injected("quarantine copy", windowsPath) || !CreateNamedCopy(name, e.n, bytes, &e.stored)) {
    std::fprintf(stderr, "quarantine: cannot keep a copy of %s (%s), left as it is\n", shown.c_str(),
                 std::strerror(errno));
    notKept.insert(host);
    return false;
  }
  e.path = shown;
  e.host = host;
  e.root = Absolute(root);
  e.volume = IdentityOfRoot(e.root);
  e.rel = rel;
  std::string renamedRoot;
  if (!renamedTo.empty() && Locate(renamedTo, windowsPath, &renamedRoot, &e.renamedRel)) e.renamedHost = renamedTo;
  e.action = action;
  e.size = bytes.size();
  e.sha256 = Sha256(bytes);
  e.time = Now();
  e.attributes = AttributesOf(host);
  if (Injected("quarantine record", windowsPath) || !AppendRecord(journalFd, EntryRecord(e))) {
    std::fprintf(stderr, "quarantine: cannot record the copy of %s (%s), left as it is\n", shown.c_str(),
                 std::strerror(errno));
    unlinkat(folderFd, e.stored.c_str(), 0);
    notKept.insert(host);
    return false;
  }
  kept[host] = entries.size();
  if (!renamedTo.empty()) kept[renamedTo] = entries.size();
  pendingAfter.insert(entries.size());
  entries.push_back(e);
  return true;
}

bool MayRemoveAtRestart(const std::string& host, const std::string& windowsPath) {
  if (folder.empty() || hivesOnly || kept.count(host)) return true;
  return !notKept.count(host) && Keep(host, windowsPath, "removal at restart");
}

size_t KeepHive(const HiveFile& hive, const std::string& original, std::string* copy, std::string* error) {
  RecordAfter();
  Entry e;
  e.n = nextEntry++;
  e.type = "hive";
  std::string base = "hives/";
  for (char c : hive.label) base += c == '\\' || c == '/' ? '_' : c;
  if (!CreateNamedCopy(base, e.n, original, &e.stored)) {
    *error = "cannot keep a copy of the hive " + names::Readable(hive.label) + " in " + folder + "/hives: " +
             std::strerror(errno);
    return 0;
  }
  e.path = names::Readable("C:\\" + hive.label);
  e.host = hive.host;
  e.root = Absolute(hive.root);
  e.volume = IdentityOfRoot(e.root);
  e.rel = hive.host.compare(0, hive.root.size() + 1, hive.root + "/") == 0 ? hive.host.substr(hive.root.size() + 1)
                                                                           : "";
  e.action = "hive rewritten";
  e.size = original.size();
  e.sha256 = Sha256(original);
  e.time = Now();
  e.attributes = AttributesOf(hive.host);
  if (e.rel.empty() || !AppendRecord(journalFd, EntryRecord(e))) {
    *error = "cannot record the copy of the hive " + e.path + " in " + folder + "/manifest.jsonl: " +
             std::strerror(errno);
    unlinkat(folderFd, e.stored.c_str(), 0);
    return 0;
  }
  *copy = folder + "/" + e.stored;
  entries.push_back(e);
  return e.n;
}

bool HiveWriteStarts(size_t n) {
  for (auto& e : entries) {
    if (e.n == n) e.hiveWrite = "started";
  }
  return AppendRecord(journalFd, {{"type", "hive_write"}, {"n", n}, {"state", "started"}});
}

void HiveWriteEnded(size_t n, bool written) {
  json record = {{"type", "hive_write"}, {"n", n}, {"state", written ? "written" : "failed"}};
  for (auto& e : entries) {
    if (e.n != n) continue;
    e.hiveWrite = record["state"];
    e.after = record["after"] = FileState(e.root, e.rel);
  }
  AppendRecord(journalFd, record);
}

void NoteDetection(const std::string& windowsPath, const std::string& detection) {
  const std::string shown = names::Readable(windowsPath);
  for (auto& e : entries) {
    if (!e.detection.empty() || e.path != shown) continue;
    e.detection = detection;
    AppendRecord(journalFd, {{"type", "detection"}, {"n", e.n}, {"detection", detection}});
  }
}

bool Close(std::string* error) {
  if (folder.empty()) return true;
  for (size_t i = 0; i < entries.size(); ++i) pendingAfter.insert(i);
  RecordAfter();
  // The summary lists every entry of the folder, earlier runs' too.
  std::vector<Entry> all;
  std::vector<std::string> problems;
  bool fromJournal, torn;
  ReadRecords(folder, &all, &problems, &fromJournal, &torn);
  json list = json::array();
  for (const auto& e : all) list.push_back(EntryRecord(e));
  json doc = {{"created", Now()}, {"entries", list}};
  if (!origin.empty()) {
    doc["image"] = json::parse(origin, nullptr, false);
    doc["mounted_at"] = mountedAt;
  }
  std::string text = doc.dump(2, ' ', false, json::error_handler_t::replace) + "\n";
  bool ok = !Injected("manifest summary", folder);
  if (ok) {
    unlinkat(folderFd, "manifest.json.new", 0);
    ok = CreateCopy("./manifest.json.new", text) &&
         renameat(folderFd, "manifest.json.new", folderFd, "manifest.json") == 0;
  }
  if (!ok) {
    *error = "cannot write " + folder + "/manifest.json (" + std::strerror(errno) +
             "); manifest.jsonl beside it holds every entry, --restore reads it";
    unlinkat(folderFd, "manifest.json.new", 0);
  }
  Shut();
  return ok;
}

}  // namespace quarantine
