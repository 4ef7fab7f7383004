// The emulated registry's key tree and the control API over it.
#include <strings.h>

#include <algorithm>
#include <cctype>
#include <map>

#include "platform/emu/machine.h"
#include "platform/emu/registry_tree.h"
#include "platform/emu/text_codec.h"

namespace emu {
namespace reg {
namespace {

std::vector<void (*)()>& Installers() {
  static std::vector<void (*)()> installers;
  return installers;
}

std::vector<Root> MakeRoots() {
  std::vector<Root> roots = {
      {HKEY_CLASSES_ROOT, "HKCR", "HKEY_CLASSES_ROOT", nullptr},
      {HKEY_CURRENT_USER, "HKCU", "HKEY_CURRENT_USER", nullptr},
      {HKEY_LOCAL_MACHINE, "HKLM", "HKEY_LOCAL_MACHINE", nullptr},
      {HKEY_USERS, "HKU", "HKEY_USERS", nullptr},
      {HKEY_CURRENT_CONFIG, "HKCC", "HKEY_CURRENT_CONFIG", nullptr},
  };
  for (auto& r : roots) {
    r.key = std::make_shared<Key>();
    r.key->name = WidenAnsi(r.fullName);
    r.key->listed = true;
  }
  return roots;
}

// Access settings by lower-case key path with the root's short name.
std::map<std::string, KeyAccess> accessSettings;

std::string Lower(std::string s) {
  for (auto& c : s) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
  return s;
}

void ResetTree() {
  Roots() = MakeRoots();
  accessSettings.clear();
  for (auto install : Installers()) install();
}
ResetHook treeHook(ResetTree);

template <typename S>
std::vector<S> Split(const S& path) {
  std::vector<S> parts;
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find(typename S::value_type('\\'), start);
    if (end == S::npos) end = path.size();
    if (end > start) parts.push_back(path.substr(start, end - start));
    start = end + 1;
  }
  return parts;
}

std::vector<std::shared_ptr<Key>>::iterator LowerBound(Key* key, const Name& name) {
  return std::lower_bound(key->subkeys.begin(), key->subkeys.end(), name,
                          [](const std::shared_ptr<Key>& k, const Name& n) {
                            return CompareNames(k->name, n) < 0;
                          });
}

std::vector<Value>::iterator ValueAt(Key* key, const Name& name) {
  return std::find_if(key->values.begin(), key->values.end(),
                      [&](const Value& v) { return CompareNames(v.name, name) == 0; });
}

}  // namespace

bool IsStringType(DWORD type) {
  return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
}

std::string Value::AnsiData() const {
  return IsStringType(type) ? NarrowToAnsi(UnitsOfUtf16(stored)) : stored;
}

std::string StoredFromAnsi(DWORD type, const std::string& ansiData) {
  return IsStringType(type) ? Utf16Bytes(WidenAnsi(ansiData)) : ansiData;
}

Key::~Key() {
  // Subtrees no one else holds are taken apart level by level here, so
  // that no destructor runs with subkeys of its own.
  std::vector<std::shared_ptr<Key>> pending = std::move(subkeys);
  while (!pending.empty()) {
    std::shared_ptr<Key> k = std::move(pending.back());
    pending.pop_back();
    if (k.use_count() == 1) {
      for (auto& s : k->subkeys) pending.push_back(std::move(s));
      k->subkeys.clear();
    } else {
      Detach(k.get());  // an open handle holds it: it outlives this tree
    }
  }
}

ProvidedContent::ProvidedContent(void (*install)()) { Installers().push_back(install); }

int CompareNames(const Name& a, const Name& b) { return CompareFolded(a, b); }

std::vector<Root>& Roots() {
  static std::vector<Root> roots = MakeRoots();
  return roots;
}

Root* RootByHandle(HKEY handle) {
  for (auto& r : Roots()) {
    if (r.handle == handle) return &r;
  }
  return nullptr;
}

Root* RootByName(const std::string& path, std::string* rest) {
  size_t slash = path.find('\\');
  std::string head = path.substr(0, slash);
  for (auto& r : Roots()) {
    if (strcasecmp(head.c_str(), r.shortName) == 0 || strcasecmp(head.c_str(), r.fullName) == 0) {
      *rest = slash == std::string::npos ? "" : path.substr(slash + 1);
      return &r;
    }
  }
  return nullptr;
}

Root* RootByName(const Name& path, Name* rest) {
  size_t slash = path.find(u'\\');
  Name head = path.substr(0, slash);
  for (auto& r : Roots()) {
    if (CompareNames(head, WidenAnsi(r.shortName)) == 0 ||
        CompareNames(head, WidenAnsi(r.fullName)) == 0) {
      *rest = slash == Name::npos ? Name() : path.substr(slash + 1);
      return &r;
    }
  }
  return nullptr;
}

Key* Child(Key* key, const Name& name) {
  auto at = LowerBound(key, name);
  return at != key->subkeys.end() && CompareNames((*at)->name, name) == 0 ? at->get() : nullptr;
}

Key* Find(Key* base, const Name& subPath) {
  Key* key = base;
  for (const auto& part : Split(subPath)) {
    key = Child(key, part);
    if (!key) return nullptr;
  }
  return key;
}

Key* Find(Key* base, const std::string& ansiSubPath) { return Find(base, WidenAnsi(ansiSubPath)); }

Key* Create(Key* base, const Name& subPath, bool listed, bool byMachine) {
  Key* key = base;
  for (const auto& part : Split(subPath)) {
    auto at = LowerBound(key, part);
    if (at != key->subkeys.end() && CompareNames((*at)->name, part) == 0) {
      key = at->get();
      if (!key->spelled && !byMachine) {
        key->name = part;
        key->spelled = true;
      }
      continue;
    }
    auto made = std::make_shared<Key>();
    made->name = part;
    made->parent = key;
    made->spelled = !byMachine;
    Key* next = made.get();
    key->subkeys.insert(at, std::move(made));
    key = next;
  }
  if (listed) key->listed = true;
  return key;
}

Key* Create(Key* base, const std::string& ansiSubPath, bool listed, bool byMachine) {
  return Create(base, WidenAnsi(ansiSubPath), listed, byMachine);
}

void Detach(Key* top) {
  std::vector<Key*> pending = {top};
  while (!pending.empty()) {
    Key* k = pending.back();
    pending.pop_back();
    k->deleted = true;
    k->parent = nullptr;
    for (auto& s : k->subkeys) pending.push_back(s.get());
  }
}

void Remove(Key* key) {
  Key* parent = key->parent;
  Detach(key);
  if (!parent) return;
  auto& subs = parent->subkeys;
  subs.erase(std::remove_if(subs.begin(), subs.end(),
                            [key](const std::shared_ptr<Key>& k) { return k.get() == key; }),
             subs.end());
}

Value* FindValue(Key* key, const Name& name) {
  auto it = ValueAt(key, name);
  return it == key->values.end() ? nullptr : &*it;
}

Value* FindValue(Key* key, const std::string& ansiName) {
  return FindValue(key, WidenAnsi(ansiName));
}

void SetStoredValue(Key* key, const Name& name, DWORD type, const std::string& stored,
                    bool provided) {
  if (Value* v = FindValue(key, name)) {
    v->type = type;
    v->stored = stored;
    v->provided = provided;
    return;
  }
  key->values.push_back(Value{name, type, stored, provided});
}

void SetValue(Key* key, const std::string& ansiName, DWORD type, const std::string& ansiData,
              bool provided) {
  SetStoredValue(key, WidenAnsi(ansiName), type, StoredFromAnsi(type, ansiData), provided);
}

bool RemoveValue(Key* key, const Name& name) {
  auto it = ValueAt(key, name);
  if (it == key->values.end()) return false;
  key->values.erase(it);
  return true;
}

Name StoredPathOf(const Key* key, bool fullRootName) {
  std::vector<const Key*> chain;
  for (const Key* k = key; k; k = k->parent) chain.push_back(k);
  const Key* top = chain.back();
  Name path = top->name;
  if (!fullRootName) {
    for (auto& r : Roots()) {
      if (r.key.get() == top) path = WidenAnsi(r.shortName);
    }
  }
  for (auto it = chain.rbegin() + 1; it != chain.rend(); ++it) {
    path += u'\\';
    path += (*it)->name;
  }
  return path;
}

std::string PathOf(const Key* key, bool fullRootName) {
  return NarrowToAnsi(StoredPathOf(key, fullRootName));
}

KeyAccess AccessOf(const Key* key) {
  if (accessSettings.empty()) return KeyAccess::Full;
  for (const Key* k = key; k; k = k->parent) {
    auto it = accessSettings.find(Lower(PathOf(k)));
    if (it != accessSettings.end()) return it->second;
  }
  return KeyAccess::Full;
}

void SetAccess(const std::string& keyPath, KeyAccess access) {
  std::string rest;
  Root* root = RootByName(keyPath, &rest);
  if (!root) return;
  std::string path = root->shortName;
  for (const auto& part : Split(rest)) path += "\\" + part;
  accessSettings[Lower(path)] = access;
}

}  // namespace reg

// ---- control API ----

namespace {

reg::Key* KeyAt(const std::string& keyPath, bool create) {
  std::string rest;
  reg::Root* root = reg::RootByName(keyPath, &rest);
  if (!root) return nullptr;
  return create ? reg::Create(root->key.get(), rest, true) : reg::Find(root->key.get(), rest);
}

}  // namespace

void CreateRegistryKey(const std::string& keyPath) { KeyAt(keyPath, true); }

void SetRegistryValue(const std::string& keyPath, const std::string& name, DWORD type,
                      const std::string& data) {
  if (reg::Key* key = KeyAt(keyPath, true)) reg::SetValue(key, name, type, data);
}

void SetRegistryString(const std::string& keyPath, const std::string& name,
                       const std::string& text, DWORD type) {
  SetRegistryValue(keyPath, name, type, text + std::string(1, '\0'));
}

bool RegistryKeyExists(const std::string& keyPath) { return KeyAt(keyPath, false) != nullptr; }

bool RegistryValueExists(const std::string& keyPath, const std::string& name) {
  reg::Key* key = KeyAt(keyPath, false);
  return key && reg::FindValue(key, name);
}

bool GetRegistryValue(const std::string& keyPath, const std::string& name, DWORD* type,
                      std::string* data) {
  reg::Key* key = KeyAt(keyPath, false);
  reg::Value* v = key ? reg::FindValue(key, name) : nullptr;
  if (!v) return false;
  if (type) *type = v->type;
  if (data) *data = v->AnsiData();
  return true;
}

std::vector<std::string> RegistryValueNames(const std::string& keyPath) {
  std::vector<std::string> names;
  if (reg::Key* key = KeyAt(keyPath, false)) {
    for (const auto& v : key->values) names.push_back(NarrowToAnsi(v.name));
  }
  return names;
}

void DeleteRegistryTree(const std::string& keyPath) {
  reg::Key* key = KeyAt(keyPath, false);
  if (key && key->parent) reg::Remove(key);
}

void SetKeyAccess(const std::string& keyPath, KeyAccess access) { reg::SetAccess(keyPath, access); }

}  // namespace emu
