// The emulated registry's key tree and the control API over it.
#include <strings.h>

#include <algorithm>
#include <cctype>
#include <map>

#include "platform/emu/machine.h"
#include "platform/emu/registry_tree.h"

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
    r.key->name = r.fullName;
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

std::vector<std::string> Split(const std::string& path) {
  std::vector<std::string> parts;
  std::string part;
  for (char c : path) {
    if (c == '\\') {
      if (!part.empty()) parts.push_back(part);
      part.clear();
    } else {
      part += c;
    }
  }
  if (!part.empty()) parts.push_back(part);
  return parts;
}

Key* Child(Key* key, const std::string& name) {
  for (auto& k : key->subkeys) {
    if (strcasecmp(k->name.c_str(), name.c_str()) == 0) return k.get();
  }
  return nullptr;
}

void MarkDeleted(Key* key) {
  key->deleted = true;
  for (auto& k : key->subkeys) MarkDeleted(k.get());
}

}  // namespace

ProvidedContent::ProvidedContent(void (*install)()) { Installers().push_back(install); }

int CompareNames(const std::string& a, const std::string& b) {
  return strcasecmp(a.c_str(), b.c_str());
}

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

Key* Find(Key* base, const std::string& subPath) {
  Key* key = base;
  for (const auto& part : Split(subPath)) {
    key = Child(key, part);
    if (!key) return nullptr;
  }
  return key;
}

Key* Create(Key* base, const std::string& subPath, bool listed) {
  Key* key = base;
  for (const auto& part : Split(subPath)) {
    Key* next = Child(key, part);
    if (!next) {
      auto made = std::make_shared<Key>();
      made->name = part;
      made->parent = key;
      auto at = std::lower_bound(key->subkeys.begin(), key->subkeys.end(), part,
                                 [](const std::shared_ptr<Key>& k, const std::string& n) {
                                   return CompareNames(k->name, n) < 0;
                                 });
      next = made.get();
      key->subkeys.insert(at, std::move(made));
    }
    key = next;
  }
  if (listed) key->listed = true;
  return key;
}

void Remove(Key* key) {
  Key* parent = key->parent;
  MarkDeleted(key);
  if (!parent) return;
  auto& subs = parent->subkeys;
  subs.erase(std::remove_if(subs.begin(), subs.end(),
                            [key](const std::shared_ptr<Key>& k) { return k.get() == key; }),
             subs.end());
}

Value* FindValue(Key* key, const std::string& name) {
  for (auto& v : key->values) {
    if (CompareNames(v.name, name) == 0) return &v;
  }
  return nullptr;
}

void SetValue(Key* key, const std::string& name, DWORD type, const std::string& data,
              bool provided) {
  if (Value* v = FindValue(key, name)) {
    v->type = type;
    v->data = data;
    v->provided = provided;
    return;
  }
  key->values.push_back(Value{name, type, data, provided});
}

bool RemoveValue(Key* key, const std::string& name) {
  auto& vs = key->values;
  auto it = std::find_if(vs.begin(), vs.end(),
                         [&](const Value& v) { return CompareNames(v.name, name) == 0; });
  if (it == vs.end()) return false;
  vs.erase(it);
  return true;
}

std::string PathOf(const Key* key, bool fullRootName) {
  std::vector<const Key*> chain;
  for (const Key* k = key; k; k = k->parent) chain.push_back(k);
  const Key* top = chain.back();
  std::string path = top->name;
  if (!fullRootName) {
    for (auto& r : Roots()) {
      if (r.key.get() == top) path = r.shortName;
    }
  }
  for (auto it = chain.rbegin() + 1; it != chain.rend(); ++it) path += "\\" + (*it)->name;
  return path;
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
  if (data) *data = v->data;
  return true;
}

std::vector<std::string> RegistryValueNames(const std::string& keyPath) {
  std::vector<std::string> names;
  if (reg::Key* key = KeyAt(keyPath, false)) {
    for (const auto& v : key->values) names.push_back(v.name);
  }
  return names;
}

void DeleteRegistryTree(const std::string& keyPath) {
  reg::Key* key = KeyAt(keyPath, false);
  if (key && key->parent) reg::Remove(key);
}

void SetKeyAccess(const std::string& keyPath, KeyAccess access) { reg::SetAccess(keyPath, access); }

}  // namespace emu
