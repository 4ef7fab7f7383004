// Hive files through hivex to and from the emulated registry. Loading and
// writing back walk the trees with explicit stacks (hives written by an
// attacker may nest deeply). Writing back compares each key of the hive
// with its twin in the emulated registry: a key gone there is deleted, a
// key new there is added, and a key whose values differ gets its value
// list set anew, values the scan left alone keeping their original bytes.
#include "tools/sorvane-offline/hives.h"

#include <fcntl.h>
#include <hivex.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <set>

#include "platform/emu/machine.h"
#include "platform/emu/registry_tree.h"
#include "platform/emu/text_codec.h"
#include "tools/sorvane-offline/confined_path.h"
#include "tools/sorvane-offline/quarantine.h"

namespace reg = emu::reg;

namespace {

// A hive's UTF-8 name as the emulated registry stores it (UTF-16 units).
reg::Name NameOf(const std::string& utf8) {
  reg::Name name;
  return emu::DecodeUtf8(utf8, &name) ? name : emu::WidenAnsi(utf8);
}

bool IsSkipped(const reg::Name& name, const std::string& skip) {
  return !skip.empty() && reg::CompareNames(name, emu::WidenAnsi(skip)) == 0;
}

std::string Text(char* owned) {
  std::string text = owned ? owned : "";
  free(owned);
  return text;
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

struct OriginalValue {
  std::string utf8Name;
  reg::Name name;    // as the emulated registry stores it
  hive_type type;
  std::string raw;   // the hive's bytes, stored as they are
};

std::vector<OriginalValue> ValuesOf(hive_h* h, hive_node_h node) {
  std::vector<OriginalValue> values;
  hive_value_h* list = hivex_node_values(h, node);
  for (size_t i = 0; list && list[i]; ++i) {
    OriginalValue v;
    v.utf8Name = Text(hivex_value_key(h, list[i]));
    v.name = NameOf(v.utf8Name);
    size_t length = 0;
    char* raw = hivex_value_value(h, list[i], &v.type, &length);
    if (!raw) continue;
    v.raw.assign(raw, length);
    free(raw);
    values.push_back(std::move(v));
  }
  free(list);
  return values;
}

std::vector<const reg::Value*> SavedValues(const reg::Key* key) {
  std::vector<const reg::Value*> values;
  for (const auto& v : key->values) {
    if (!v.provided) values.push_back(&v);
  }
  return values;
}

bool SameValues(const std::vector<OriginalValue>& before, const std::vector<const reg::Value*>& now) {
  if (before.size() != now.size()) return false;
  for (size_t i = 0; i < now.size(); ++i) {
    if (reg::CompareNames(before[i].name, now[i]->name) != 0 || before[i].type != now[i]->type ||
        before[i].raw != now[i]->stored) {
      return false;
    }
  }
  return true;
}

// The new value list of a key: unchanged values keep their original bytes.
bool SetValues(hive_h* h, hive_node_h node, const std::vector<OriginalValue>& before,
               const std::vector<const reg::Value*>& now) {
  std::vector<std::string> names, data;
  names.reserve(now.size());
  data.reserve(now.size());
  std::vector<hive_type> types;
  for (const reg::Value* v : now) {
    const OriginalValue* same = nullptr;
    for (const auto& o : before) {
      if (reg::CompareNames(o.name, v->name) == 0 && o.type == v->type && o.raw == v->stored) same = &o;
    }
    names.push_back(same ? same->utf8Name : emu::EncodeUtf8(v->name));
    data.push_back(v->stored);
    types.push_back(static_cast<hive_type>(v->type));
  }
  std::vector<hive_set_value> list(now.size());
  for (size_t i = 0; i < now.size(); ++i) {
    list[i].key = names[i].data();
    list[i].t = types[i];
    list[i].len = data[i].size();
    list[i].value = data[i].data();
  }
  return hivex_node_set_values(h, node, list.size(), list.data(), 0) == 0;
}

// Compares (and with `apply` writes) the hive below `top` against the
// emulated key; `skip` names a child of `top` bound elsewhere (in the hive
// and in the emulated registry: the current control set and its alias).
bool Sync(hive_h* h, hive_node_h top, reg::Key* key, const std::string& skip, bool apply,
          bool* changed) {
  std::vector<std::pair<hive_node_h, reg::Key*>> stack{{top, key}};
  while (!stack.empty()) {
    auto [node, k] = stack.back();
    stack.pop_back();
    std::vector<OriginalValue> before = ValuesOf(h, node);
    std::vector<const reg::Value*> now = SavedValues(k);
    if (!SameValues(before, now)) {
      *changed = true;
      if (apply && !SetValues(h, node, before, now)) return false;
    }
    std::set<reg::Key*> matched;
    hive_node_h* children = hivex_node_children(h, node);
    for (size_t i = 0; children && children[i]; ++i) {
      reg::Name name = NameOf(Text(hivex_node_name(h, children[i])));
      if (node == top && IsSkipped(name, skip)) continue;
      reg::Key* twin = reg::Child(k, name);
      if (twin) {
        matched.insert(twin);
        stack.push_back({children[i], twin});
      } else {
        *changed = true;
        if (apply && hivex_node_delete_child(h, children[i]) != 0) {
          free(children);
          return false;
        }
      }
    }
    free(children);
    for (auto& sub : k->subkeys) {
      if (matched.count(sub.get()) || !HasContent(sub.get())) continue;
      if (node == top && !skip.empty() &&
          (IsSkipped(sub->name, skip) || IsSkipped(sub->name, "CurrentControlSet"))) {
        continue;
      }
      *changed = true;
      if (!apply) continue;
      hive_node_h added = hivex_node_add_child(h, node, emu::EncodeUtf8(sub->name).c_str());
      if (!added) return false;
      stack.push_back({added, sub.get()});
    }
  }
  return true;
}

void LoadTree(hive_h* h, hive_node_h top, reg::Key* key, const std::string& skip) {
  std::vector<std::pair<hive_node_h, reg::Key*>> stack{{top, key}};
  while (!stack.empty()) {
    auto [node, k] = stack.back();
    stack.pop_back();
    for (auto& v : ValuesOf(h, node)) reg::SetStoredValue(k, v.name, v.type, v.raw);
    hive_node_h* children = hivex_node_children(h, node);
    for (size_t i = 0; children && children[i]; ++i) {
      reg::Name name = NameOf(Text(hivex_node_name(h, children[i])));
      if (node == top && IsSkipped(name, skip)) continue;
      if (name.empty() || name.find(u'\\') != reg::Name::npos) continue;
      stack.push_back({children[i], reg::Create(k, name, true)});
    }
    free(children);
  }
}

// A hive's file below its volume's root: read, and written over in place
// (same inode: its attributes and security stay), component by component
// without following a link, never when it has other hard links.
std::string RelativePath(const HiveFile& f) {
  return f.host.compare(0, f.root.size() + 1, f.root + "/") == 0 ? f.host.substr(f.root.size() + 1) : "";
}

bool ReadHive(const HiveFile& f, std::string* bytes) {
  confined::Root root;
  return root.Open(f.root) && root.Read(RelativePath(f), bytes);
}

// Test faults, through the emulated machine's table keyed by the hive's
// label: "hivex_commit" fails the writing of the new hive, "hive overwrite"
// stops a write over the hive half way, as a full disk would.
bool Injected(const char* op, const HiveFile& f) {
  DWORD error;
  if (!emu::ShouldFail(op, f.label.c_str(), &error)) return false;
  errno = ENOSPC;
  return true;
}

// The one function that writes a hive's file, or fails as injected.
bool WriteOver(const HiveFile& f, const std::string& bytes) {
  confined::Root root;
  if (!root.Open(f.root)) return false;
  if (!Injected("hive overwrite", f)) return root.Write(RelativePath(f), bytes);
  root.Write(RelativePath(f), bytes.substr(0, bytes.size() / 2));
  errno = ENOSPC;
  return false;
}

bool CreateScratch(const std::string& path) {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  close(fd);
  return true;
}

}  // namespace

struct Binding {
  size_t hive;
  hive_node_h node;
  std::string emuPath;                  // key below HKLM, or empty for a profile
  std::shared_ptr<reg::Key> profileKey; // a profile's tree
  std::string skip;                     // child of `node` bound elsewhere
};

struct Hives::State {
  std::vector<HiveFile> files;  // SOFTWARE, SYSTEM, then the profiles
  std::vector<hive_h*> handles;
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

Hives::~Hives() {
  for (hive_h* h : state_->handles) {
    if (h) hivex_close(h);
  }
}

bool Hives::Load(const HiveFile& software, const HiveFile& system,
                 const std::vector<HiveFile>& profiles, bool readOnly, std::string* error) {
  for (hive_h* h : state_->handles) hivex_close(h);
  state_.reset(new State);
  State& s = *state_;
  s.readOnly = readOnly;
  s.files = {software, system};
  s.files.insert(s.files.end(), profiles.begin(), profiles.end());
  for (const auto& f : s.files) {
    hive_h* h = hivex_open(f.host.c_str(), readOnly ? 0 : HIVEX_OPEN_WRITE);
    if (!h) {
      *error = "cannot open the hive " + f.label + ": " + std::strerror(errno);
      return false;
    }
    s.handles.push_back(h);
  }
  reg::Key* machine = reg::RootByHandle(HKEY_LOCAL_MACHINE)->key.get();

  hive_h* sw = s.handles[0];
  s.bindings.push_back(Binding{0, hivex_root(sw), "SOFTWARE", nullptr, ""});
  LoadTree(sw, hivex_root(sw), reg::Create(machine, "SOFTWARE", true), "");

  // SYSTEM: the control set Select\Current names is CurrentControlSet.
  hive_h* sy = s.handles[1];
  hive_node_h root = hivex_root(sy);
  std::string controlSet;
  if (hive_node_h select = hivex_node_get_child(sy, root, "Select")) {
    if (hive_value_h current = hivex_node_get_value(sy, select, "Current")) {
      int32_t number = hivex_value_dword(sy, current);
      char name[32];
      std::snprintf(name, sizeof name, "ControlSet%03d", number);
      if (hivex_node_get_child(sy, root, name)) controlSet = name;
    }
  }
  if (controlSet.empty()) {
    *error = "the hive " + system.label + " names no current control set (Select\\Current)";
    return false;
  }
  hive_node_h currentSet = hivex_node_get_child(sy, root, controlSet.c_str());
  reg::Key* systemKey = reg::Create(machine, "SYSTEM", true);
  s.bindings.push_back(Binding{1, root, "SYSTEM", nullptr, controlSet});
  LoadTree(sy, root, systemKey, controlSet);
  s.bindings.push_back(Binding{1, currentSet, "SYSTEM\\CurrentControlSet", nullptr, ""});
  LoadTree(sy, currentSet, reg::Create(systemKey, "CurrentControlSet", true), "");

  for (size_t i = 0; i < profiles.size(); ++i) {
    auto tree = std::make_shared<reg::Key>();
    tree->name = u"HKEY_CURRENT_USER";
    tree->listed = true;
    hive_h* h = s.handles[2 + i];
    LoadTree(h, hivex_root(h), tree.get(), "");
    s.profiles.push_back(tree);
    s.bindings.push_back(Binding{2 + i, hivex_root(h), "", tree, ""});
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

bool Hives::Changed(size_t hive) const {
  bool changed = false;
  for (const auto& b : state_->bindings) {
    reg::Key* key = b.hive == hive ? state_->EmulatedKey(b) : nullptr;
    if (key) Sync(state_->handles[hive], b.node, key, b.skip, false, &changed);
  }
  return changed;
}

bool Hives::Commit(std::vector<CommittedHive>* committed, std::string* error) {
  State& s = *state_;
  // Every changed hive is tried: one that cannot be written does not keep
  // the others' removals from the disk. The errors are joined.
  std::vector<std::string> errors;
  for (size_t i = 0; i < s.files.size(); ++i) {
    if (!Changed(i)) continue;
    const HiveFile& f = s.files[i];
    if (s.readOnly) {
      *error = "the hive " + f.label + " was opened read-only";
      return false;
    }
    std::string original;
    if (!ReadHive(f, &original)) {
      errors.push_back("cannot read the hive " + f.label + " (left as it was): " +
                       (errno == EMLINK ? "it has other hard links" : std::strerror(errno)));
      continue;
    }
    // Two names of one file (two profiles sharing a hive, or a hive linked
    // from outside the volume) would both change: such a hive is left.
    {
      confined::Root root;
      if (root.Open(f.root) && root.LinkCount(RelativePath(f)) > 1) {
        errors.push_back("cannot write the hive " + f.label + " (left as it was): it has other hard links");
        continue;
      }
    }
    std::string backup, problem;
    size_t entry = quarantine::KeepHive(f, original, &backup, &problem);
    if (!entry) {
      errors.push_back(problem);
      continue;
    }
    bool changed = false;
    std::string fresh = backup + ".new";
    bool ok = true;
    for (const auto& b : s.bindings) {
      reg::Key* key = b.hive == i ? s.EmulatedKey(b) : nullptr;
      if (key && !Sync(s.handles[i], b.node, key, b.skip, true, &changed)) ok = false;
    }
    std::string written;
    confined::Root scratch;
    ok = ok && !Injected("hivex_commit", f) && CreateScratch(fresh) && hivex_commit(s.handles[i], fresh.c_str(), 0) == 0;
    int why = errno;  // taken before unlink, whose own failure would replace it
    if (ok) {
      std::string folder = fresh.substr(0, fresh.rfind('/'));
      ok = scratch.Open(folder) && scratch.Read(fresh.substr(folder.size() + 1), &written);
      if (!ok) why = errno;
    }
    unlink(fresh.c_str());
    if (ok && !quarantine::HiveWriteStarts(entry)) {
      ok = false;
      why = errno;
    }
    if (ok && !WriteOver(f, written)) {
      ok = false;
      why = errno;
      if (!WriteOver(f, original)) {
        // The journal still says the write started: --restore or the next
        // run with this quarantine puts the original back.
        errors.push_back("cannot write the hive " + f.label + ": " + std::strerror(why) +
                         "; nor put its original back, which is kept as " + backup);
        continue;
      }
      quarantine::HiveWriteEnded(entry, false);
    } else if (ok) {
      quarantine::HiveWriteEnded(entry, true);
    }
    if (!ok) {
      // Nothing of the hive's file was changed, or its original is back.
      errors.push_back("cannot write the hive " + f.label + " (left as it was): " +
                       (why == EMLINK ? "it has other hard links" : std::strerror(why)));
      continue;
    }
    committed->push_back(CommittedHive{f.label, f.host, backup});
  }
  error->clear();
  for (const auto& e : errors) *error += (error->empty() ? "" : "; ") + e;
  return errors.empty();
}
