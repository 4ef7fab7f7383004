// Hive files through the regf layer to and from the emulated registry.
// Loading replays a dirty hive's transaction logs first, then mirrors each
// key (raw names, values that can be read) into the emulated registry.
// Writing back compares each mirrored key with its twin there and changes
// only the cells that differ: a value or key gone there is removed, one
// new or changed there is added or set. Keys and values that were not
// mirrored (a name the emulated registry cannot hold, data that cannot be
// read, a second key or value of the same name) are never touched.
#include "tools/sorvane-offline/hives.h"

#include <dirent.h>
#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <functional>
#include <set>
#include <algorithm>

#include "platform/host/host_faults.h"
#include "platform/host/host_files.h"
#include "platform/emu/registry_mirror.h"
#include "platform/emu/text_codec.h"
#include "tools/sorvane-offline/confined_path.h"
#include "tools/sorvane-offline/quarantine.h"
#include "tools/sorvane-offline/regf/edit.h"
#include "tools/sorvane-offline/regf/replay.h"

namespace reg = emu::reg;

namespace {

bool IsSkipped(const reg::Name& name, const std::string& skip) {
  return !skip.empty() && reg::CompareNames(name, emu::WidenAnsi(skip)) == 0;
}

// True when a key of the emulated registry holds something worth a key in
// the hive: it was named by a file or the code, or it or a key below holds
// a value the machine did not provide itself.
bool HasContent(reg::Key* top) {
  std::vector<reg::Key*> stack{top};
  while (!stack.empty()) {
    reg::Key* key = stack.back();
    stack.pop_back();
    if (key->listed) return true;
    for (const auto& v : key->values) {
      if (!v.provided) return true;
    }
    for (auto& k : key->subkeys) stack.push_back(k.get());
  }
  return false;
}

// Orders names as the emulated registry compares them (ignoring case).
struct NameLess {
  bool operator()(const reg::Name& a, const reg::Name& b) const { return reg::CompareNames(a, b) < 0; }
};
using NameSet = std::set<reg::Name, NameLess>;

// The subkeys of a hive key that are mirrored: the first of each name
// (ignoring case), a name the emulated registry can hold.
std::vector<size_t> MirroredKeys(const regf::Tree& tree, size_t key) {
  std::vector<size_t> out;
  NameSet seen;
  for (size_t s : tree.keys[key].subkeys) {
    const reg::Name& name = tree.keys[s].name;
    if (name.empty() || name.find(u'\\') != reg::Name::npos) continue;
    if (seen.insert(name).second) out.push_back(s);
  }
  return out;
}

// The values of a hive key that are mirrored: the first readable one of
// each name.
std::vector<size_t> MirroredValues(const regf::Key& key) {
  std::vector<size_t> out;
  NameSet seen;
  for (size_t i = 0; i < key.values.size(); ++i) {
    if (key.values[i].readable && seen.insert(key.values[i].name).second) out.push_back(i);
  }
  return out;
}

size_t ChildNamed(const regf::Tree& tree, size_t key, const std::string& name) {
  for (size_t s : MirroredKeys(tree, key)) {
    if (reg::CompareNames(tree.keys[s].name, emu::WidenAnsi(name)) == 0) return s;
  }
  return regf::Editor::npos;
}

void LoadTree(const regf::Tree& tree, size_t top, reg::Key* key, const std::string& skip) {
  std::vector<std::pair<size_t, reg::Key*>> stack{{top, key}};
  while (!stack.empty()) {
    auto [node, k] = stack.back();
    stack.pop_back();
    const regf::Key& h = tree.keys[node];
    for (size_t i : MirroredValues(h)) reg::SetStoredValue(k, h.values[i].name, h.values[i].type, h.values[i].data);
    for (size_t s : MirroredKeys(tree, node)) {
      if (node == top && IsSkipped(tree.keys[s].name, skip)) continue;
      stack.push_back({s, reg::Create(k, tree.keys[s].name, true)});
    }
  }
}

// The changes that make the hive below `top` match the emulated key; with
// `editor` they are made. `skip` names a child of `top` bound elsewhere (in
// the hive and in the emulated registry: the current control set and its
// alias). Counts the changes in *changes.
bool Sync(const regf::Tree& tree, size_t top, reg::Key* key, const std::string& skip, regf::Editor* editor,
          size_t* changes, std::string* why) {
  uint64_t now = (uint64_t(time(nullptr)) + 11644473600ull) * 10000000ull;
  std::vector<std::pair<size_t, reg::Key*>> stack{{top, key}};
  while (!stack.empty()) {
    auto [node, k] = stack.back();
    stack.pop_back();
    // Values: removed (every readable one of the name), changed, added.
    std::vector<size_t> mirrored = MirroredValues(tree.keys[node]);
    NameSet known, gone;
    std::vector<size_t> removed;
    std::vector<std::pair<size_t, const reg::Value*>> set;
    for (size_t i : mirrored) {
      const regf::Value& v = tree.keys[node].values[i];
      known.insert(v.name);
      const reg::Value* current = reg::FindValue(k, v.name);
      if (current && current->provided) current = nullptr;
      if (!current) {
        gone.insert(v.name);
      } else if (current->type != v.type || current->stored != v.data) {
        set.push_back({i, current});
      }
    }
    for (size_t j = 0; j < tree.keys[node].values.size() && !gone.empty(); ++j) {
      const regf::Value& w = tree.keys[node].values[j];
      if (w.readable && gone.count(w.name)) removed.push_back(j);
    }
    for (const auto& w : k->values) {
      if (!w.provided && !known.count(w.name)) set.push_back({regf::Editor::npos, &w});
    }
    *changes += removed.size() + set.size();
    if (editor) {
      for (const auto& [i, v] : set) {
        if (!editor->SetValue(node, i, v->name, v->type, v->stored, why)) return false;
      }
      for (size_t r = removed.size(); r-- > 0;) {
        if (!editor->RemoveValue(node, removed[r], why)) return false;
      }
    }
    // Subkeys: removed, matched, added.
    std::set<reg::Key*> matched;
    for (size_t s : MirroredKeys(tree, node)) {
      const reg::Name name = tree.keys[s].name;
      if (node == top && IsSkipped(name, skip)) continue;
      reg::Key* twin = reg::Child(k, name);
      if (twin) {
        matched.insert(twin);
        stack.push_back({s, twin});
      } else {
        ++*changes;
        if (editor && !editor->RemoveKey(s, why)) return false;
      }
    }
    for (auto& sub : k->subkeys) {
      if (matched.count(sub.get()) || !HasContent(sub.get())) continue;
      if (node == top && !skip.empty() &&
          (IsSkipped(sub->name, skip) || IsSkipped(sub->name, "CurrentControlSet"))) {
        continue;
      }
      ++*changes;
      if (!editor) continue;
      size_t added;
      if (!editor->AddKey(node, sub->name, now, &added, why)) return false;
      stack.push_back({added, sub.get()});
    }
  }
  return true;
}

// ---- Host files: the only places a hive or a log is read or written ----

// Test faults, through the host layer's table keyed by the hive's
// label: "hive build" fails the making of the new hive, "hive overwrite"
// stops a write over the hive half way, as a full disk would, "hive log
// reset" fails the reset of its logs.
bool Injected(const char* op, const HiveFile& f) {
  if (!host::Injected(op, f.label)) return false;
  errno = ENOSPC;
  return true;
}

// A hive's (or a log's) file below its volume's root: read, and written
// over in place (same inode: its attributes and security stay), component
// by component without following a link, never when it has other hard
// links. A file given without its volume's root (the layer's own tests)
// goes through the host layer by its path.
std::string RelativePath(const HiveFile& f) {
  return f.host.compare(0, f.root.size() + 1, f.root + "/") == 0 ? f.host.substr(f.root.size() + 1) : "";
}

bool ReadHive(const HiveFile& f, std::string* bytes) {
  if (f.root.empty()) return host::ReadFile(f.host, bytes);
  confined::Root root;
  return root.Open(f.root) && root.Read(RelativePath(f), bytes);
}

bool WriteFileOver(const HiveFile& f, const std::string& bytes) {
  if (f.root.empty()) return host::WriteOver(f.host, bytes);
  confined::Root root;
  return root.Open(f.root) && root.Write(RelativePath(f), bytes);
}

size_t LinkCount(const HiveFile& f) {
  if (f.root.empty()) {
    struct stat st;
    return lstat(f.host.c_str(), &st) == 0 ? st.st_nlink : 0;
  }
  confined::Root root;
  return root.Open(f.root) ? root.LinkCount(RelativePath(f)) : 0;
}

// The one function that writes a hive's file, or fails as injected.
bool WriteHive(const HiveFile& f, const std::string& bytes) {
  if (!Injected("hive overwrite", f)) return WriteFileOver(f, bytes);
  WriteFileOver(f, bytes.substr(0, bytes.size() / 2));
  errno = ENOSPC;
  return false;
}

// The transaction logs beside a hive (names matched ignoring case, regular
// files only), in the order replay reads them.
struct HostLog {
  std::string host, suffix;
};
std::vector<HostLog> LogsOf(const std::string& hive) {
  size_t slash = hive.rfind('/');
  std::string dir = slash == std::string::npos ? "." : hive.substr(0, slash);
  std::string base = hive.substr(slash == std::string::npos ? 0 : slash + 1);
  std::vector<HostLog> logs;
  for (const char* suffix : {".LOG1", ".LOG2", ".LOG"}) {
    std::string want = base + suffix;
    if (DIR* d = opendir(dir.c_str())) {
      while (dirent* e = readdir(d)) {
        struct stat st;
        std::string path = dir + "/" + e->d_name;
        if (strcasecmp(e->d_name, want.c_str()) == 0 && lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
          logs.push_back({path, suffix});
          break;
        }
      }
      closedir(d);
    }
  }
  return logs;
}

regf::Bytes ToBytes(const std::string& s) { return regf::Bytes(s.begin(), s.end()); }
std::string FromBytes(const regf::Bytes& b) { return std::string(b.begin(), b.end()); }

}  // namespace

struct Binding {
  size_t hive;
  size_t key;                           // index in the hive's tree
  std::string emuPath;                  // key below HKLM, or empty for a profile
  std::shared_ptr<reg::Key> profileKey; // a profile's tree
  std::string skip;                     // child of `key` bound elsewhere
};

struct LoadedHive {
  regf::Image image;
  regf::Tree tree;
  std::vector<HostLog> logs;
  std::vector<std::string> logBytes;  // as read
  regf::ReplayResult replay;
};

struct Hives::State {
  std::vector<HiveFile> files;  // SOFTWARE, SYSTEM, then the profiles
  std::vector<LoadedHive> hives;
  std::vector<Binding> bindings;
  std::vector<std::shared_ptr<reg::Key>> profiles;
  size_t current = 0;
  bool readOnly = true;

  reg::Key* EmulatedKey(const Binding& b) const {
    if (b.profileKey) return b.profileKey.get();
    return reg::Find(reg::RootByHandle(HKEY_LOCAL_MACHINE)->key.get(), b.emuPath);
  }
};

Hives::Hives() : state_(new State) {}
Hives::~Hives() = default;

namespace {

// Reads a hive and its logs, replays them when it is dirty and reads its
// tree; false with a message naming it when it cannot be read soundly.
bool OpenHive(const HiveFile& f, LoadedHive* h, std::string* error) {
  std::string bytes;
  if (!ReadHive(f, &bytes)) {
    *error = "cannot open the hive " + f.label + ": " + std::strerror(errno);
    return false;
  }
  h->logs = LogsOf(f.host);
  std::vector<regf::LogFile> logs;
  for (const auto& l : h->logs) {
    std::string b;
    if (!ReadHive(HiveFile{l.host, f.label + l.suffix, f.profile, f.root}, &b)) b.clear();
    h->logBytes.push_back(b);
    logs.push_back({f.label + l.suffix, ToBytes(b)});
  }
  regf::Bytes image = ToBytes(bytes);
  h->replay = regf::Replay(&image, logs);
  std::string why;
  if (!h->image.Open(std::move(image), &why) || !regf::ReadTree(h->image, &h->tree, &why)) {
    *error = "the hive " + f.label + " cannot be read (" + why + "); it is left as it is";
    return false;
  }
  if (h->replay.dirty && h->replay.complete) {
    std::fprintf(stderr, "registry: %s was dirty: replayed from its transaction logs (%zu entries or pages)\n",
                 f.label.c_str(), h->replay.applied);
  } else if (h->replay.dirty) {
    std::fprintf(stderr, "registry: %s is dirty and %s; it is read as it is and will not be written\n",
                 f.label.c_str(), h->replay.why.c_str());
  }
  return true;
}

}  // namespace

bool Hives::Load(const HiveFile& software, const HiveFile& system,
                 const std::vector<HiveFile>& profiles, bool readOnly, std::string* error) {
  state_.reset(new State);
  State& s = *state_;
  s.readOnly = readOnly;
  s.files = {software, system};
  s.files.insert(s.files.end(), profiles.begin(), profiles.end());
  s.hives.resize(s.files.size());
  for (size_t i = 0; i < s.files.size(); ++i) {
    if (!OpenHive(s.files[i], &s.hives[i], error)) return false;
  }
  reg::Key* machine = reg::RootByHandle(HKEY_LOCAL_MACHINE)->key.get();

  s.bindings.push_back(Binding{0, 0, "SOFTWARE", nullptr, ""});
  LoadTree(s.hives[0].tree, 0, reg::Create(machine, "SOFTWARE", true), "");

  // SYSTEM: the control set Select\Current names is CurrentControlSet.
  const regf::Tree& sy = s.hives[1].tree;
  std::string controlSet;
  size_t currentSet = regf::Editor::npos;
  if (size_t select = ChildNamed(sy, 0, "Select"); select != regf::Editor::npos) {
    for (size_t i : MirroredValues(sy.keys[select])) {
      const regf::Value& v = sy.keys[select].values[i];
      if (reg::CompareNames(v.name, u"Current") != 0 || v.data.size() < 4) continue;
      int32_t number = int32_t(regf::Get32(reinterpret_cast<const uint8_t*>(v.data.data())));
      char name[32];
      std::snprintf(name, sizeof name, "ControlSet%03d", number);
      currentSet = ChildNamed(sy, 0, name);
      if (currentSet != regf::Editor::npos) controlSet = name;
    }
  }
  if (controlSet.empty()) {
    *error = "the hive " + system.label + " names no current control set (Select\\Current)";
    return false;
  }
  reg::Key* systemKey = reg::Create(machine, "SYSTEM", true);
  s.bindings.push_back(Binding{1, 0, "SYSTEM", nullptr, controlSet});
  LoadTree(sy, 0, systemKey, controlSet);
  s.bindings.push_back(Binding{1, currentSet, "SYSTEM\\CurrentControlSet", nullptr, ""});
  LoadTree(sy, currentSet, reg::Create(systemKey, "CurrentControlSet", true), "");

  for (size_t i = 0; i < profiles.size(); ++i) {
    auto tree = std::make_shared<reg::Key>();
    tree->name = u"HKEY_CURRENT_USER";
    tree->listed = true;
    LoadTree(s.hives[2 + i].tree, 0, tree.get(), "");
    s.profiles.push_back(tree);
    s.bindings.push_back(Binding{2 + i, 0, "", tree, ""});
  }
  if (!s.profiles.empty()) UseProfile(0);
  return true;
}

size_t Hives::ProfileCount() const { return state_->profiles.size(); }
const HiveFile& Hives::Profile(size_t index) const { return state_->files[2 + index]; }
size_t Hives::CurrentProfile() const { return state_->current; }

void Hives::UseProfile(size_t index) {
  state_->current = index;
  reg::RootByHandle(HKEY_CURRENT_USER)->key = state_->profiles[index];
}

std::string Hives::HiveOf(const std::string& keyPath) const {
  const State& s = *state_;
  std::string rest;
  reg::Root* root = reg::RootByName(keyPath, &rest);
  if (!root || s.files.empty()) return "";
  if (root->handle == HKEY_CURRENT_USER) {
    return s.profiles.empty() ? "" : s.files[2 + s.current].label;
  }
  if (root->handle != HKEY_LOCAL_MACHINE) return "";
  if (strncasecmp(rest.c_str(), "SOFTWARE", 8) == 0 && (rest.size() == 8 || rest[8] == '\\')) {
    return s.files[0].label;
  }
  if (strncasecmp(rest.c_str(), "SYSTEM", 6) == 0 && (rest.size() == 6 || rest[6] == '\\')) {
    return s.files[1].label;
  }
  return "";
}

std::vector<std::string> Hives::Unreplayed() const {
  std::vector<std::string> labels;
  for (size_t i = 0; i < state_->hives.size(); ++i) {
    const regf::ReplayResult& r = state_->hives[i].replay;
    if (r.dirty && !r.complete) labels.push_back(state_->files[i].label);
  }
  return labels;
}

bool Hives::Changed(size_t hive) const {
  size_t changes = 0;
  std::string why;
  for (const auto& b : state_->bindings) {
    reg::Key* key = b.hive == hive ? state_->EmulatedKey(b) : nullptr;
    if (key) Sync(state_->hives[hive].tree, b.key, key, b.skip, nullptr, &changes, &why);
  }
  return changes > 0;
}

namespace {

// The hive with the emulated registry's changes, sealed clean and read
// back; false with the reason.
bool BuildHive(const LoadedHive& h, const std::vector<Binding>& bindings, size_t index,
               const std::function<reg::Key*(const Binding&)>& emulated, std::string* out, std::string* why) {
  regf::Image image = h.image;
  regf::Tree tree = h.tree;
  regf::Editor editor(image, tree);
  size_t changes = 0;
  for (const auto& b : bindings) {
    reg::Key* key = b.hive == index ? emulated(b) : nullptr;
    if (key && !Sync(tree, b.key, key, b.skip, &editor, &changes, why)) return false;
  }
  uint64_t now = (uint64_t(time(nullptr)) + 11644473600ull) * 10000000ull;
  editor.Seal(h.replay.lastSequence + 1, now);
  regf::Image check;
  regf::Tree checkTree;
  if (!check.Open(image.bytes(), why) || !regf::ReadTree(check, &checkTree, why)) {
    *why = "the changed hive would not read back: " + *why;
    return false;
  }
  *out = FromBytes(image.bytes());
  return true;
}

// A log reset as Windows leaves it after a flush: its first sector the
// hive's new base block (the log's own kind), the rest zeroed, the same
// length; an empty log stays empty.
std::string ResetLog(const std::string& hive, const std::string& log, const std::string& suffix) {
  if (log.size() < 512) return log;
  regf::BaseInfo b;
  const uint8_t* p = reinterpret_cast<const uint8_t*>(log.data());
  uint32_t type = suffix == ".LOG" ? regf::OldLogFile : regf::NewLogFile;
  if (regf::ReadBase(p, log.size(), &b) && (b.type == regf::OldLogFile || b.type == regf::NewLogFile)) type = b.type;
  std::string out = FromBytes(regf::LogBaseSector(ToBytes(hive.substr(0, 512)), type));
  out.resize(log.size(), '\0');
  return out;
}

}  // namespace

bool Hives::Commit(std::vector<CommittedHive>* committed, std::string* error) {
  State& s = *state_;
  // Every changed hive is tried: one that cannot be written does not keep
  // the others' removals from the disk. The errors are joined.
  std::vector<std::string> errors;
  for (size_t i = 0; i < s.files.size(); ++i) {
    if (!Changed(i)) continue;
    const HiveFile& f = s.files[i];
    const LoadedHive& h = s.hives[i];
    if (s.readOnly) {
      *error = "the hive " + f.label + " was opened read-only";
      return false;
    }
    if (h.replay.dirty && !h.replay.complete) {
      errors.push_back("the hive " + f.label + " is dirty and " + h.replay.why + " (left as it was)");
      continue;
    }
    std::string original;
    if (!ReadHive(f, &original)) {
      errors.push_back("cannot read the hive " + f.label + " (left as it was): " +
                       (errno == EMLINK ? "it has other hard links" : std::strerror(errno)));
      continue;
    }
    // Two names of one file (two profiles sharing a hive, or a hive linked
    // from outside the volume) would both change: such a hive is left.
    if (LinkCount(f) > 1) {
      errors.push_back("cannot write the hive " + f.label + " (left as it was): it has other hard links");
      continue;
    }
    // The original and its logs are kept in the quarantine's journal
    // before anything is written.
    std::string backup, problem;
    size_t entry = quarantine::KeepHive(f, original, &backup, &problem);
    if (!entry) {
      errors.push_back(problem);
      continue;
    }
    CommittedHive done{f.label, f.host, backup, {}};
    std::vector<size_t> logEntries;
    bool kept = true;
    for (size_t l = 0; l < h.logs.size() && kept; ++l) {
      HiveFile log{h.logs[l].host, f.label + h.logs[l].suffix, f.profile, f.root};
      std::string copy;
      size_t n = quarantine::KeepHive(log, h.logBytes[l], &copy, &problem);
      kept = n != 0;
      if (!kept) errors.push_back(problem);
      logEntries.push_back(n);
      done.logs.push_back(CommittedLog{log.label, log.host, copy});
    }
    if (!kept) continue;
    std::string written, why;
    bool ok = !Injected("hive build", f) &&
              BuildHive(h, s.bindings, i, [&](const Binding& b) { return s.EmulatedKey(b); }, &written, &why);
    int code = errno;
    if (!ok) {
      errors.push_back("cannot write the hive " + f.label + " (left as it was): " +
                       (why.empty() ? std::strerror(code) : why));
      continue;
    }
    if (!quarantine::HiveWriteStarts(entry)) {
      errors.push_back("cannot write the hive " + f.label + " (left as it was): " + std::strerror(errno));
      continue;
    }
    if (!WriteHive(f, written)) {
      code = errno;
      if (!WriteHive(f, original)) {
        // The journal still says the write started: --restore or the next
        // run with this quarantine puts the original back.
        errors.push_back("cannot write the hive " + f.label + ": " + std::strerror(code) +
                         "; nor put its original back, which is kept as " + backup);
        continue;
      }
      quarantine::HiveWriteEnded(entry, false);
      errors.push_back("cannot write the hive " + f.label + " (left as it was): " +
                       (code == EMLINK ? "it has other hard links" : std::strerror(code)));
      continue;
    }
    quarantine::HiveWriteEnded(entry, true);
    // The hive is clean now, so Windows ignores its logs; they are reset
    // too so that nothing in them can be replayed over it. Each reset is
    // journalled like the hive's write, so a stopped one is rolled back.
    for (size_t l = 0; l < h.logs.size(); ++l) {
      std::string reset = ResetLog(written, h.logBytes[l], h.logs[l].suffix);
      if (reset == h.logBytes[l]) continue;
      HiveFile log{h.logs[l].host, f.label + h.logs[l].suffix, f.profile, f.root};
      bool started = !Injected("hive log reset", f) && quarantine::HiveWriteStarts(logEntries[l]);
      bool reset_ = started && WriteFileOver(log, reset);
      if (!reset_) {
        std::fprintf(stderr, "registry: %s%s could not be reset (%s); the hive is clean, so Windows ignores it\n",
                     f.label.c_str(), h.logs[l].suffix.c_str(), std::strerror(errno));
      }
      // A reset that started and failed stays "started" in the journal:
      // --restore or the next run puts the log back as it was.
      if (reset_ || !started) quarantine::HiveWriteEnded(logEntries[l], reset_);
    }
    committed->push_back(done);
  }
  error->clear();
  for (const auto& e : errors) *error += (error->empty() ? "" : "; ") + e;
  return errors.empty();
}
