// --restore: the originals of a quarantine folder put back, the latest
// first, each through the drive root it was taken from (or the same
// volume mounted elsewhere now), never through a link nor outside it.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>

#include "tools/sorvane-offline/confined_path.h"
#include "tools/sorvane-offline/quarantine.h"
#include "tools/sorvane-offline/quarantine_internal.h"

using nlohmann::json;

namespace quarantine {
namespace {

const char AttributeName[] = "system.ntfs_attrib_be";

bool ReadStored(const std::string& dir, const Entry& e, std::string* bytes) {
  confined::Root q;
  return confined::IsPlainRelative(e.stored) && q.Open(dir) && q.Read(e.stored, bytes) && Sha256(*bytes) == e.sha256;
}

bool Same(const json& state, const json& now) {
  bool exists = state.value("exists", false);
  if (exists != now.value("exists", false)) return false;
  return !exists || state.value("sha256", "") == now.value("sha256", "");
}

std::string Dirname(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? "" : path.substr(0, slash);
}

// A record written before roots were recorded: its path below the drive
// root is the host path's last components, as many as the Windows path has.
std::string OldRel(const Entry& e) {
  size_t count = 1;
  for (size_t i = 3; i < e.path.size(); ++i) count += e.path[i] == '\\';
  size_t start = e.host.size();
  for (size_t found = 0; found < count && start != std::string::npos && start > 0;) {
    start = e.host.rfind('/', start - 1);
    if (start != std::string::npos) ++found;
    if (found == count) break;
  }
  return start == std::string::npos ? "" : e.host.substr(start + 1);
}

// Where each drive root of the records is to be written now; false (with
// the reasons on stderr) when one cannot be used: nothing is changed then.
bool FindTargets(const std::vector<Entry>& entries, const std::string& volume, std::map<std::string, std::string>* targets) {
  bool ok = true, volumeUsed = false, oldRecords = false, unidentified = false;
  VolumeIdentity given;
  if (!volume.empty()) given = IdentityOf(volume);
  for (const auto& e : entries) {
    if (e.root.empty()) {
      oldRecords = true;
      continue;
    }
    if (targets->count(e.root)) continue;
    const VolumeIdentity& recorded = e.volume;
    std::string target;
    if (!volume.empty() && (recorded.Known() ? given == recorded : true)) {
      target = volume;
      volumeUsed = true;
      if (!recorded.Known()) {
        std::fprintf(stderr, "restore: the run recorded no identity of %s: restoring into %s as given\n",
                     e.root.c_str(), volume.c_str());
      }
    } else if (!recorded.Known()) {
      // A root without an identity is taken only as given: nothing tells
      // that the recorded path still is (or ever was) the cleaned volume.
      unidentified = true;
      ok = false;
    } else if (IdentityOf(e.root) == recorded) {
      target = e.root;
    } else {
      VolumeIdentity now = IdentityOf(e.root);
      std::string there = now.kind == "none" && now.folder.empty() ? "missing" : now.Text();
      if (!volume.empty()) there += ", and " + volume + " is " + given.Text();
      std::fprintf(stderr,
                   "sorvane-offline: the run cleaned %s at %s, which is %s now: mount that volume and give"
                   " its folder with --volume\n",
                   recorded.Text().c_str(), e.root.c_str(), there.c_str());
      ok = false;
    }
    (*targets)[e.root] = target;
  }
  if (unidentified) {
    std::fprintf(stderr, "sorvane-offline: the manifest names a drive root without the identity of its volume:"
                         " give the volume with --volume DIR\n");
  }
  if (oldRecords) {
    if (volume.empty()) {
      std::fprintf(stderr, "sorvane-offline: the manifest names no drive roots (an older version wrote it):"
                           " give the volume with --volume DIR\n");
      ok = false;
    }
    (*targets)[""] = volume;
    volumeUsed = true;
  }
  if (ok && !volume.empty() && !volumeUsed) {
    std::fprintf(stderr, "sorvane-offline: %s is %s, not a volume this quarantine was taken from\n", volume.c_str(),
                 given.Text().c_str());
    ok = false;
  }
  return ok;
}

}  // namespace

namespace {
std::map<std::string, VolumeIdentity> knownIdentities;
}  // namespace

void ForgetIdentities() { knownIdentities.clear(); }

VolumeIdentity IdentityOfRoot(const std::string& root) {
  auto& known = knownIdentities;
  auto it = known.find(root);
  if (it == known.end()) it = known.emplace(root, IdentityOf(root)).first;
  return it->second;
}

bool RollBackHive(const std::string& dir, const Entry& e, int journal, std::string* why) {
  std::string bytes;
  confined::Root root;
  if (!e.volume.Known() || !(IdentityOf(e.root) == e.volume)) {
    *why = e.root + " is not " + e.volume.Text() + " now";
    return false;
  }
  if (!ReadStored(dir, e, &bytes)) {
    *why = "its kept copy " + e.stored + " is missing or damaged";
    return false;
  }
  if (!root.Open(e.root) || !root.Write(e.rel, bytes)) {
    *why = std::strerror(errno);
    return false;
  }
  AppendRecord(journal, {{"type", "hive_write"}, {"n", e.n}, {"state", "rolled back"}});
  return true;
}

int Restore(const std::string& dir, bool force, const std::string& volume) {
  std::vector<Entry> entries;
  std::vector<std::string> problems;
  bool fromJournal = false, torn = false;
  if (!ReadRecords(dir, &entries, &problems, &fromJournal, &torn)) {
    std::fprintf(stderr, "sorvane-offline: no usable manifest in %s: %s\n", dir.c_str(),
                 problems.empty() ? "" : problems.back().c_str());
    return 2;
  }
  int code = 0;
  for (const auto& p : problems) {
    std::printf("not restored (a malformed record, skipped): %s\n", p.c_str());
    code = 1;
  }
  if (torn) {
    std::fprintf(stderr, "restore: the journal's last record is unfinished (a run stopped while writing it;"
                         " the change it announced was not made)\n");
  }
  std::map<std::string, std::string> targets;
  if (!FindTargets(entries, volume, &targets)) return 2;
  int journal = fromJournal ? open((dir + "/manifest.jsonl").c_str(), O_WRONLY | O_APPEND | O_NOFOLLOW | O_CLOEXEC)
                            : -1;
  for (auto it = entries.rbegin(); it != entries.rend(); ++it) {
    const Entry& e = *it;
    const char* name = e.path.c_str();
    if (e.type == "hive" && (e.hiveWrite == "failed" || e.hiveWrite == "rolled back")) continue;  // left as it was
    std::string target = targets[e.root];
    std::string rel = e.root.empty() ? OldRel(e) : e.rel;
    std::string renamed = e.renamedRel;
    if (e.root.empty() && !e.renamedHost.empty()) {
      renamed = Dirname(rel) + (Dirname(rel).empty() ? "" : "/") + e.renamedHost.substr(e.renamedHost.rfind('/') + 1);
    }
    std::string bytes;
    if (!ReadStored(dir, e, &bytes)) {
      std::printf("not restored (the kept copy is missing or damaged): %s\n", name);
      code = 1;
      continue;
    }
    confined::Root root;
    if (!root.Open(target) || !confined::IsPlainRelative(rel)) {
      std::printf("not restored (%s): %s\n", root.IsOpen() ? "a malformed path" : std::strerror(errno), name);
      code = 1;
      continue;
    }
    json now = FileState(target, rel);
    bool interrupted = e.type == "hive" && e.hiveWrite == "started";
    bool inPlace = now.value("exists", false) && now.value("sha256", "") == e.sha256;
    if (!inPlace && !interrupted && !force && now.value("exists", false) && (e.after.is_null() || !Same(e.after, now))) {
      std::printf(e.after.is_null()
                      ? "not restored (it differs from the copy, and the run stopped before it recorded what it"
                        " left; --force overwrites it): %s\n"
                      : "not restored (changed since the run; --force overwrites it): %s\n",
                  name);
      code = 1;
      continue;
    }
    if (!inPlace && !root.Write(rel, bytes)) {
      const char* why = errno == EMLINK ? "it has other hard links"
                        : errno == ELOOP || errno == ENOTDIR ? "a link or no folder on its way"
                                                             : std::strerror(errno);
      std::printf("not restored (%s): %s\n", why, name);
      code = 1;
      continue;
    }
    if (e.attributes.size() == 10) {
      unsigned long v = std::strtoul(e.attributes.c_str(), nullptr, 16);
      std::string raw = {static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8),
                         static_cast<char>(v)};
      root.SetAttribute(rel, AttributeName, raw);
    }
    bool regular = false;
    if (!renamed.empty() && root.Exists(renamed, &regular) && regular) {
      json moved = FileState(target, renamed);
      if (moved.value("sha256", "") == e.sha256 || (!e.renamedAfter.is_null() && Same(e.renamedAfter, moved))) {
        root.Remove(renamed);
      }
    }
    if (interrupted && journal >= 0) {
      AppendRecord(journal, {{"type", "hive_write"}, {"n", e.n}, {"state", "rolled back"}});
    }
    std::printf("restored: %s\n", name);
  }
  if (journal >= 0) close(journal);
  return code;
}

}  // namespace quarantine
